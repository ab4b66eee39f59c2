// Texts the SDK writes into fixed buffers (object values, user states, SDK
// control answers, options, names). The SDK is told the buffer's whole size
// and may fill every byte of it, with or without a NUL after the text.
#ifndef QG_SDKLINK_SDK_TEXT_OUT_H
#define QG_SDKLINK_SDK_TEXT_OUT_H

#include <cstring>
#include <string>

// fill(out, size) makes the SDK call into a zeroed buffer of size bytes;
// its result is returned. text gets what the SDK wrote up to its NUL, and
// never the last byte: at most size - 1 bytes.
template <typename Fill>
int ReadSdkText(unsigned int size, std::string& text, Fill fill)
{
    std::string buffer(size, '\0');
    const int ret = fill(&buffer[0], size);
    buffer.resize(size == 0 ? 0 : strnlen(buffer.data(), size - 1));
    text.swap(buffer);
    return ret;
}

#endif
