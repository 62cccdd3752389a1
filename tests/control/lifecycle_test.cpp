// The control's life cycle against the device: a hundred times made, pointed at the device,
// destroyed while playing. Afterwards no thread of a viewer is left, the device has seen every
// session torn down, and the process holds no more handles or memory than after the first.
#include <gtest/gtest.h>

#include <string>

#include "tests/control/test_container.h"
#include "tests/control/test_viewer.h"

#include "tests/support/device_process.h"
#include "tests/support/loopback.h"
#include "tests/support/win32/process_resources.h"

namespace fluxmere {
namespace {

using testing::DeviceProcess;
using testing::HandleCount;
using testing::LoopbackText;
using testing::PrivateMiB;
using testing::PumpUntil;
using testing::Suite;
using testing::TestContainer;
using testing::TestViewer;
using testing::ThreadCount;

// One cycle: made, embedded windowless, playing, destroyed. (One container serves every cycle:
// without a window manager, every top-level window Wine hides costs it a two-second wait.)
void Cycle(TestContainer& container, const std::string& url) {
    TestViewer* viewer = new TestViewer;
    ASSERT_EQ(container.Embed(viewer->unknown()), S_OK);
    CPlayerSession& session = viewer->Control().Core().Session();
    session.SetURL(url.c_str());
    EXPECT_TRUE(
        PumpUntil([&] { return session.Status() == static_cast<int32_t>(PlayerStatus::Playing); }));
    container.Unembed();
    viewer->Release();  // the last reference: the session ends with the control
}

TEST(ControlLifeCycle, HundredViewersLeaveNothingBehind) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int index = 74;
    DeviceProcess device;
    ASSERT_TRUE(device.Start({"--address", LoopbackText(Suite::Player, index), "--no-http"}))
        << device.error();
    const std::string url = "rtsp://" + LoopbackText(Suite::Player, index) + "/live";

    TestContainer container(320, 240, RECT{0, 0, 320, 240}, true);
    Cycle(container, url);  // the first one sets up what lives as long as the process
    const int threads = ThreadCount();
    const DWORD handles = HandleCount();
    const double memoryMiB = PrivateMiB();
    ASSERT_GT(handles, 0u) << "no handle count: the checks below would pass blindly";
    ASSERT_GT(memoryMiB, 0.0) << "no memory figure: the checks below would pass blindly";
    for (int i = 1; i < 100 && !HasFailure(); ++i)
        Cycle(container, url);
    // The system's own worker threads (sound, thread pool) come and go on their own: an idle
    // pool worker leaves after kPoolWorkerIdleMs. Give them that several times over; a viewer's
    // thread would stay.
    const DWORD kPoolWorkerIdleMs = 5000;
    EXPECT_TRUE(PumpUntil([&] { return ThreadCount() <= threads; }, 3 * kPoolWorkerIdleMs))
        << ThreadCount() << " threads, " << threads << " after the first viewer";
    EXPECT_LE(HandleCount(), handles + 8) << "handles grow";
    EXPECT_LT(PrivateMiB(), memoryMiB + 8) << "memory grows";
    RecordProperty("private_growth_kb",
                   std::to_string(static_cast<long>((PrivateMiB() - memoryMiB) * 1024)));

    // Every session the device played was torn down by the viewer going away.
    testing::Pump(200);
    const long long plays = device.Counter("plays");
    EXPECT_EQ(plays, 100);
    EXPECT_GE(device.Counter("teardowns"), plays);
    EXPECT_TRUE(device.Stop());
    CoUninitialize();
}

}  // namespace
}  // namespace fluxmere
