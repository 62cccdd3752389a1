#pragma once
// Text helpers of the RTSP client and its reply reader: bounded searches and numbers in buffers
// that are not NUL terminated.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fluxmere::rtsp_text {

// Offset of the first occurrence of needle in [text, text + length), or -1.
inline int32_t Find(const char* text, int32_t length, const char* needle, int32_t needleLength) {
    for (int32_t i = 0; i + needleLength <= length; ++i) {
        if (std::memcmp(text + i, needle, static_cast<size_t>(needleLength)) == 0)
            return i;
    }
    return -1;
}

template <size_t N>
int32_t Find(const char* text, int32_t length, const char (&needle)[N]) {
    return Find(text, length, needle, static_cast<int32_t>(N - 1));
}

// The decimal number at text (blanks before it skipped, as atoi does), read no further than
// end; saturates instead of overflowing. digits (optional) tells whether any digit was read.
inline int32_t ParseDecimal(const char* text, const char* end, bool* digits = nullptr) {
    while (text < end && (*text == ' ' || *text == '\t'))
        ++text;
    bool negative = false;
    if (text < end && (*text == '-' || *text == '+'))
        negative = *text++ == '-';
    int64_t value = 0;
    bool any = false;
    while (text < end && *text >= '0' && *text <= '9') {
        value = value * 10 + (*text++ - '0');
        if (value > 0x7FFFFFFF)
            value = 0x7FFFFFFF;
        any = true;
    }
    if (digits != nullptr)
        *digits = any;
    return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace fluxmere::rtsp_text
