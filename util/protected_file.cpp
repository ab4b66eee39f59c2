#include "util/protected_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <json/json.h>

#include "util/aes.h"
#include "util/cv_ioutils.h"
#include "util/file_utils.h"
#include "util/json_utils.h"
#include "util/json_writer.h"

namespace {

// XOR table of the head text, applied at index i AND 63.
const char kXorTable[] = "3f9d2c7a18e04b65c1a7f3092de8b4569a0c7e1f5d3b2a8c4e6f0917d2b5a3c8";
// Key text of the head cipher: its 16 characters are the AES-128 key.
const char kHeadKey[] = "7e3a9c01d4f25b86";
// Per-file key text of "filevalue": timestamp, then plain length (32 bits).
const char kFileKeyFormat[] = "ts%d,fl%d";

const unsigned kChunk = 1048576;
const size_t kNameMax = 255;
const size_t kHeadTextMax = 2999;
const int kHeadSize = CFileGlobalFunc::kHeadSize;

// The password as it keys and checks a file: at most 255 characters.
struct Password {
    explicit Password(const char* text)
    {
        length = static_cast<int>(strnlen(text, CFileGlobalFunc::kMaxPassword));
        std::memcpy(bytes, text, length);
        bytes[length] = 0;
    }
    int Checksum() { return CV_IOUtils::cal_chksum(reinterpret_cast<unsigned short*>(bytes), length) & 0xFFFF; }

    char bytes[CFileGlobalFunc::kMaxPassword + 1];
    int length;
};

// A name in its file-system form; empty when it does not convert or does
// not fit in 255 bytes (a cut name would address another file).
std::string OsName(const char* name, long nameIsUtf8)
{
    char buf[1024] = {0};
    if (name)
        CFileGlobalFunc::ConvertFileNameOSSupport(name, nameIsUtf8, buf, sizeof buf);
    const size_t n = strnlen(buf, sizeof buf);
    return n > kNameMax ? std::string() : std::string(buf, n);
}

// Reads until n bytes or the end of the file: the count, or -1.
ssize_t ReadFull(int fd, unsigned char* buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = read(fd, buf + got, n - got);
        if (r == 0)
            break;
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

bool WriteFull(int fd, const unsigned char* buf, size_t n)
{
    while (n > 0) {
        const ssize_t w = write(fd, buf, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        buf += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// The members that the checks use. Integer members may also come as
// decimal strings; anything else counts as 0.
struct HeadInfo {
    unsigned flags = 0;
    unsigned keycode = 0;
    unsigned keylength = 0;
    int64_t filelength = 0;
};

int64_t ReadInt64Member(const char* text, const char* key)
{
    try {
        Json::Reader reader;
        Json::Value root;
        reader.parse(text, text + std::strlen(text), root, true);
        if (!root.isObject() || !root.isMember(key))
            return 0;
        const Json::Value& v = root[key];
        if (v.isInt64())
            return v.asInt64();
        if (v.isString())
            return std::strtoll(v.asCString(), nullptr, 10);
    } catch (...) {
    }
    return 0;
}

bool ReadHead(const std::string& osPath, HeadInfo& info)
{
    char text[kHeadSize + 1] = {0};
    if (CFileGlobalFunc::ParseEncFileHead(osPath.c_str(), text, sizeof text) != 0)
        return false;
    CJsonUtils::GetIntValue(text, "flags", info.flags);
    CJsonUtils::GetIntValue(text, "keycode", info.keycode);
    CJsonUtils::GetIntValue(text, "keylength", info.keylength);
    info.filelength = ReadInt64Member(text, "filelength");
    return true;
}

// Builds the head record for a plain file of the given length and
// enciphers it into head. false when it does not fit.
bool MakeHead(int64_t plainLength, Password& pw, char* head, unsigned headSize)
{
    const int32_t timestamp = static_cast<int32_t>(std::time(nullptr));
    char fileKey[48];
    std::snprintf(fileKey, sizeof fileKey, kFileKeyFormat, timestamp, static_cast<int32_t>(plainLength));
    char value[2 * (CFileGlobalFunc::kMaxPassword + 16) + 1] = {0};
    unsigned valueLength = sizeof value;
    if (AesEncryptToHex(fileKey, reinterpret_cast<const unsigned char*>(pw.bytes), pw.length, value, &valueLength, 0) !=
        0)
        return false;

    Json::Value root(Json::objectValue);
    root["algorithm"] = 1;
    root["filelength"] = static_cast<Json::Int64>(plainLength);
    root["filemd5"] = "";
    root["filevalue"] = value;
    root["flags"] = static_cast<int>(CFileGlobalFunc::kMagic);
    root["keycode"] = pw.Checksum();
    root["keylength"] = pw.length;
    root["timestamp"] = timestamp;
    root["version"] = static_cast<int>(CFileGlobalFunc::kVersion);
    std::string text = cv::toStyledString(root);
    if (text.size() > kHeadTextMax)
        text.resize(kHeadTextMax);

    CV_IOUtils::BufXOR(&text[0], static_cast<unsigned>(text.size()), kXorTable, nullptr);
    unsigned n = headSize;
    return AesEncryptBuf(kHeadKey, reinterpret_cast<const unsigned char*>(text.data()),
                         static_cast<unsigned>(text.size()), reinterpret_cast<unsigned char*>(head), &n, 0) == 0;
}

// Fresh upper-case UUID text naming the temporary file of an in-place run.
std::string UuidText()
{
    uuid_t u;
    uuid_generate(u);
    const uint32_t a = u[0] | u[1] << 8 | u[2] << 16 | static_cast<uint32_t>(u[3]) << 24;
    const unsigned b = u[4] | u[5] << 8, c = u[6] | u[7] << 8;
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", a, b, c, u[8], u[9], u[10],
                  u[11], u[12], u[13], u[14], u[15]);
    return text;
}

std::string DirectoryPart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

struct Fd {
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
    // close(2) of an output reports late write errors.
    bool Close()
    {
        const int f = fd;
        fd = -1;
        return close(f) == 0;
    }
    int fd;
};

// Streams the body of src into out: a head and the enciphered chunks when
// protecting, the deciphered chunks cut to plainLength when restoring.
bool Transform(int in, int out, bool protect, Password& pw, const char* head, int64_t plainLength)
{
    std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[kChunk + 16]);
    if (!buf)
        return false;

    if (protect) {
        if (!WriteFull(out, reinterpret_cast<const unsigned char*>(head), kHeadSize))
            return false;
    } else if (lseek(in, kHeadSize, SEEK_SET) != kHeadSize) {
        return false;
    }

    int64_t written = 0;
    for (;;) {
        const ssize_t got = ReadFull(in, buf.get(), kChunk);
        if (got < 0)
            return false;
        if (got == 0)
            return true;

        unsigned n = kChunk + 16;
        if (protect) {
            if (AesEncryptBuf(pw.bytes, buf.get(), static_cast<unsigned>(got), buf.get(), &n, 0) != 0)
                return false;
        } else {
            // A cut-off body has no whole last block to decipher.
            if (AesDecryptBuf(pw.bytes, buf.get(), static_cast<unsigned>(got), buf.get(), &n, 0) != 0)
                return false;
            if (plainLength != 0 && written < plainLength && written + n > plainLength)
                n = static_cast<unsigned>(plainLength - written);
        }
        if (!WriteFull(out, buf.get(), n))
            return false;
        written += n;
    }
}

}  // namespace

int CFileGlobalFunc::ParseEncFileHead(const char* path, char* text, unsigned textSize)
{
    if (!path || !text)
        return -1;
    Fd f(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (f.fd < 0)
        return -1;
    unsigned char raw[kHeadSize];
    if (ReadFull(f.fd, raw, kHeadSize) != kHeadSize)
        return -1;

    unsigned char plain[kHeadSize];
    unsigned n = kHeadSize;
    if (AesDecryptBuf(kHeadKey, raw, kHeadSize, plain, &n, 0) != 0)
        return -1;
    CV_IOUtils::BufXOR(reinterpret_cast<char*>(plain), kHeadSize, kXorTable, nullptr);

    if (textSize > 0) {
        const size_t room = textSize - 1 < kHeadSize - 1 ? textSize - 1 : kHeadSize - 1;
        const size_t len = strnlen(reinterpret_cast<const char*>(plain), room);
        std::memcpy(text, plain, len);
        text[len] = 0;
    }
    return 0;
}

void CFileGlobalFunc::BuildEncFileHead(const char* srcFile, const char* password, char* head, unsigned headSize,
                                       long nameIsUtf8)
{
    if (!srcFile || !password || !head)
        return;
    Password pw(password);
    MakeHead(CFileGlobalFunc::GetFileLength64(srcFile, nameIsUtf8), pw, head, headSize);
}

int CFileGlobalFunc::IsEncFile(const char* path, long nameIsUtf8)
{
    HeadInfo info;
    return ReadHead(OsName(path, nameIsUtf8), info) && info.flags == kMagic ? 1 : 0;
}

int CFileGlobalFunc::VerifyFileEncPass(const char* path, const char* password, long nameIsUtf8)
{
    const std::string os = OsName(path, nameIsUtf8);
    if (!password || !*password)
        return -1;
    HeadInfo info;
    if (!ReadHead(os, info))
        return -1;
    if (info.flags != kMagic)
        return kNotProtected;
    // The same checks as unprotecting, so 0 means it would be accepted.
    Password pw(password);
    if (info.keylength != static_cast<unsigned>(pw.length))
        return kWrongPassword;
    if (info.keycode != static_cast<unsigned>(pw.Checksum()))
        return kWrongPassword;
    return 0;
}

int CFileGlobalFunc::FileAesEncDec(const char* password, long protect, const char* srcFile, const char* dstFile,
                                   long nameIsUtf8)
{
    // 1. The source, the password and what the source's head allows.
    if (!srcFile || !CFileGlobalFunc::IsFileExist(srcFile, nameIsUtf8))
        return kNoSource;
    if (!password || !*password)
        return -1;
    Password pw(password);

    const std::string src = OsName(srcFile, nameIsUtf8);
    struct stat srcStat;
    if (src.empty() || stat(src.c_str(), &srcStat) != 0 || !S_ISREG(srcStat.st_mode))
        return -1;

    HeadInfo info;
    const bool haveHead = ReadHead(src, info);
    if (protect) {
        if (haveHead && info.flags == kMagic)
            return kAlreadyProtected;
    } else {
        if (!haveHead)
            return -1;
        if (info.flags != kMagic)
            return kNotProtected;
        if (info.keylength != static_cast<unsigned>(pw.length))
            return kWrongPassword;
        if (info.keycode != static_cast<unsigned>(pw.Checksum()))
            return kWrongPassword;
        if ((srcStat.st_size - kHeadSize) % 16 != 0)
            return -1;
    }

    // 2. The output: the target, or a temporary file beside the source that
    // replaces it in one rename. A target that is the source under another
    // spelling is worked in place.
    bool inPlace = !dstFile || !*dstFile || std::strcmp(dstFile, srcFile) == 0;
    std::string out;
    if (!inPlace) {
        out = OsName(dstFile, nameIsUtf8);
        if (out.empty())
            return -1;
        struct stat dstStat;
        inPlace =
            stat(out.c_str(), &dstStat) == 0 && dstStat.st_dev == srcStat.st_dev && dstStat.st_ino == srcStat.st_ino;
    }
    if (inPlace) {
        out = DirectoryPart(src) + UuidText();
        if (out.size() > kNameMax)
            return -1;
    }

    char head[kHeadSize] = {0};
    if (protect && !MakeHead(srcStat.st_size, pw, head, kHeadSize))
        return -1;

    if (!inPlace) {
        CFileGlobalFunc::RemoveFile(dstFile, 1000, nameIsUtf8);
        CFileGlobalFunc::MakeSureDirectory(dstFile, nameIsUtf8);
    }

    // 3. The body, then the output replaces what it stands for.
    Fd in(open(src.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
        return -1;
    Fd outFd(inPlace ? open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)
                     : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (outFd.fd < 0)
        return -1;

    // In place the result keeps the source's permissions.
    bool ok = !inPlace || fchmod(outFd.fd, srcStat.st_mode & 07777) == 0;
    ok = ok && Transform(in.fd, outFd.fd, protect != 0, pw, head, info.filelength);
    ok = outFd.Close() && ok;
    ok = ok && (!inPlace || rename(out.c_str(), src.c_str()) == 0);
    if (!ok) {
        unlink(out.c_str());
        return -1;
    }
    return 0;
}

int CFileGlobalFunc::FileEncDecCtrl(char* jsonText)
{
    char key[100] = {0};
    char name[256] = {0};
    char target[256] = {0};
    unsigned flags = 0;
    if (jsonText && *jsonText) {
        CJsonUtils::GetStrValue(jsonText, "enckey", key, sizeof key);
        CJsonUtils::GetIntValue(jsonText, "flags", flags);
        CJsonUtils::GetStrValue(jsonText, "filename", name, sizeof name);
        CJsonUtils::GetStrValue(jsonText, "targetfile", target, sizeof target);
    }
    return FileAesEncDec(key, flags & 1, name, target, 0);
}
