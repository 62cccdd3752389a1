#include "platform/sync.h"

#include <gtest/gtest.h>

#include "platform/thread.h"

namespace fluxmere::platform {
namespace {

TEST(EventTest, SmokeAutoReset) {
    Event event(false, true);
    EXPECT_EQ(event.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(event.Wait(0), WaitResult::Timeout);
}

}  // namespace
}  // namespace fluxmere::platform
