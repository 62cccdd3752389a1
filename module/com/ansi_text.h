#pragma once
// Text from the COM boundary for the component's 8-bit inside: a BSTR converted to the system's
// ANSI code page (CP_ACP), NUL-terminated. A null BSTR is the empty text.

#include <windows.h>
#include <oleauto.h>

#include <memory>

namespace fluxmere::com {

class AnsiText {
public:
    explicit AnsiText(BSTR text);
    AnsiText(const AnsiText&) = delete;
    AnsiText& operator=(const AnsiText&) = delete;

    // False when the conversion or its buffer failed; c_str() is then the empty text.
    bool IsValid() const { return valid_; }
    const char* c_str() const { return text_ ? text_.get() : ""; }

private:
    std::unique_ptr<char[]> text_;
    bool valid_ = false;
};

}  // namespace fluxmere::com
