// Protected files: a file enciphered under a user's password.
//
// Layout: a 2048-byte head, then the body, the plain bytes enciphered with
// AES-128-ECB under the password in 1 MiB chunks (the last block zero
// filled). The head holds a compact JSON record (magic, version, plain
// length, password length and checksum), XORed with a fixed table and
// enciphered with a fixed head key; the bytes after it are zero.
//
// nameIsUtf8: non-zero means a name is UTF-8 already, 0 that it is GB2312
// text converted before use (see CFileGlobalFunc). Names are at most 255
// bytes after conversion.
#ifndef QG_UTIL_PROTECTED_FILE_H
#define QG_UTIL_PROTECTED_FILE_H

// The operations are members of CFileGlobalFunc.
#include "util/file_utils.h"

#endif
