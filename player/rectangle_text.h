#pragma once
// The text SetRectangle takes: "x1,y1,x2,y2", read the way the format "%d,%d,%d,%d" reads it.

#include <cstdint>

namespace fluxmere {

struct TextRectangle {
    int32_t x1, y1, x2, y2;
};

// True when all four numbers were read. Like %d, each number may follow blanks and carry a sign;
// each comma must follow its number directly ("0 ,0,640,480" fails at the blank). A number that
// does not fit 32 bits counts as unread. Text after the fourth number is ignored.
bool ParseRectangleText(const char* text, TextRectangle* out);

}  // namespace fluxmere
