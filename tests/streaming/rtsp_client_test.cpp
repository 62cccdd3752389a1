#include "streaming/rtsp_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/streaming/scripted_peer.h"
#include "tests/support/loopback.h"

namespace fluxmere {
namespace {

using testing::LoopbackAddress;
using testing::ScriptedPeer;
using testing::Suite;

std::string Reply(int status, int cseq, const std::string& headers = "",
                  const std::string& body = "") {
    std::string text = "RTSP/1.0 " + std::to_string(status) +
                       " OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + headers;
    if (!body.empty())
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return text + "\r\n" + body;
}

std::string Base64(const std::string& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            v |= static_cast<uint8_t>(bytes[i + 2]);
        text += kAlphabet[(v >> 18) & 63];
        text += kAlphabet[(v >> 12) & 63];
        text += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
    }
    return text;
}

std::string Description(const std::string& header, bool audio) {
    return "v=0\r\nm=video 0 RTP/AVP 26\r\n" +
           std::string(audio ? "m=audio 0 RTP/AVP 97\r\n" : "") +
           "a=pgmpu:data:application/kelo;base64," + Base64(header) + "\r\na=x\r\n";
}

const std::string kStreamHeader =
    std::string("\x00\x01\x02\x03\x04\x05\x06\x07", 8) + "kelo-header";

struct OpenResult {
    int32_t result = 99;
    int32_t videoServerPort = -7;
    int32_t audioServerPort = -7;
    bool hasAudio = false;
    std::vector<uint8_t> header = std::vector<uint8_t>(512, 0xEE);
    int32_t headerLength = -7;
};

OpenResult OpenVideo(CRTSPClient& client, platform::SocketHandle socket, int32_t audioPort = 0,
                     int32_t capacity = 512, const char* host = "192.168.0.20",
                     const char* path = "live") {
    OpenResult r;
    RTSPOpenOptions options;
    options.videoClientPort = 50123;
    options.videoServerPort = &r.videoServerPort;
    options.audioClientPort = audioPort;
    options.audioServerPort = &r.audioServerPort;
    options.tcp = true;
    options.hasAudio = &r.hasAudio;
    options.headerBuffer = r.header.data();
    options.headerCapacity = capacity;
    options.headerLength = &r.headerLength;
    r.result = client.Open(host, path, socket, options);
    return r;
}

TEST(RtspClientTest, SessionsSendExactRequestsAndCSeqNeverResets) {
    CRTSPClient client;
    std::vector<std::string> sent;
    for (int session = 0; session < 2; ++session) {
        ScriptedPeer peer(LoopbackAddress(Suite::Streaming, 1 + session));
        const int base = session * 5;
        peer.ReadRequest().Send(Reply(200, base + 1, "", Description(kStreamHeader, false)));
        peer.ReadRequest().Send(
            Reply(200, base + 2, "Transport: TCP/RTP/AVP;unicast;server_port=6970-6971\r\n"));
        peer.ReadRequest().Send(Reply(200, base + 3));
        peer.ReadRequest().Send(Reply(200, base + 4));
        peer.ReadRequest();
        peer.Start();
        const platform::SocketHandle s = peer.ConnectClient();
        ASSERT_NE(s, platform::kInvalidSocket);

        const OpenResult r = OpenVideo(client, s);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.videoServerPort, 6970);
        EXPECT_EQ(r.audioServerPort, -7);
        EXPECT_FALSE(r.hasAudio);
        ASSERT_EQ(r.headerLength, static_cast<int32_t>(kStreamHeader.size()));
        EXPECT_EQ(0, std::memcmp(r.header.data(), kStreamHeader.data(), kStreamHeader.size()));
        EXPECT_EQ(r.header[kStreamHeader.size()], 0xEE);
        EXPECT_TRUE(client.Play(RTSPPlayRange()));
        EXPECT_TRUE(client.Teardown(true));
        EXPECT_TRUE(client.Teardown(false));  // returns without a reply
        ASSERT_TRUE(peer.Finish());
        platform::CloseSocket(s);
        for (const std::string& request : peer.Requests())
            sent.push_back(request);
    }
    const std::vector<std::string> expected = {
        "DESCRIBE rtsp://192.168.0.20/live RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n",
        "SETUP rtsp://192.168.0.20/live/video RTSP/1.0\r\nCSeq: 2\r\nTransport: "
        "TCP/RTP/AVP;unicast;queue=0;client_port=50123\r\n\r\n",
        "PLAY rtsp://192.168.0.20/live RTSP/1.0\r\nCSeq: 3\r\nSession: 12345678\r\nRange: "
        "smpte=--1:00:00:00\r\n\r\n",
        "TEARDOWN rtsp://192.168.0.20/live RTSP/1.0\r\nCSeq: 4\r\nSession: 12345678\r\n\r\n",
        "TEARDOWN rtsp://192.168.0.20/live RTSP/1.0\r\nCSeq: 5\r\nSession: 12345678\r\n\r\n",
        "DESCRIBE rtsp://192.168.0.20/live RTSP/1.0\r\nCSeq: 6\r\nAccept: application/sdp\r\n\r\n",
    };
    ASSERT_EQ(sent.size(), 10u);
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(sent[i], expected[i]) << i;
    EXPECT_NE(sent[9].find("CSeq: 10\r\n"), std::string::npos);
}

TEST(RtspClientTest, PlayFullRangeAndOtherTransports) {
    CRTSPClient client;
    char output[256];
    ScriptedPeer peer(LoopbackAddress(Suite::Streaming, 3));
    peer.ReadRequest().Send(Reply(200, 1));
    peer.ReadRequest().Send("RTSP/1.0 454 Session Not Found\r\nCSeq: 2\r\n\r\n");
    peer.Start();
    const platform::SocketHandle s = peer.ConnectClient();
    client.Attach(s);
    EXPECT_TRUE(client.Play({{0, 1, 2, 3}, {10, 11, 12, 13}}));
    EXPECT_FALSE(client.Play({{0, 0, 0, 0}, {-1, 0, 0, 0}}));
    ASSERT_TRUE(peer.Finish());
    EXPECT_EQ(peer.Requests()[0],
              "PLAY rtsp:/// RTSP/1.0\r\nCSeq: 1\r\nSession: 12345678\r\nRange: "
              "smpte=00:01:02:03-10:11:12:13\r\n\r\n");
    EXPECT_NE(peer.Requests()[1].find("Range: smpte=00:00:00:00--1:00:00:00\r\n"),
              std::string::npos);
    ASSERT_GT(client.FormatSetup("status", output, 7000, false, 3, sizeof output), 0);
    EXPECT_NE(
        std::string(output).find("SETUP rtsp:////status RTSP/1.0\r\nCSeq: 3\r\n"
                                 "Transport: RTP/AVP/UDP;unicast;queue=3;client_port=7000\r\n"),
        std::string::npos);
    // A request that does not fit its output takes no CSeq.
    EXPECT_EQ(client.FormatDescribe(output, 10), -1);
    ASSERT_GT(client.FormatDescribe(output, sizeof output), 0);
    EXPECT_NE(std::string(output).find("CSeq: 4\r\n"), std::string::npos);
    platform::CloseSocket(s);
}

struct OpenCase {
    const char* name;
    std::string describe;
    std::string setup;  // empty: the peer expects no SETUP
    int32_t capacity;
    int32_t expected;
    bool headerWritten;
    int32_t serverPort;  // -7: not written
};

TEST(RtspClientTest, OpenOutcomes) {
    const std::string desc = Description(kStreamHeader, false);
    const std::string port = "Transport: x;server_port=7000\r\n";
    const OpenCase cases[] = {
        {"describe not 200", "RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n", "", 512, -1, false, -7},
        {"describe without CSeq", "RTSP/1.0 200 OK\r\n\r\n", "", 512, -1, false, -7},
        {"device busy", Reply(200, 1, "", desc), "RTSP/1.0 503 Busy\r\nCSeq: 2\r\n\r\n", 512, 503,
         true, -7},
        {"setup without server_port", Reply(200, 1, "", desc), Reply(200, 2), 512, -1, true, -7},
        {"setup without CSeq", Reply(200, 1, "", desc), "RTSP/1.0 200 OK\r\n" + port + "\r\n", 512,
         0, true, -7},
        {"header exactly fits", Reply(200, 1, "", desc), Reply(200, 2, port), 19, 0, true, 7000},
        {"header one byte too large", Reply(200, 1, "", desc), "", 18, -1, false, -7},
        {"no header attribute", Reply(200, 1, "", "v=0\r\n"), Reply(200, 2, port), 512, 0, false,
         7000},
        {"no body", Reply(200, 1), Reply(200, 2, port), 512, 0, false, 7000},
    };
    int index = 10;
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer(LoopbackAddress(Suite::Streaming, index++));
        peer.ReadRequest().Send(c.describe);
        if (!c.setup.empty())
            peer.ReadRequest().Send(c.setup);
        peer.ReadUntilClosed();
        peer.Start();
        const platform::SocketHandle s = peer.ConnectClient();
        CRTSPClient client;
        const OpenResult r = OpenVideo(client, s, 0, c.capacity);
        platform::CloseSocket(s);
        ASSERT_TRUE(peer.Finish());
        EXPECT_EQ(r.result, c.expected);
        EXPECT_EQ(peer.Requests().size(), c.setup.empty() ? 1u : 2u);
        EXPECT_EQ(peer.Unread(), "");  // nothing sent beyond what the script expected
        EXPECT_EQ(r.headerLength, c.headerWritten ? 19 : -7);
        EXPECT_EQ(r.header[c.headerWritten ? 19 : 0], 0xEE);
        EXPECT_EQ(r.videoServerPort, c.serverPort);
    }
}

TEST(RtspClientTest, AudioTrackFollowsTheDescription) {
    for (bool audio : {true, false}) {
        ScriptedPeer peer(LoopbackAddress(Suite::Streaming, audio ? 20 : 21));
        peer.ReadRequest().Send(Reply(200, 1, "", Description(kStreamHeader, audio)));
        peer.ReadRequest().Send(Reply(200, 2, "Transport: server_port=7000\r\n"));
        if (audio)
            peer.ReadRequest().Send(Reply(200, 3, "Transport: server_port=7002\r\n"));
        peer.ReadUntilClosed();
        peer.Start();
        const platform::SocketHandle s = peer.ConnectClient();
        CRTSPClient client;
        const OpenResult r = OpenVideo(client, s, 50124);
        platform::CloseSocket(s);
        ASSERT_TRUE(peer.Finish());
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.hasAudio, audio);
        EXPECT_EQ(r.audioServerPort, audio ? 7002 : -7);
        const auto requests = peer.Requests();
        ASSERT_EQ(requests.size(), audio ? 3u : 2u);
        if (audio) {
            EXPECT_EQ(requests[2].rfind(
                          "SETUP rtsp://192.168.0.20/live/audio RTSP/1.0\r\nCSeq: 3\r\n", 0),
                      0u);
            EXPECT_NE(requests[2].find("client_port=50124\r\n"), std::string::npos);
        }
    }
}

TEST(RtspClientTest, OverlongHostOrPathIsRefusedWithoutSending) {
    const std::string longest(255, 'h');
    const std::string tooLong(256, 'h');
    struct Case {
        const std::string* host;
        const std::string* path;
        bool sent;
    } cases[] = {
        {&tooLong, &longest, false}, {&longest, &tooLong, false}, {&longest, &longest, true}};
    int index = 25;
    for (const Case& c : cases) {
        ScriptedPeer peer(LoopbackAddress(Suite::Streaming, index++));
        if (c.sent) {
            peer.ReadRequest().Close();  // no reply: the client's read ends at the close
        } else {
            peer.ReadUntilClosed();
        }
        peer.Start();
        const platform::SocketHandle s = peer.ConnectClient();
        CRTSPClient client;
        const OpenResult r = OpenVideo(client, s, 0, 512, c.host->c_str(), c.path->c_str());
        platform::CloseSocket(s);
        ASSERT_TRUE(peer.Finish());
        EXPECT_EQ(r.result, -1);
        if (c.sent) {
            ASSERT_EQ(peer.Requests().size(), 1u);
            EXPECT_EQ(peer.Requests()[0],
                      "DESCRIBE rtsp://" + longest + "/" + longest +
                          " RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n");
        } else {
            EXPECT_EQ(peer.Unread(), "");
        }
    }
}

struct ReadCase {
    const char* name;
    std::string bytes;
    std::vector<size_t> cuts;  // the peer sends the bytes in pieces cut here
    bool dripHeader;           // the header one byte per send, then the body in one send
    int32_t status;
    int32_t headerLength;
    int32_t contentLength;
};

TEST(RtspClientTest, ReadResponseAcrossReads) {
    const std::string header = "RTSP/1.0 200 OK\r\nCSeq: 12\r\nContent-Length: 10\r\n\r\n";
    const std::string full = header + "0123456789";
    const int32_t headerLength = static_cast<int32_t>(header.size()) - 2;
    const size_t cseq = full.find("CSeq");
    const size_t length = full.find("Content-Length");
    const size_t blank = full.find("\r\n\r\n");
    const ReadCase cases[] = {
        {"one read", full, {}, false, 200, headerLength, 10},
        {"split inside the markers",
         full,
         {cseq + 2, length + 7, blank + 1, blank + 3},
         false,
         200,
         headerLength,
         10},
        {"split inside the status", full, {9, 10}, false, 200, headerLength, 10},
        {"body completed by one more read",
         full,
         {header.size() + 3},
         false,
         200,
         headerLength,
         10},
        {"body short after one more read",
         full.substr(0, full.size() - 1),
         {header.size() + 3},
         false,
         0,
         0,
         0},
        {"header in a slow drip", full, {}, true, 200, headerLength, 10},
        {"no CSeq", "RTSP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", {}, false, 0, 0, 0},
        {"no content length", "RTSP/1.0 503 Busy\r\nCSeq: 1\r\n\r\n", {}, false, 503, 28, 0},
        {"closed inside the header", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", {}, false, 0, 0, 0},
        {"header fills the buffer",
         "RTSP/1.0 200 OK\r\nCSeq: 1\r\nX: " + std::string(20000, 'x'),
         {},
         false,
         0,
         0,
         0},
        {"body larger than the buffer",
         "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 16400\r\n\r\n" + std::string(16400, 'b'),
         {},
         false,
         0,
         0,
         0},
    };
    int index = 30;
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer(LoopbackAddress(Suite::Streaming, index++));
        if (c.dripHeader) {
            peer.Drip(header).Send(c.bytes.substr(header.size()));
        } else {
            peer.SendPieces(c.bytes, c.cuts);
        }
        peer.ShutdownSend().ReadUntilClosed();
        peer.Start();
        const platform::SocketHandle s = peer.ConnectClient();
        CRTSPClient client;
        client.Attach(s);
        std::vector<char> buffer(CRTSPClient::kBufferSize + 16, '\x5A');
        int32_t headerOut = -3, contentOut = -3;
        const int32_t status = client.ReadResponse(buffer.data(), &headerOut, &contentOut);
        platform::CloseSocket(s);
        peer.Finish();  // a refused reply may leave the peer's bytes unread: its send can fail
        EXPECT_EQ(status, c.status);
        if (c.status != 0) {
            EXPECT_EQ(headerOut, c.headerLength);
            EXPECT_EQ(contentOut, c.contentLength);
            EXPECT_EQ(std::string(buffer.data(), c.bytes.size()), c.bytes);
        }
        for (size_t i = CRTSPClient::kBufferSize; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], '\x5A');
    }
}

TEST(RtspClientTest, FindServerPort) {
    struct Case {
        std::string header;
        bool found;
        int32_t port;
    } cases[] = {
        {"RTSP/1.0 200 OK\r\nTransport: TCP/RTP/AVP;server_port=6970-6971\r\n", true, 6970},
        {"RTSP/1.0 200 OK\r\nTransport: server_port=7000;x\r\n", true, 7000},
        {"RTSP/1.0 200 OK\r\nTransport: client_port=6970\r\n", false, 0},
        {"RTSP/1.0 200 OK\r\nTransport: server_port=", false, 0},
        {"RTSP/1.0 200 OK\r\nTransport: server_p", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        int32_t port = -1;
        EXPECT_EQ(CRTSPClient::FindServerPort(c.header.data(),
                                              static_cast<int32_t>(c.header.size()), &port),
                  c.found);
        EXPECT_EQ(port, c.found ? c.port : -1);
    }
    // Only the header counts: a port after the given length is not seen.
    const std::string text = "CSeq: 1\r\n\r\nserver_port=5\r\n";
    int32_t port = -1;
    EXPECT_FALSE(CRTSPClient::FindServerPort(text.data(), 9, &port));
}

TEST(RtspClientTest, DecodeBase64) {
    struct Case {
        std::string text;
        int32_t textLength;
        int32_t outputSize;
        std::string expected;
    } cases[] = {
        {"TWFu", 4, 16, "Man"},
        {"TWE=", 4, 16, "Ma"},
        {"TQ==", 4, 16, "M"},
        {"TWFu====", 8, 16, "Man"},
        {"T===", 4, 16, ""},
        {"TWFuTWFu", 6, 16, "ManM"},      // characters beyond the length do not count
        {"TW?u", 4, 16, "M`"},            // a foreign character: zero bits, not counted
        {"TWFuTWFuTWFu", 12, 4, "ManM"},  // stops at the buffer's end
        {"TWFu", 4, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint8_t output[20];
        std::memset(output, 0xEE, sizeof output);
        const int32_t n =
            CRTSPClient::DecodeBase64(c.text.data(), output, c.textLength, c.outputSize);
        ASSERT_EQ(n, static_cast<int32_t>(c.expected.size()));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(output), n), c.expected);
        EXPECT_EQ(output[n], 0xEE);
        if (c.outputSize >= 16) {
            EXPECT_EQ(CRTSPClient::DecodedBase64Size(c.text.data(), c.textLength), n);
        }
    }
    EXPECT_EQ(CRTSPClient::DecodedBase64Size("TWFuTWFuTWFu", 12), 9);
}

TEST(RtspClientTest, WaitForEvent) {
    auto event = [](const std::string& text) {
        return "ANNOUNCE rtsp://d/x RTSP/1.0\r\nCSeq: 7\r\nContent-Length: " +
               std::to_string(text.size()) + "\r\nEvent-Type: 3\r\n\r\n" + text;
    };
    struct Case {
        const char* name;
        std::string message;
        const char* expected;  // nullptr: none
    } cases[] = {
        {"reply 200", Reply(200, 4), nullptr},
        {"other message", Reply(404, 4), "End of stream"},
        {"closed", "", "End of stream"},
        {"event", event("Recording stopped\r\n"), "Recording stopped"},
        {"event of 63 characters", event(std::string(63, 'e') + "\r\n"), nullptr},
        {"event of 64 characters", event(std::string(64, 'e') + "\r\n"), "Error"},
        {"event without CR", event("stopped"), "Error"},
    };
    int index = 50;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer(LoopbackAddress(Suite::Streaming, index++));
        peer.Send(c.message).ShutdownSend().ReadUntilClosed();
        peer.Start();
        const platform::SocketHandle s = peer.ConnectClient();
        CRTSPClient client;
        client.Attach(s);
        const char* text = client.WaitForEvent();
        const std::string got = text ? text : "(none)";
        platform::CloseSocket(s);
        ASSERT_TRUE(peer.Finish());
        if (std::string(c.name) == "event of 63 characters") {
            EXPECT_EQ(got, std::string(63, 'e'));
        } else {
            EXPECT_EQ(got, c.expected ? c.expected : "(none)");
        }
    }
}

// A device may send its event in the same segment as the PLAY reply (or two replies at once):
// what follows a reply is the next message, not something to drop.
TEST(RtspClientTest, BytesBehindAReplyAreTheNextMessage) {
    const std::string event =
        "ANNOUNCE rtsp://d/x RTSP/1.0\r\nCSeq: 1\r\nContent-Length: 19\r\n"
        "Event-Type: 3\r\n\r\nRecording stopped\r\n";
    ScriptedPeer peer(LoopbackAddress(Suite::Streaming, 62));
    peer.ReadRequest().Send(Reply(200, 1) + event);
    peer.ReadRequest().Send(Reply(200, 2) + Reply(404, 3, "", "body") + Reply(200, 4));
    peer.ReadUntilClosed();
    peer.Start();
    const platform::SocketHandle s = peer.ConnectClient();
    platform::SetRecvTimeout(s, 2000);  // a lost message fails the test instead of hanging it
    CRTSPClient client;
    client.Attach(s);
    EXPECT_TRUE(client.Play(RTSPPlayRange()));
    const char* text = client.WaitForEvent();
    EXPECT_STREQ(text ? text : "(none)", "Recording stopped");
    EXPECT_TRUE(client.Teardown(true));
    std::vector<char> buffer(CRTSPClient::kBufferSize);
    int32_t headerLength = 0, contentLength = 0;
    EXPECT_EQ(client.ReadResponse(buffer.data(), &headerLength, &contentLength), 404);
    EXPECT_EQ(std::string(buffer.data() + headerLength + 2, contentLength), "body");
    EXPECT_EQ(client.WaitForEvent(), nullptr);  // the last 200
    platform::CloseSocket(s);
    ASSERT_TRUE(peer.Finish());
}

// After CloseConnection nothing is sent, not even to a socket the system has since given the
// closed one's number (Windows reuses socket numbers at once).
TEST(RtspClientTest, NothingIsSentAfterTheConnectionIsClosed) {
    ScriptedPeer first(LoopbackAddress(Suite::Streaming, 63));
    ScriptedPeer second(LoopbackAddress(Suite::Streaming, 64));
    first.ReadUntilClosed();
    second.ReadUntilClosed();
    first.Start();
    second.Start();
    CRTSPClient client;
    client.Attach(first.ConnectClient());
    EXPECT_TRUE(client.CloseConnection());
    EXPECT_FALSE(client.CloseConnection());
    const platform::SocketHandle other = second.ConnectClient();
    client.Teardown(false);
    EXPECT_FALSE(client.Play(RTSPPlayRange()));
    platform::CloseSocket(other);
    ASSERT_TRUE(first.Finish());
    ASSERT_TRUE(second.Finish());
    EXPECT_EQ(first.Unread(), "");
    EXPECT_EQ(second.Unread(), "");
}

// The session thread blocks in WaitForEvent; another thread's TEARDOWN with wait leaves the
// reply to it instead of racing it for the bytes.
TEST(RtspClientTest, TeardownLeavesTheReplyToTheCurrentReader) {
    ScriptedPeer peer(LoopbackAddress(Suite::Streaming, 60));
    peer.ReadRequest().Send(Reply(200, 1));
    peer.ReadRequest().Send(Reply(404, 2)).ReadUntilClosed();
    peer.Start();
    const platform::SocketHandle s = peer.ConnectClient();
    CRTSPClient client;
    client.Attach(s);
    const char* event = "unset";
    std::thread session([&] { event = client.WaitForEvent(); });
    while (!client.IsReading())
        platform::SleepMs(1);
    EXPECT_TRUE(client.Teardown(true));
    session.join();
    EXPECT_EQ(event, nullptr);  // the session thread read the TEARDOWN's 200
    // With no other reader, Teardown reads its own reply.
    EXPECT_FALSE(client.Teardown(true));
    platform::CloseSocket(s);
    ASSERT_TRUE(peer.Finish());
    ASSERT_EQ(peer.Requests().size(), 2u);
    EXPECT_EQ(peer.Requests()[0].rfind("TEARDOWN ", 0), 0u);
}

// Requests from several threads go out whole, each with its own CSeq.
TEST(RtspClientTest, ConcurrentRequestsAreSentWhole) {
    constexpr int kPerThread = 200;
    ScriptedPeer peer(LoopbackAddress(Suite::Streaming, 61));
    for (int i = 0; i < 2 * kPerThread; ++i)
        peer.ReadRequest();
    peer.Start();
    const platform::SocketHandle s = peer.ConnectClient();
    CRTSPClient client;
    client.Attach(s);
    std::thread other([&] {
        for (int i = 0; i < kPerThread; ++i)
            client.Teardown(false);
    });
    for (int i = 0; i < kPerThread; ++i)
        client.Teardown(false);
    other.join();
    ASSERT_TRUE(peer.Finish());
    platform::CloseSocket(s);
    std::vector<bool> seen(2 * kPerThread + 1, false);
    for (const std::string& request : peer.Requests()) {
        ASSERT_EQ(request.rfind("TEARDOWN rtsp:/// RTSP/1.0\r\nCSeq: ", 0), 0u) << request;
        const int cseq = std::atoi(request.c_str() + request.find("CSeq: ") + 6);
        ASSERT_GE(cseq, 1);
        ASSERT_LE(cseq, 2 * kPerThread);
        EXPECT_FALSE(seen[cseq]);
        seen[cseq] = true;
        EXPECT_EQ(request, "TEARDOWN rtsp:/// RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
                               "\r\nSession: 12345678\r\n\r\n");
    }
}

}  // namespace
}  // namespace fluxmere
