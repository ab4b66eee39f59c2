// Text conversion between the conferencing system's GB2312 and the
// browser's UTF-8, through iconv's UNICODE form.
#ifndef QG_SDKLINK_TEXT_CONVERT_H
#define QG_SDKLINK_TEXT_CONVERT_H

#include <cstddef>
#include <string>

// Both convert the NUL-terminated text into out (capacity bytes) and return
// 1 when the text is empty or converted whole, 0 otherwise. A text that does
// not fit is cut at a character boundary; out is always NUL-terminated
// (capacity > 0) once the conversion reached the output step, and left as it
// was when the text is empty or the conversion failed before (callers zero
// out first, so a failure reads as an empty text).
int ConvertGB2312ToUTF8(const char* text, char* out, unsigned int capacity);
int ConvertUTF8ToGB2312(const char* text, char* out, unsigned int capacity);

// Buffers and JSON texts: all length bytes, the output as long as it needs
// to be. A sequence that is not valid in the source, or a character that
// has no form in the target, becomes one '?'; *replaced (when given) counts
// them. The mapping is iconv's, taken once through UNICODE into tables.
std::string ConvertBufferGB2312ToUTF8(const char* data, size_t length, size_t* replaced = nullptr);
std::string ConvertBufferUTF8ToGB2312(const char* data, size_t length, size_t* replaced = nullptr);

#endif
