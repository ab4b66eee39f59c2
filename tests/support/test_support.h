// Helpers the test programs share: a temporary folder of their own, the
// lines or bytes of a file, hex of bytes, random bytes, whether bytes are
// UTF-8, and this process's thread count.
#ifndef QG_TESTS_SUPPORT_TEST_SUPPORT_H
#define QG_TESTS_SUPPORT_TEST_SUPPORT_H

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <iconv.h>
#include <iterator>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qgtest {

// A fresh folder /tmp/<prefix>XXXXXX, removed with all it holds when the
// object goes. Throws when no folder can be made, so a test never writes
// beside a path that is not there.
class TempDir
{
public:
    explicit TempDir(const std::string& prefix = "qg-test-")
    {
        std::string tmpl = "/tmp/" + prefix + "XXXXXX";
        if (mkdtemp(&tmpl[0]) == nullptr)
            throw std::runtime_error("mkdtemp " + tmpl + ": " + strerror(errno));
        path_ = tmpl;
    }
    ~TempDir()
    {
        // Depth first and physical: links are removed, never followed, and
        // one entry that will not go does not stop the rest.
        nftw(
            path_.c_str(), [](const char* p, const struct stat*, int, FTW*) { return remove(p), 0; }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file's lines without their '\n'; none when it cannot be read.
inline std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// Index of the first line at or after `from` that starts with `prefix`, or -1.
inline int Find(const std::vector<std::string>& lines, const std::string& prefix, int from = 0)
{
    for (size_t i = from < 0 ? 0 : static_cast<size_t>(from); i < lines.size(); ++i)
        if (lines[i].compare(0, prefix.size(), prefix) == 0)
            return static_cast<int>(i);
    return -1;
}

// Lower-case hex of the bytes.
inline std::string Hex(const void* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}
inline std::string Hex(const std::string& bytes)
{
    return Hex(bytes.data(), bytes.size());
}
inline std::string Hex(const std::vector<unsigned char>& bytes)
{
    return Hex(bytes.data(), bytes.size());
}

// size bytes that look like nothing, the same for the same seed.
inline std::string RandomBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Whether the bytes are whole UTF-8, as a strict decoder (Ice's in Python
// or Java) reads a string: iconv's, not the code under test's.
inline bool IsUtf8(const std::string& bytes)
{
    iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string in = bytes;
    char* inPtr = &in[0];
    size_t inLeft = in.size();
    std::vector<char> out(4 * in.size() + 4);
    char* outPtr = out.data();
    size_t outLeft = out.size();
    const size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    return done != static_cast<size_t>(-1) && inLeft == 0;
}

// The kernel ids of this process's threads now; none when /proc cannot be
// read (a process always has one).
inline std::set<int> ThreadIds()
{
    std::set<int> ids;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr)
        return ids;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.')
            ids.insert(atoi(e->d_name));
    }
    closedir(dir);
    return ids;
}

// Threads of this process now, or -1 when /proc cannot be read.
inline int ThreadCount()
{
    const std::set<int> ids = ThreadIds();
    return ids.empty() ? -1 : static_cast<int>(ids.size());
}

// Threads now that were not among `before`: an earlier test's thread that
// ends meanwhile does not change it.
inline int ThreadsBesides(const std::set<int>& before)
{
    int n = 0;
    for (int id : ThreadIds())
        n += before.count(id) == 0;
    return n;
}

// Threads of this process that carry the given name (pthread_setname_np),
// or -1 when /proc cannot be read.
inline int ThreadCount(const std::string& name)
{
    const std::set<int> ids = ThreadIds();
    if (ids.empty())
        return -1;
    int n = 0;
    for (int id : ids) {
        std::string comm;
        std::ifstream("/proc/self/task/" + std::to_string(id) + "/comm") >> comm;
        n += comm == name;
    }
    return n;
}

}  // namespace qgtest

#endif
