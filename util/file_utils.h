// File and directory helpers over the POSIX file interface.
//
// Most operations take a name-form flag as their last argument: non-zero
// means the name is UTF-8 already (the file system's form) and is used as
// given; 0 means it is GB2312 text and is converted to UTF-8 first.
// Converted names are at most 255 bytes; longer names are cut.
#ifndef QG_UTIL_FILE_UTILS_H
#define QG_UTIL_FILE_UTILS_H

#include <cstdint>
#include <string>
#include <vector>

class CFileGlobalFunc
{
public:
    // Copies name (nameIsUtf8 != 0) or converts it GB2312 -> UTF-8 into out.
    // A name that does not convert leaves out untouched; outSize 0 writes nothing.
    static char* ConvertFileNameOSSupport(const char* name, long nameIsUtf8, char* out, unsigned outSize);

    // 1 when the entry exists (of any kind, directories included), else 0.
    static int IsFileExist(const char* name, long nameIsUtf8);
    // Size cut to its low 32 bits; 0 when the file cannot be opened.
    static uint32_t GetFileLength(const char* name, long nameIsUtf8);
    // Full size; 0 when stat fails.
    static int64_t GetFileLength64(const char* name, long nameIsUtf8);
    // Creates the file or truncates it to 0 bytes: 1 or 0.
    static int CreateEmptyFile(const char* name, long nameIsUtf8);
    // 1 when the file is gone (or never was), 0 when it is still there after
    // waiting up to waitMs (polled every 2 ms).
    static int RemoveFile(const char* name, unsigned waitMs, long nameIsUtf8);
    // Copies src to dst (created or truncated): 1, or 0 when a file cannot be
    // opened or a read, write or the close fails.
    static int CopyFile(const char* src, const char* dst, long nameIsUtf8);
    // rename(2) of src to dst: 0 or -1.
    static int RenameFile(const char* src, const char* dst, long nameIsUtf8);
    // 1 when the name opens as a directory, else 0.
    static int IsDirectoryExist(const char* name, long nameIsUtf8);

    // Component registration and file versions do not exist on this platform.
    static void RegisterComponent(const char* file);
    static int IsFileNeedRegister(const char* file);
    static int GetLocalFileVersion(char* file, char* out, unsigned outSize);

    // Creates every missing directory level of path; the part after the last
    // '/' is a file name and is not created. 0, or -1 when a mkdir fails.
    static int MakeSureDirectory(const char* path, long nameIsUtf8);
    // Makes dir (ending with '/') and probes that a file can be created in it: 1 or 0.
    static int AdjustDiskAndCreateDirectory(char* dir, unsigned ignored);
    // Free (for unprivileged users) and total bytes of the file system holding path: 1 or 0.
    static int GetDiskSpaceInfo(const char* path, unsigned long& freeBytes, unsigned long& totalBytes);
    // Appends the bare names of the regular files of dir (no recursion, in
    // directory order) to names: 0, or -1 when dir is null or cannot be opened.
    // dir is GB2312 text.
    static int EnumFiles(const char* dir, std::vector<std::string>& names);

    // Protected files (util/protected_file.cpp).
    enum {
        kHeadSize = 2048,
        kMagic = 0x464d5a51,  // "QZMF" in little-endian byte order
        kVersion = 0x10002,
        kMaxPassword = 255,  // longer passwords are cut to this many characters
    };

    // Result codes beside 0 (done) and -1 (no password, unreadable head, a
    // file that cannot be opened, read or written, a cut-off body, a name
    // too long).
    enum {
        kAlreadyProtected = 59,
        kNotProtected = 60,
        kWrongPassword = 61,
        kNoSource = 710,
    };

    // Protects (protect != 0) or restores srcFile into dstFile, or in place
    // when dstFile is null, empty or names the source itself. A refused or
    // failed call changes no existing file and leaves no partial output.
    static int FileAesEncDec(const char* password, long protect, const char* srcFile, const char* dstFile,
                             long nameIsUtf8);
    // The same with the JSON members "flags" (bit 0: protect), "enckey",
    // "filename" and "targetfile"; names are GB2312 text.
    static int FileEncDecCtrl(char* jsonText);
    // 1 when the file carries a protected head, else 0.
    static int IsEncFile(const char* path, long nameIsUtf8);
    // 0 exactly when unprotecting would accept the password (its length and
    // checksum match the head's), 60 for a file that is not protected, 61
    // for a wrong password, -1 for no password or no readable head.
    static int VerifyFileEncPass(const char* path, const char* password, long nameIsUtf8);
    // Writes the enciphered head for srcFile into head (headSize bytes of
    // room); bytes after the ciphertext are not touched. head is left as it
    // was when the record does not fit.
    static void BuildEncFileHead(const char* srcFile, const char* password, char* head, unsigned headSize,
                                 long nameIsUtf8);
    // Reads and deciphers the head of path (used as given) into text as a
    // terminated string of at most min(2047, textSize - 1) characters.
    // 0, or -1 when no 2048-byte head could be read.
    static int ParseEncFileHead(const char* path, char* text, unsigned textSize);
};

// Replaces both bytes of every double-byte character (high bit set, followed
// by a non-zero byte) with replacement, in place.
void ReplaceChineseStrToEnglish(char* text, char replacement);

// strchr that works on a private copy of text; null for a null text.
const char* SafeStrChr(const char* text, int ch);
inline char* SafeStrChr(char* text, int ch)
{
    return const_cast<char*>(SafeStrChr(static_cast<const char*>(text), ch));
}

// Helpers of the file module, declared for its own use and its tests.
namespace filefunc {

// 1 when dlopen(RTLD_NOW) of the name succeeds (the handle is closed at once).
int IsModuleLoadable(const char* name, long nameIsUtf8);
// '\' -> '/', and a final '/' appended when it fits; returns the length before the append.
unsigned FormatDirectoryPath(char* path, unsigned size);
// Removes a directory tree without following links out of it; removedCount
// (may be null) counts the non-directory entries of the top level.
// 1 when the directory is gone, else 0.
int DeleteDirectory(const char* dir, unsigned waitMs, long nameIsUtf8, unsigned* removedCount);
// Reads "YYYY-MM-DD" (exactly 10 characters): 1 or 0.
int ParseDateString(const char* text, int* year, int* month, int* day);
// Not measured on this platform: *size keeps the caller's value.
void GetDirectorySize(const char* dir, unsigned long* size);
// Deletes nothing on this platform; returns 0.
int DeleteDirectoryFiles(const char* dir, unsigned* removedCount);
// Does nothing on this platform; returns 0.
int ClearDirectory(const char* dir);
// 0, 21 (no name), 39 (no such directory) or the cleaning result.
int CheckDiskSpace(const char* dir, unsigned long maxDirMiB, unsigned long minFreeMiB, unsigned* removedCount);

}  // namespace filefunc

#endif
