#pragma once
// The outcome of WaitForSingleObject as a WaitResult. Include after <windows.h>.

#include "platform/sync.h"

namespace fluxmere::platform {

inline WaitResult ToWaitResult(DWORD rc) {
    if (rc == WAIT_OBJECT_0)
        return WaitResult::Signaled;
    if (rc == WAIT_TIMEOUT)
        return WaitResult::Timeout;
    return WaitResult::Failed;
}

}  // namespace fluxmere::platform
