#include "streaming/rtp_socket.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/streaming/scripted_peer.h"
#include "tests/support/loopback.h"

namespace fluxmere {
namespace {

using testing::LoopbackAddress;
using testing::ScriptedPeer;
using testing::Suite;

TEST(RtpSocketTest, OpenConnectAndCloseOnce) {
    CRTPSocket transport;
    int32_t port = -1;
    const platform::SocketHandle s = transport.Open(0, &port);
    ASSERT_NE(s, platform::kInvalidSocket);
    EXPECT_GT(port, 0);
    EXPECT_EQ(transport.LocalPort(), port);
    // A second Open reuses the bound socket.
    int32_t again = -1;
    EXPECT_EQ(transport.Open(0, &again), s);
    EXPECT_EQ(again, port);

    ScriptedPeer peer(LoopbackAddress(Suite::Streaming, 70));
    peer.Send("hello").ReadUntilClosed();
    peer.Start();
    ::testing::internal::CaptureStdout();
    transport.Connect(peer.Port(), peer.Address());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(transport.DataSocket(), s);
    EXPECT_EQ(transport.PeerAddress(), peer.Address());
    char bytes[5];
    ASSERT_EQ(platform::RecvSocket(transport.DataSocket(), bytes, 5), 5);
    EXPECT_EQ(std::string(bytes, 5), "hello");

    EXPECT_TRUE(transport.Close());
    EXPECT_TRUE(transport.Close());
    EXPECT_EQ(transport.MediaSocket(), platform::kInvalidSocket);
    EXPECT_EQ(transport.DataSocket(), platform::kInvalidSocket);
    EXPECT_TRUE(peer.Finish());  // the peer saw the close
    // The next session's Open makes a new socket.
    EXPECT_NE(transport.Open(0, nullptr), platform::kInvalidSocket);
}

TEST(RtpSocketTest, FailedConnectWritesTwoLinesAndTheLoopEndsNotConnected) {
    // A port that was just free: nothing listens on it.
    uint16_t freePort = 0;
    {
        ScriptedPeer probe(LoopbackAddress(Suite::Streaming, 71));
        freePort = probe.Port();
    }
    CRTPSocket transport;
    ASSERT_NE(transport.Open(0, nullptr), platform::kInvalidSocket);
    ::testing::internal::CaptureStdout();
    transport.Connect(freePort, LoopbackAddress(Suite::Streaming, 71));
    // The first error is the refusal; what a second connect on the same socket reports
    // differs between systems.
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string port = ") -port " + std::to_string(freePort) + "\n";
    const std::string first = "failed connect (10061" + port;
    ASSERT_EQ(out.substr(0, first.size()), first);
    const std::string second = out.substr(first.size());
    EXPECT_EQ(second.rfind("failed connect second time (", 0), 0u) << second;
    ASSERT_GT(second.size(), port.size());
    EXPECT_EQ(second.substr(second.size() - port.size()), port) << second;

    std::vector<uint8_t> buffer(200000);
    int notices = 0;
    transport.Receiver().SetCallback(
        [](uint8_t*, int32_t, void* c) -> uint8_t* {
            ++*static_cast<int*>(c);
            return nullptr;
        },
        &notices);
    transport.Receiver().SetBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(transport.Receiver().Run(transport.DataSocket()), platform::kWsaENotConn);
    EXPECT_EQ(notices, 0);
}

TEST(RtpSocketTest, StartRendezvous) {
    CRTPSocket transport;
    std::atomic<int> phase{0};
    std::thread receiver([&] {
        while (!transport.WaitStart()) {
        }
        phase = 1;
    });
    transport.RequestStart();
    // RequestStart returns only once the receiver thread has left WaitStart.
    int seen = 0;
    while ((seen = phase.load()) == 0)
        platform::SleepMs(1);
    EXPECT_EQ(seen, 1);
    receiver.join();
    // A second session meets the same way.
    std::thread second([&] { EXPECT_TRUE(transport.WaitStart()); });
    transport.RequestStart();
    second.join();
}

}  // namespace
}  // namespace fluxmere
