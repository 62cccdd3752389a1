// The fluxmere-device program, started the way the Windows tests start it (DeviceProcess): it
// prints its ready line, serves RTSP and the export, and ends cleanly on SIGTERM, releasing its
// ports. The same test runs natively and, cross-compiled, under Wine.

#include <gtest/gtest.h>

#include <string>

#include "container/kelo.h"
#include "platform/thread.h"
#include "tests/device/raw_client.h"
#include "tests/support/device_process.h"
#include "tests/support/loopback.h"

namespace fluxmere::testing {
namespace {

TEST(DeviceProgram, ServesUntilSigtermAndStopsCleanly) {
    const std::string address = LoopbackText(Suite::Device, 60);
    for (int run = 0; run < 2; ++run) {  // the second run finds the fixed ports free again
        SCOPED_TRACE(run);
        DeviceProcess device;
        ASSERT_TRUE(device.Start({"--address", address, "--not-ready", "1", "--clip-name", "prog01",
                                  "--clip-bytes", "300000", "--size", "64x48"}))
            << device.error();
        EXPECT_NE(device.readyLine().find("rtsp=" + address + ":554 http=" + address + ":80 pid="),
                  std::string::npos)
            << device.readyLine();

        RawConnection rtsp;
        ASSERT_TRUE(rtsp.Connect(address, 554));
        rtsp.Send("DESCRIBE rtsp://" + address + "/live RTSP/1.0\r\nCSeq: 1\r\n\r\n");
        std::string header, body;
        EXPECT_EQ(rtsp.ReadRtspReply(&header, &body), 200);
        EXPECT_NE(body.find("a=pgmpu:data:application/kelo;base64,"), std::string::npos);

        const std::string request = "GET /command.cgi?stream&kelo&DV HTTP/1.1\r\n\r\n";
        RawConnection first;
        ASSERT_TRUE(first.Connect(address, 80));
        first.Send(request);
        ASSERT_TRUE(first.ReadHeader(&header));
        EXPECT_NE(header.find("xml"), std::string::npos);

        RawConnection second;
        ASSERT_TRUE(second.Connect(address, 80));
        second.Send(request);
        ASSERT_TRUE(second.ReadHeader(&header));
        EXPECT_NE(header.find("filename=\"prog01.kelo\""), std::string::npos);
        std::string clip, data;
        while (second.ReadChunk(&data) && !data.empty()) {
            clip += data;
        }
        EXPECT_EQ(clip.size(), 300000u);
        CKelo stream;
        EXPECT_TRUE(stream.ParseHeader(reinterpret_cast<const uint8_t*>(clip.data()), clip.size()));
        EXPECT_EQ(stream.tracks.size(), 2u);

        // The RTSP connection is still open: SIGTERM must end the device anyway.
        EXPECT_TRUE(device.Stop()) << device.error();
        EXPECT_EQ(device.Counter("describes"), 1);
        EXPECT_EQ(device.Counter("exportRequests"), 2);
        EXPECT_EQ(device.Counter("clipBytesSent"), 300000);
        EXPECT_EQ(device.Counter("nothing"), -1);
        EXPECT_FALSE(rtsp.SilentUntilTimeout());  // closed, not left hanging
        RawConnection after;
        EXPECT_FALSE(after.Connect(address, 80));
    }
}

TEST(DeviceProgram, ForBoundsItsLife) {
    const std::string address = LoopbackText(Suite::Device, 61);
    DeviceProcess device;
    ASSERT_TRUE(device.Start({"--address", address, "--no-rtsp", "--for", "1"})) << device.error();
    // The device ends by itself: its port stops accepting (checked for up to 20 s).
    bool ended = false;
    for (int attempt = 0; attempt < 400 && !ended; ++attempt) {
        RawConnection probe;
        ended = !probe.Connect(address, 80);
        if (!ended) {
            platform::SleepMs(50);
        }
    }
    EXPECT_TRUE(ended);
    EXPECT_TRUE(device.Stop()) << device.error();  // already gone, and it went cleanly
}

}  // namespace
}  // namespace fluxmere::testing
