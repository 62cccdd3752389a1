#include "player/rectangle_text.h"

#include <cstdint>

namespace fluxmere {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One %d conversion: skips blanks, reads an optional sign and at least one digit.
bool ReadNumber(const char*& p, int32_t* value) {
    while (IsBlank(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9')
        return false;
    int64_t magnitude = 0;
    while (*p >= '0' && *p <= '9') {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > INT64_C(2147483648))
            return false;
        ++p;
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX || signedValue < INT32_MIN)
        return false;
    *value = static_cast<int32_t>(signedValue);
    return true;
}

}  // namespace

bool ParseRectangleText(const char* text, TextRectangle* out) {
    if (text == nullptr || out == nullptr)
        return false;
    int32_t values[4];
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != ',')
                return false;
            ++p;
        }
        if (!ReadNumber(p, &values[i]))
            return false;
    }
    *out = {values[0], values[1], values[2], values[3]};
    return true;
}

}  // namespace fluxmere
