#include "util/aes.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include <openssl/evp.h>

#include "util/cv_ioutils.h"

namespace {

struct CipherSize {
    int bits;
    const EVP_CIPHER* (*cipher)();
};

const CipherSize kCiphers[] = {
    {128, EVP_aes_128_ecb},
    {192, EVP_aes_192_ecb},
    {256, EVP_aes_256_ecb},
};

// Key-size codes of the buffer functions; every other code means 128 bits.
const struct {
    int code;
    int bits;
} kKeyCodes[] = {{1, 128}, {2, 192}, {4, 256}};

const EVP_CIPHER* CipherFor(int bits)
{
    for (const CipherSize& c : kCiphers)
        if (c.bits == bits)
            return c.cipher();
    return nullptr;
}

int BitsForCode(int code)
{
    for (const auto& k : kKeyCodes)
        if (k.code == code)
            return k.bits;
    return 128;
}

// The key text as "%s" would copy it into 32 zeroed bytes.
void KeyBytes(const unsigned char* text, unsigned char key[32])
{
    std::memset(key, 0, 32);
    for (int i = 0; i < 31 && text[i]; ++i)
        key[i] = text[i];
}

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

// One cipher context, no padding of its own: the callers pad.
CtxPtr MakeCtx(const EVP_CIPHER* cipher, const unsigned char* keyText, bool encrypt)
{
    unsigned char key[32];
    KeyBytes(keyText, key);
    CtxPtr ctx(EVP_CIPHER_CTX_new());
    if (ctx && (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, nullptr, encrypt ? 1 : 0) != 1 ||
                EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1))
        ctx.reset();
    OPENSSL_cleanse(key, sizeof key);
    return ctx;
}

// len is a multiple of 16; in may equal out.
bool Blocks(EVP_CIPHER_CTX* ctx, const unsigned char* in, int len, unsigned char* out)
{
    if (len == 0)
        return true;
    int done = 0;
    return EVP_CipherUpdate(ctx, out, &done, in, len) == 1 && done == len;
}

}  // namespace

int CV_AESHelper::AesEncrypt(const unsigned char* key, int bits, const unsigned char* in, int length,
                             unsigned char* out, int& outLength)
{
    if (!key || length < 0 || !out || (length > 0 && !in))
        return -1;
    if (static_cast<int64_t>(length) + 15 >= outLength)
        return -1;
    const EVP_CIPHER* cipher = CipherFor(bits);
    if (!cipher)
        return -1;
    CtxPtr ctx = MakeCtx(cipher, key, true);
    if (!ctx)
        return -1;

    const int whole = length & ~15;
    const int rest = length & 15;
    // Take the tail before the whole blocks overwrite it (in may be out).
    unsigned char tail[16] = {0};
    if (rest)
        std::memcpy(tail, in + whole, rest);

    if (!Blocks(ctx.get(), in, whole, out))
        return -1;
    if (rest && !Blocks(ctx.get(), tail, 16, out + whole))
        return -1;

    outLength = whole + (rest ? 16 : 0);
    return 0;
}

int CV_AESHelper::AesDecrypt(const unsigned char* key, int bits, const unsigned char* in, int length,
                             unsigned char* out, int& outLength)
{
    if (!key || length < 0 || (length & 15) || length > outLength)
        return -1;
    if (length > 0 && (!in || !out))
        return -1;
    const EVP_CIPHER* cipher = CipherFor(bits);
    if (!cipher)
        return -1;
    CtxPtr ctx = MakeCtx(cipher, key, false);
    if (!ctx)
        return -1;

    if (!Blocks(ctx.get(), in, length, out))
        return -1;
    outLength = length;
    return 0;
}

namespace {

// Unsigned sizes into the int interface: a length beyond int is refused,
// room beyond int is more than any int length needs.
int RunBuf(bool encrypt, const char* key, const unsigned char* in, unsigned length, unsigned char* out,
           unsigned* outLength, int keyCode)
{
    if (!outLength || length > static_cast<unsigned>(INT_MAX))
        return -1;
    int room = *outLength > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(*outLength);
    const unsigned char* k = reinterpret_cast<const unsigned char*>(key);
    const int bits = BitsForCode(keyCode);
    const int rc = encrypt ? CV_AESHelper::AesEncrypt(k, bits, in, static_cast<int>(length), out, room)
                           : CV_AESHelper::AesDecrypt(k, bits, in, static_cast<int>(length), out, room);
    if (rc == 0)
        *outLength = static_cast<unsigned>(room);
    return rc;
}

}  // namespace

int AesEncryptBuf(const char* key, const unsigned char* in, unsigned length, unsigned char* out, unsigned* outLength,
                  int keyCode)
{
    return RunBuf(true, key, in, length, out, outLength, keyCode);
}

int AesDecryptBuf(const char* key, const unsigned char* in, unsigned length, unsigned char* out, unsigned* outLength,
                  int keyCode)
{
    return RunBuf(false, key, in, length, out, outLength, keyCode);
}

int AesEncryptToHex(const char* key, const unsigned char* in, unsigned length, char* hexOut, unsigned* hexLength,
                    int keyCode)
{
    if (!key || !hexLength || (*hexLength > 0 && !hexOut))
        return -1;
    // Room for the zero-filled last block; the length check of the cipher
    // refuses what would not fit an int.
    const uint64_t scratchSize = static_cast<uint64_t>(length) + 16;
    if (scratchSize > static_cast<uint64_t>(INT_MAX))
        return -1;
    std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[scratchSize]);
    if (!scratch)
        return -1;

    unsigned m = static_cast<unsigned>(scratchSize);
    if (AesEncryptBuf(key, in, length, scratch.get(), &m, keyCode) != 0)
        return -1;

    // Whole digit pairs that fit with the terminator, then a lone high
    // digit where one more character still fits.
    const unsigned room = *hexLength;
    if (m > 0 && room > 0) {
        const unsigned pairs = m < (room - 1) / 2 ? m : (room - 1) / 2;
        hexOut[0] = 0;
        if (pairs > 0 && CV_IOUtils::Buf2HexStr(reinterpret_cast<char*>(scratch.get()), pairs, hexOut, room) != 0)
            return -1;
        if (pairs < m && 2 * pairs + 1 < room) {
            hexOut[2 * pairs] = "0123456789abcdef"[scratch[pairs] >> 4];
            hexOut[2 * pairs + 1] = 0;
        }
    }
    *hexLength = 2 * m;
    return 0;
}

int AesDecryptFromHex(const char* key, const char* hex, unsigned char* out, unsigned* outLength, int keyCode)
{
    if (!key || !hex || !outLength)
        return -1;
    const size_t digits = std::strlen(hex);
    if (digits / 2 > static_cast<size_t>(INT_MAX))
        return -1;
    unsigned n = static_cast<unsigned>(digits / 2);
    std::unique_ptr<char[]> scratch(new (std::nothrow) char[n ? n : 1]());
    if (!scratch)
        return -1;
    if (CV_IOUtils::HexStr2Buf(hex, scratch.get(), n) != 0)
        return -1;
    return AesDecryptBuf(key, reinterpret_cast<const unsigned char*>(scratch.get()), n, out, outLength, keyCode);
}
