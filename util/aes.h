// AES in ECB mode over whole buffers, keyed by a text.
//
// Key text: copied like "%s" into 32 zeroed bytes (so at most 31 characters
// count); the first bits/8 of those bytes are the key. A short text is
// padded with zero bytes, a long one cut.
// Ciphertext: each 16-byte block enciphered alone; a last partial block is
// filled up with zero bytes. The plain length is recorded nowhere, so
// decryption gives back the data followed by the zero fill.
#ifndef QG_UTIL_AES_H
#define QG_UTIL_AES_H

class CV_AESHelper
{
public:
    // outLength: room in out on entry, bytes written on return. -1 (nothing
    // written, outLength unchanged) for a null argument, a negative length,
    // a key size other than 128/192/256 bits, or room below length + 16
    // (also when length is a multiple of 16).
    static int AesEncrypt(const unsigned char* key, int bits, const unsigned char* in, int length, unsigned char* out,
                          int& outLength);
    // As above; length must be a multiple of 16 and at most the room.
    static int AesDecrypt(const unsigned char* key, int bits, const unsigned char* in, int length, unsigned char* out,
                          int& outLength);

    CV_AESHelper() = delete;
};

// Key-size code of the functions below: 2 selects 192 bits, 4 selects 256
// bits, anything else 128 bits. *outLength: room on entry; on return the
// bytes written, or the room unchanged when the call was refused (-1).
int AesEncryptBuf(const char* key, const unsigned char* in, unsigned length, unsigned char* out, unsigned* outLength,
                  int keyCode);
int AesDecryptBuf(const char* key, const unsigned char* in, unsigned length, unsigned char* out, unsigned* outLength,
                  int keyCode);

// Enciphers in and writes the ciphertext as lower-case hexadecimal into
// hexOut, cut to fit the room in *hexLength (terminator included); sets
// *hexLength to the length of the full text. 0, or -1 when refused or
// short of memory.
int AesEncryptToHex(const char* key, const unsigned char* in, unsigned length, char* hexOut, unsigned* hexLength,
                    int keyCode);
// Reads hexadecimal text (either case, an odd last digit ignored) and
// deciphers it into out. 0, or -1 with *outLength unchanged when refused
// (not a whole number of blocks, too little room, null argument) or short
// of memory.
int AesDecryptFromHex(const char* key, const char* hex, unsigned char* out, unsigned* outLength, int keyCode);

#endif
