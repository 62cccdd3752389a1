// Named events, named shared memory and code page conversion.

#include "platform/win32/named_objects.h"

#include <windows.h>

#include "platform/win32/wait_result.h"

namespace fluxmere::platform {

NamedEvent::~NamedEvent() {
    Close();
}

bool NamedEvent::Create(const wchar_t* name, bool manualReset, bool initiallySet,
                        bool* alreadyExisted) {
    Close();
    handle_ = CreateEventW(nullptr, manualReset, initiallySet, name);
    if (alreadyExisted != nullptr)
        *alreadyExisted = handle_ != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    return handle_ != nullptr;
}

bool NamedEvent::Open(const wchar_t* name) {
    Close();
    if (name == nullptr)
        return false;
    handle_ = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
    return handle_ != nullptr;
}

bool NamedEvent::Set() {
    return handle_ != nullptr && SetEvent(handle_) != FALSE;
}

bool NamedEvent::Reset() {
    return handle_ != nullptr && ResetEvent(handle_) != FALSE;
}

WaitResult NamedEvent::Wait(uint32_t timeoutMs) {
    if (handle_ == nullptr)
        return WaitResult::Failed;
    return ToWaitResult(WaitForSingleObject(handle_, timeoutMs));
}

void NamedEvent::Close() {
    if (handle_ == nullptr)
        return;
    CloseHandle(handle_);
    handle_ = nullptr;
}

SharedMemory::~SharedMemory() {
    Close();
}

bool SharedMemory::Create(const wchar_t* name, uint32_t size) {
    Close();
    if (size == 0)
        return false;
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
    return Map(size);
}

bool SharedMemory::Open(const wchar_t* name, uint32_t size) {
    Close();
    if (name == nullptr || size == 0)
        return false;
    mapping_ = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name);
    return Map(size);
}

bool SharedMemory::Map(uint32_t size) {
    if (mapping_ == nullptr)
        return false;
    // Mapping more than an existing object holds fails here rather than faulting later.
    view_ = MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
    if (view_ == nullptr) {
        Close();
        return false;
    }
    size_ = size;
    return true;
}

void SharedMemory::Close() {
    if (view_ != nullptr)
        UnmapViewOfFile(view_);
    if (mapping_ != nullptr)
        CloseHandle(mapping_);
    view_ = nullptr;
    mapping_ = nullptr;
    size_ = 0;
}

bool AnsiToWide(const char* text, wchar_t* out, int outChars) {
    if (out == nullptr || outChars <= 0)
        return false;
    out[0] = L'\0';
    if (text == nullptr)
        return false;
    // -1: the terminating NUL is converted too; a result that does not fit fails as a whole.
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, out, outChars) == 0) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

bool WideToAnsi(const wchar_t* text, char* out, int outBytes) {
    if (out == nullptr || outBytes <= 0)
        return false;
    out[0] = '\0';
    if (text == nullptr)
        return false;
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, out, outBytes, nullptr, nullptr) == 0) {
        out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace fluxmere::platform
