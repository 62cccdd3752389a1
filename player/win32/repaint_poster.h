#pragma once
// How worker threads ask the control's thread for a repaint without ever waiting for it.
//
// The session's threads (session, receiver, download jobs) call Request, which only sets a flag
// and posts one message to a message-only window owned by the control's thread; while a request
// is pending further ones are folded into it, so a busy or blocked control thread never sees its
// queue flooded. The control's thread, when it next pumps messages, runs the target's
// RepaintNow, which invalidates through the window or the container's site on that thread.
// Nothing here blocks: the control's thread may itself be waiting for the workers (in Stop or
// destruction) without any risk of deadlock. Windows only.

#ifdef _WIN32

#include <windows.h>

#include <atomic>

namespace fluxmere {

class IRepaintTarget {
public:
    // On the thread that made the poster.
    virtual void RepaintNow() = 0;

protected:
    ~IRepaintTarget() = default;
};

class CRepaintPoster {
public:
    // On the control's thread, which must pump messages. target must outlive this.
    explicit CRepaintPoster(IRepaintTarget& target);
    ~CRepaintPoster();  // on the same thread; requests still pending are dropped
    CRepaintPoster(const CRepaintPoster&) = delete;
    CRepaintPoster& operator=(const CRepaintPoster&) = delete;

    bool IsValid() const { return window_ != nullptr; }
    // From any thread; never waits.
    void Request();
    // Requests that reached the target, and requests folded into a pending one (for tests).
    long Delivered() const { return delivered_.load(); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    IRepaintTarget& target_;
    HWND window_ = nullptr;
    std::atomic<bool> pending_{false};
    std::atomic<long> delivered_{0};
};

}  // namespace fluxmere

#endif  // _WIN32
