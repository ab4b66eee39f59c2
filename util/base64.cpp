#include "util/base64.h"

#include <cstring>

#include <openssl/evp.h>

namespace {

// OpenSSL counts in int: long inputs go through in slices of whole groups.
const size_t kEncodeSlice = 3 * (1u << 20);
const size_t kDecodeSlice = 4 * (1u << 20);

bool InAlphabet(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

std::string Base64Encode(const void* data, size_t length)
{
    std::string out;
    Base64Append(out, data, length);
    return out;
}

void Base64Append(std::string& out, const void* data, size_t length)
{
    if (length == 0 || data == nullptr)
        return;
    // EVP_EncodeBlock writes a NUL after the text: room for it, then cut.
    const size_t start = out.size();
    out.resize(start + (length + 2) / 3 * 4 + 1);
    const unsigned char* in = static_cast<const unsigned char*>(data);
    unsigned char* dst = reinterpret_cast<unsigned char*>(&out[start]);
    size_t written = 0;
    for (size_t done = 0; done < length;) {
        const size_t n = length - done < kEncodeSlice ? length - done : kEncodeSlice;
        written += static_cast<size_t>(EVP_EncodeBlock(dst + written, in + done, static_cast<int>(n)));
        done += n;
    }
    out.resize(start + written);
}

bool Base64Decode(const std::string& text, std::string& out)
{
    // Padding only at the very end, at most two, and only to fill the last group.
    size_t body = text.size();
    while (body > 0 && text[body - 1] == '=' && text.size() - body < 2)
        --body;
    const size_t padding = text.size() - body;
    for (size_t i = 0; i < body; ++i) {
        if (!InAlphabet(static_cast<unsigned char>(text[i])))
            return false;
    }
    if (body % 4 == 1 || (padding > 0 && (body + padding) % 4 != 0))
        return false;

    // A cut last group is padded, so OpenSSL only ever sees whole groups.
    std::string groups = text.substr(0, body);
    const size_t tail = body % 4;
    if (tail != 0)
        groups.append(4 - tail, '=');
    const size_t missing = tail == 0 ? padding : 4 - tail;

    std::string decoded(groups.size() / 4 * 3, '\0');
    unsigned char* dst = reinterpret_cast<unsigned char*>(&decoded[0]);
    const unsigned char* src = reinterpret_cast<const unsigned char*>(groups.data());
    size_t written = 0;
    for (size_t done = 0; done < groups.size();) {
        const size_t n = groups.size() - done < kDecodeSlice ? groups.size() - done : kDecodeSlice;
        const int got = EVP_DecodeBlock(dst + written, src + done, static_cast<int>(n));
        if (got < 0)
            return false;
        written += static_cast<size_t>(got);
        done += n;
    }
    // OpenSSL decodes the padding as zero bytes.
    decoded.resize(written - missing);
    out.swap(decoded);
    return true;
}
