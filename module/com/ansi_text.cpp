#include "module/com/ansi_text.h"

#include <new>

namespace fluxmere::com {

AnsiText::AnsiText(BSTR text) {
    const int length = text != nullptr ? static_cast<int>(SysStringLen(text)) : 0;
    if (length == 0) {
        valid_ = true;
        return;
    }
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    text_.reset(new (std::nothrow) char[static_cast<size_t>(bytes) + 1]);
    if (!text_)
        return;
    if (WideCharToMultiByte(CP_ACP, 0, text, length, text_.get(), bytes, nullptr, nullptr) !=
        bytes) {
        text_.reset();
        return;
    }
    text_[bytes] = '\0';
    valid_ = true;
}

}  // namespace fluxmere::com
