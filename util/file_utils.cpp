#include "util/file_utils.h"

#include "util/module_loader.h"
#include "util/win32_shims.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

const unsigned kNameSize = 256;  // converted names: 255 bytes and the NUL
const unsigned kTreePathSize = 4096;

// One whole-text iconv pass; true only when every input byte was converted
// without an invalid or incomplete sequence. *written: bytes put into out.
bool IconvAll(const char* from, const char* to, const char* in, size_t inLen, char* out, size_t outRoom,
              size_t* written)
{
    *written = 0;
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1)
        return false;
    char* inPtr = const_cast<char*>(in);
    char* outPtr = out;
    size_t rc = iconv(cd, &inPtr, &inLen, &outPtr, &outRoom);
    iconv_close(cd);
    *written = static_cast<size_t>(outPtr - out);
    return rc == 0 && inLen == 0;
}

bool PathExists(const char* osPath)
{
    struct stat st;
    return stat(osPath, &st) == 0;
}

bool OpensAsDirectory(const char* osPath)
{
    DIR* dir = opendir(osPath);
    if (dir == nullptr)
        return false;
    closedir(dir);
    return true;
}

// Removes a file named in the file system's form, retrying for up to waitMs
// while it is still there (it may be held open elsewhere).
int RemoveOsPath(const char* osPath, unsigned waitMs)
{
    if (!PathExists(osPath))
        return 1;
    bool removed = remove(osPath) == 0;
    if (!PathExists(osPath))
        return 1;
    if (waitMs == 0)
        return 0;

    uint32_t start = GetTickCount();
    for (;;) {
        if (!removed)
            removed = remove(osPath) == 0;
        usleep(2000);
        if (!PathExists(osPath))
            return 1;
        if (TickDistance(GetTickCount(), start) >= waitMs)
            return 0;
    }
}

// The converted name in a zeroed 256-byte buffer.
struct ConvertedName {
    char text[kNameSize];
    ConvertedName(const char* name, long nameIsUtf8)
    {
        memset(text, 0, sizeof(text));
        CFileGlobalFunc::ConvertFileNameOSSupport(name, nameIsUtf8, text, sizeof(text));
    }
};

// Joins dir and name with one '/'; false when the result does not fit.
bool JoinPath(char* out, size_t size, const char* dir, const char* name)
{
    size_t dirLen = strlen(dir);
    const char* sep = (dirLen > 0 && dir[dirLen - 1] == '/') ? "" : "/";
    int n = snprintf(out, size, "%s%s%s", dir, sep, name);
    return n >= 0 && static_cast<size_t>(n) < size;
}

bool IsDotEntry(const char* name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

}  // namespace

char* CFileGlobalFunc::ConvertFileNameOSSupport(const char* name, long nameIsUtf8, char* out, unsigned outSize)
{
    if (out == nullptr || outSize == 0 || name == nullptr)
        return out;
    if (nameIsUtf8 != 0) {
        snprintf(out, outSize, "%s", name);
        return out;
    }
    size_t len = strlen(name);
    if (len == 0)
        return out;

    // GB2312 -> UNICODE (UCS-2 with a byte-order mark): at most 2 bytes per
    // input byte plus the mark, so 5 x length is ample.
    size_t workSize = 5 * len;
    char* work = static_cast<char*>(calloc(workSize, 1));
    if (work == nullptr)
        return out;
    size_t unicodeLen = 0;
    if (!IconvAll("GB2312", "UNICODE", name, len, work, workSize, &unicodeLen)) {
        free(work);
        return out;
    }

    // UNICODE -> UTF-8; the last byte of out stays zero, and output that does
    // not fit stops at a character boundary.
    memset(out, 0, outSize);
    size_t utf8Len = 0;
    IconvAll("UNICODE", "UTF-8", work, unicodeLen, out, outSize - 1, &utf8Len);
    free(work);
    return out;
}

int CFileGlobalFunc::IsFileExist(const char* name, long nameIsUtf8)
{
    ConvertedName path(name, nameIsUtf8);
    return PathExists(path.text) ? 1 : 0;
}

uint32_t CFileGlobalFunc::GetFileLength(const char* name, long nameIsUtf8)
{
    ConvertedName path(name, nameIsUtf8);
    FILE* fp = fopen(path.text, "rb");
    if (fp == nullptr)
        return 0;
    off_t size = 0;
    if (fseeko(fp, 0, SEEK_END) == 0)
        size = ftello(fp);
    fclose(fp);
    return size > 0 ? static_cast<uint32_t>(static_cast<uint64_t>(size)) : 0;
}

int64_t CFileGlobalFunc::GetFileLength64(const char* name, long nameIsUtf8)
{
    ConvertedName path(name, nameIsUtf8);
    struct stat st;
    if (stat(path.text, &st) != 0)
        return 0;
    return static_cast<int64_t>(st.st_size);
}

int CFileGlobalFunc::CreateEmptyFile(const char* name, long nameIsUtf8)
{
    ConvertedName path(name, nameIsUtf8);
    FILE* fp = fopen(path.text, "wb");
    if (fp == nullptr)
        return 0;
    return fclose(fp) == 0 ? 1 : 0;
}

int CFileGlobalFunc::RemoveFile(const char* name, unsigned waitMs, long nameIsUtf8)
{
    ConvertedName path(name, nameIsUtf8);
    return RemoveOsPath(path.text, waitMs);
}

int CFileGlobalFunc::CopyFile(const char* src, const char* dst, long nameIsUtf8)
{
    ConvertedName from(src, nameIsUtf8);
    ConvertedName to(dst, nameIsUtf8);
    FILE* in = fopen(from.text, "rb");
    if (in == nullptr)
        return 0;
    FILE* out = fopen(to.text, "wb");
    if (out == nullptr) {
        fclose(in);
        return 0;
    }

    char block[8192];
    bool ok = true;
    for (;;) {
        size_t n = fread(block, 1, sizeof(block), in);
        if (n == 0)
            break;
        if (fwrite(block, 1, n, out) != n) {
            ok = false;
            break;
        }
    }
    if (ferror(in))
        ok = false;
    fclose(in);
    // Buffered data reaches the file only at the close: its failure is a failed copy.
    if (fclose(out) != 0)
        ok = false;
    return ok ? 1 : 0;
}

int CFileGlobalFunc::RenameFile(const char* src, const char* dst, long nameIsUtf8)
{
    ConvertedName from(src, nameIsUtf8);
    ConvertedName to(dst, nameIsUtf8);
    return rename(from.text, to.text) == 0 ? 0 : -1;
}

int CFileGlobalFunc::IsDirectoryExist(const char* name, long nameIsUtf8)
{
    ConvertedName path(name, nameIsUtf8);
    return OpensAsDirectory(path.text) ? 1 : 0;
}

void CFileGlobalFunc::RegisterComponent(const char*)
{}

int CFileGlobalFunc::IsFileNeedRegister(const char*)
{
    return 0;
}

int CFileGlobalFunc::GetLocalFileVersion(char*, char*, unsigned)
{
    return 0;
}

int CFileGlobalFunc::MakeSureDirectory(const char* path, long nameIsUtf8)
{
    ConvertedName full(path, nameIsUtf8);
    mode_t mode = 0;  // 0: nothing kept yet, 0700 is used
    char prefix[kNameSize];
    for (const char* slash = SafeStrChr(full.text, '/'); slash != nullptr; slash = SafeStrChr(slash + 1, '/')) {
        size_t len = static_cast<size_t>(slash - full.text);
        if (len == 0)
            continue;
        memcpy(prefix, full.text, len);
        prefix[len] = '\0';
        if (access(prefix, F_OK) != 0) {
            if (mkdir(prefix, mode != 0 ? mode : 0700) != 0)
                return -1;
            continue;
        }
        struct stat st;
        if (stat(prefix, &st) == 0)
            mode = st.st_mode & 07777;
    }
    return 0;
}

int CFileGlobalFunc::AdjustDiskAndCreateDirectory(char* dir, unsigned)
{
    MakeSureDirectory(dir, 0);
    char probe[kNameSize];
    snprintf(probe, sizeof(probe), "%scorvane%d.txt", dir, static_cast<int>(GetTickCount()));
    if (IsDirectoryExist(dir, 0) == 0 || CreateEmptyFile(probe, 0) == 0)
        return 0;
    RemoveFile(probe, 0, 0);
    return 1;
}

int CFileGlobalFunc::GetDiskSpaceInfo(const char* path, unsigned long& freeBytes, unsigned long& totalBytes)
{
    if (path == nullptr || path[0] == '\0')
        return 0;
    char copy[kNameSize];
    snprintf(copy, sizeof(copy), "%s", path);
    if (IsDirectoryExist(path, 0) == 0) {
        char* slash = strrchr(copy, '/');
        if (slash == nullptr)
            return 0;
        slash[1] = '\0';
    }
    struct statfs fs;
    if (statfs(copy, &fs) != 0)
        return 0;
    freeBytes = static_cast<unsigned long>(fs.f_bsize) * fs.f_bavail;
    totalBytes = static_cast<unsigned long>(fs.f_bsize) * fs.f_blocks;
    return 1;
}

int CFileGlobalFunc::EnumFiles(const char* dir, std::vector<std::string>& names)
{
    if (dir == nullptr || IsDirectoryExist(dir, 0) == 0)
        return -1;
    // Open the very name that was tested, not the unconverted text.
    ConvertedName base(dir, 0);
    DIR* stream = opendir(base.text);
    if (stream == nullptr)
        return -1;

    char path[kTreePathSize];
    while (struct dirent* entry = readdir(stream)) {
        if (IsDotEntry(entry->d_name))
            continue;
        if (!JoinPath(path, sizeof(path), base.text, entry->d_name))
            continue;
        struct stat st;
        if (stat(path, &st) != 0) {
            printf("stat error:%d, path:%s \n", errno, path);
            continue;
        }
        if (S_ISREG(st.st_mode))
            names.push_back(entry->d_name);
    }
    closedir(stream);
    return 0;
}

void ReplaceChineseStrToEnglish(char* text, char replacement)
{
    if (text == nullptr)
        return;
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p != 0; ++p) {
        if (*p >= 0x80 && p[1] != 0) {
            p[0] = static_cast<unsigned char>(replacement);
            p[1] = static_cast<unsigned char>(replacement);
            ++p;
        }
    }
}

const char* SafeStrChr(const char* text, int ch)
{
    if (text == nullptr)
        return nullptr;
    size_t len = strlen(text);
    char* copy = static_cast<char*>(calloc(len + 2, 1));
    if (copy == nullptr)
        return nullptr;
    memcpy(copy, text, len + 1);
    const char* found = strchr(copy, ch);
    const char* result = found != nullptr ? text + (found - copy) : nullptr;
    free(copy);
    return result;
}

namespace filefunc {

int IsModuleLoadable(const char* name, long nameIsUtf8)
{
    ConvertedName path(name, nameIsUtf8);
    void* handle = OpenModuleFile(path.text, nullptr, 0, nullptr, nullptr, 0);
    if (handle == nullptr)
        return 0;
    UnloadModule(handle);
    return 1;
}

unsigned FormatDirectoryPath(char* path, unsigned size)
{
    if (path == nullptr || path[0] == '\0')
        return 0;
    size_t len = strlen(path);
    for (size_t i = 0; i < len; ++i) {
        if (path[i] == '\\')
            path[i] = '/';
    }
    if (path[len - 1] != '/' && len + 1 < size) {
        path[len] = '/';
        path[len + 1] = '\0';
    }
    return static_cast<unsigned>(len);
}

// Works on the full tree path: deeper levels may be longer than a converted
// name's 255 bytes, and a cut path would name some other entry.
static int DeleteTree(const std::string& base, unsigned waitMs, unsigned* removedCount)
{
    DIR* stream = opendir(base.c_str());
    if (stream == nullptr)
        return 0;

    char path[kTreePathSize];
    while (struct dirent* entry = readdir(stream)) {
        if (IsDotEntry(entry->d_name))
            continue;
        int n = snprintf(path, sizeof(path), "%s/%s", base.c_str(), entry->d_name);
        if (n < 0 || static_cast<size_t>(n) >= sizeof(path))
            continue;
        struct stat st;
        // lstat: a link is removed as itself, never followed out of the tree.
        if (lstat(path, &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            DeleteTree(path, waitMs, nullptr);
            continue;
        }
        if (removedCount != nullptr)
            ++*removedCount;
        RemoveOsPath(path, waitMs);
    }
    closedir(stream);
    rmdir(base.c_str());
    return OpensAsDirectory(base.c_str()) ? 0 : 1;
}

int DeleteDirectory(const char* dir, unsigned waitMs, long nameIsUtf8, unsigned* removedCount)
{
    if (CFileGlobalFunc::IsDirectoryExist(dir, nameIsUtf8) == 0)
        return 1;
    ConvertedName base(dir, nameIsUtf8);
    return DeleteTree(base.text, waitMs, removedCount);
}

int ParseDateString(const char* text, int* year, int* month, int* day)
{
    if (text == nullptr || strlen(text) != 10)
        return 0;
    return sscanf(text, "%d-%d-%d", year, month, day) == 3 ? 1 : 0;
}

void GetDirectorySize(const char*, unsigned long*)
{}

int DeleteDirectoryFiles(const char*, unsigned*)
{
    return 0;
}

int ClearDirectory(const char*)
{
    return 0;
}

int CheckDiskSpace(const char* dir, unsigned long maxDirMiB, unsigned long minFreeMiB, unsigned* removedCount)
{
    *removedCount = 0;
    if (dir == nullptr || dir[0] == '\0')
        return 21;
    if (CFileGlobalFunc::IsDirectoryExist(dir, 0) == 0)
        return 39;

    unsigned long size = 0;
    GetDirectorySize(dir, &size);
    if ((size >> 20) > maxDirMiB) {
        int rc = DeleteDirectoryFiles(dir, removedCount);
        if (rc != 0)
            return rc;
    }

    unsigned long freeBytes = 0;
    unsigned long totalBytes = 0;
    if (CFileGlobalFunc::GetDiskSpaceInfo(dir, freeBytes, totalBytes) == 0)
        return 0;
    if ((freeBytes >> 20) >= minFreeMiB)
        return 0;
    unsigned n = 0;
    int rc = DeleteDirectoryFiles(dir, &n);
    *removedCount += n;
    return rc;
}

}  // namespace filefunc
