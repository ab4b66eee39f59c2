#include "standin_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <new>

#include "util/cv_ioutils.h"

namespace standin {

std::vector<std::string> SplitTokens(const std::string& line)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        if (i >= line.size() || line[i] == '#')
            break;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r')
            ++j;
        out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

bool ParseU32(const std::string& token, uint32_t& out)
{
    if (token.empty())
        return false;
    const bool hex = token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(token.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == token.c_str() || *end != '\0')
        return false;
    if (v < INT32_MIN || v > static_cast<long long>(UINT32_MAX))
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

bool ParseHex(const std::string& token, std::string& out)
{
    out.clear();
    if (token == "-")
        return true;
    if (token.empty() || token.size() % 2 != 0)
        return false;
    out.reserve(token.size() / 2);
    for (size_t i = 0; i < token.size(); i += 2) {
        int hi = HexDigitValue(token[i]), lo = HexDigitValue(token[i + 1]);
        if (hi < 0 || lo < 0) {
            out.clear();
            return false;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

std::string ToHex(const void* data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        out.push_back(digits[p[i] >> 4]);
        out.push_back(digits[p[i] & 15]);
    }
    return out;
}

bool ParseData(const std::string& token, std::string& out)
{
    if (token.size() < 2 || token[0] != '@')
        return ParseHex(token, out);
    std::ifstream in(token.substr(1), std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool ParseOptions(const std::vector<std::string>& tokens, size_t first, std::vector<Option>& out)
{
    out.clear();
    for (size_t i = first; i < tokens.size(); ++i) {
        size_t eq = tokens[i].find('=');
        if (eq == std::string::npos || eq == 0)
            return false;
        out.push_back(Option{tokens[i].substr(0, eq), tokens[i].substr(eq + 1)});
    }
    return true;
}

std::string QuoteText(const char* text)
{
    if (!text)
        return "null";
    size_t n = 0;
    while (text[n])
        ++n;
    return QuoteBytes(text, n);
}

std::string DataForm(const void* data, size_t length)
{
    if (!data)
        return "null";
    return std::to_string(length) + ":" + ToHex(data, length < 16 ? length : 16);
}

std::string BytesForm(const void* data, size_t length)
{
    if (!data)
        return "null";
    return std::to_string(length) + ":" + ToHex(data, length);
}

void AppendLine(const char* envName, const std::string& line)
{
    // Never destroyed, as the program may still log from its static
    // destructors; in static storage, so an unloaded library leaves no heap.
    alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
    static std::mutex& mu = *new (storage) std::mutex;
    const char* path = std::getenv(envName);
    if (!path || !*path)
        return;
    std::string text = line;
    text.push_back('\n');
    std::lock_guard<std::mutex> lock(mu);
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

}  // namespace standin
