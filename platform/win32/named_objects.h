#pragma once
// Windows only: kernel objects that other processes open by name, and conversion between the
// ANSI code page and UTF-16 for the COM boundary. Portable code does not use this header.

#ifdef _WIN32

#include <cstdint>

#include "platform/sync.h"  // WaitResult

namespace fluxmere::platform {

// An event in the default object namespace.
class NamedEvent {
public:
    NamedEvent() = default;
    ~NamedEvent();  // closes
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    // CreateEventW: makes the event, or opens it when the name is taken by an event already
    // (alreadyExisted, optional, tells which).
    bool Create(const wchar_t* name, bool manualReset, bool initiallySet,
                bool* alreadyExisted = nullptr);
    // OpenEventW with synchronize and modify rights; fails when no event has the name.
    bool Open(const wchar_t* name);

    bool IsOpen() const { return handle_ != nullptr; }
    bool Set();
    bool Reset();
    WaitResult Wait(uint32_t timeoutMs);
    void Close();

private:
    void* handle_ = nullptr;
};

// A block of memory backed by the paging file, shared by name.
class SharedMemory {
public:
    SharedMemory() = default;
    ~SharedMemory();  // unmaps and closes
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // CreateFileMappingW of size bytes, mapped for reading and writing. An existing mapping of
    // that name is opened instead; it must be at least size bytes.
    bool Create(const wchar_t* name, uint32_t size);
    // OpenFileMappingW of an existing mapping, size bytes of it mapped.
    bool Open(const wchar_t* name, uint32_t size);

    void* data() const { return view_; }
    uint32_t size() const { return size_; }
    void Close();

private:
    bool Map(uint32_t size);

    void* mapping_ = nullptr;
    void* view_ = nullptr;
    uint32_t size_ = 0;
};

// text in the ANSI code page into out (outChars wide characters, NUL included). False, with an
// empty out, when it does not fit or cannot be converted.
bool AnsiToWide(const char* text, wchar_t* out, int outChars);
// The reverse; characters without an ANSI form become the code page's default character.
bool WideToAnsi(const wchar_t* text, char* out, int outBytes);

}  // namespace fluxmere::platform

#endif  // _WIN32
