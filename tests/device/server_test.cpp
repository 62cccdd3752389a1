// The device's servers in-process, driven over loopback by a raw client: whole RTSP sessions with
// their media connection, the scripted behaviours, the clip export (also through curl), several
// clients one after another, and a Stop that ends every connection.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "container/combined_frame.h"
#include "container/kelo.h"
#include "device/clip.h"
#include "device/device.h"
#include "tests/device/raw_client.h"
#include "tests/support/loopback.h"

namespace fluxmere::device {
namespace {

using fluxmere::testing::HeaderNumber;
using fluxmere::testing::LoopbackText;
using fluxmere::testing::RawConnection;
using fluxmere::testing::Suite;

std::unique_ptr<Device> StartDevice(int index, DeviceOptions o) {
    o.address = LoopbackText(Suite::Device, index);
    auto device = std::make_unique<Device>(o);
    EXPECT_TRUE(device->Start()) << device->error();
    return device;
}

std::string Request(const std::string& method, const std::string& url, int cseq,
                    const std::string& extra = "") {
    return method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) + "\r\n" + extra +
           "\r\n";
}

// An RTSP client session: DESCRIBE, SETUP, media connection, PLAY.
struct Session {
    RawConnection rtsp;
    RawConnection media;
    std::string base;
    int cseq = 1;
    std::string header, body;

    int Exchange(const std::string& method, const std::string& suffix = "",
                 const std::string& extra = "") {
        if (!rtsp.Send(Request(method, base + suffix, cseq++, extra))) {
            return 0;
        }
        return rtsp.ReadRtspReply(&header, &body);
    }

    // Runs DESCRIBE to PLAY; false (with a gtest failure) when a step fails.
    bool Start(const std::string& address) {
        base = "rtsp://" + address + "/live";
        EXPECT_TRUE(rtsp.Connect(address, 554));
        EXPECT_EQ(Exchange("DESCRIBE", "", "Accept: application/sdp\r\n"), 200);
        EXPECT_EQ(Exchange("SETUP", "/video",
                           "Transport: TCP/RTP/AVP;unicast;queue=0;client_port=50123\r\n"),
                  200);
        const size_t at = header.find("server_port=");
        EXPECT_NE(at, std::string::npos) << header;
        if (at == std::string::npos)
            return false;
        const int serverPort = std::atoi(header.c_str() + at + 12);
        EXPECT_TRUE(media.Connect(address, static_cast<uint16_t>(serverPort)));
        return Exchange("PLAY", "", "Session: 12345678\r\nRange: smpte=--1:00:00:00\r\n") == 200;
    }

    // Reads one chunk and checks that it holds a well-formed combined frame; returns frameWord.
    int64_t NextFrame() {
        std::string data;
        if (!media.ReadChunk(&data))
            return -1;
        CKeloMediaFrame video(3), audio(3);
        CombinedFrameSpans spans;
        const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
        if (!SplitCombinedFrame(bytes, data.size(), video, audio, &spans))
            return -2;
        if (video.codecCode != kCodecMjpa || audio.codecCode != kCodecP16S)
            return -3;
        return video.frameWord;
    }
};

DeviceOptions Fast() {
    DeviceOptions o;
    o.width = 64;
    o.height = 48;
    o.fps = 200;
    o.clipBytes = 300000;
    return o;
}

TEST(DeviceRtsp, SessionStreamsFramesUntilTeardown) {
    auto device = StartDevice(1, Fast());
    Session s;
    ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 1)));
    for (int64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(s.NextFrame(), i);
    }
    EXPECT_EQ(s.Exchange("TEARDOWN", "", "Session: 12345678\r\n"), 200);
    // After the teardown the media connection ends (frames in flight may still arrive).
    std::string data;
    while (s.media.ReadChunk(&data)) {
    }
    EXPECT_TRUE(s.media.PeerClosed());
    const DeviceCounters c = device->Counters();
    EXPECT_EQ(c.describes, 1);
    EXPECT_EQ(c.setups, 1);
    EXPECT_EQ(c.plays, 1);
    EXPECT_EQ(c.teardowns, 1);
    EXPECT_EQ(c.mediaConnections, 1);
    EXPECT_GE(c.framesSent, 3);
    EXPECT_EQ(c.lastSetupClientPort, 50123);
    const std::vector<std::string> lines = device->RtspRequestLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "SETUP rtsp://" + LoopbackText(Suite::Device, 1) + "/live/video RTSP/1.0");
}

TEST(DeviceRtsp, DescribeReplyHoldsTheStreamHeader) {
    DeviceOptions o = Fast();
    o.streamVersion = 2;
    auto device = StartDevice(2, o);
    Session s;
    s.base = "rtsp://" + LoopbackText(Suite::Device, 2) + "/live";
    ASSERT_TRUE(s.rtsp.Connect(LoopbackText(Suite::Device, 2), 554));
    ASSERT_EQ(s.Exchange("DESCRIBE"), 200);
    EXPECT_NE(s.header.find("CSeq: 1\r\n"), std::string::npos);
    EXPECT_NE(s.body.find("m=audio"), std::string::npos);
    const std::string marker = "a=pgmpu:data:application/kelo;base64,";
    const size_t at = s.body.find(marker);
    ASSERT_NE(at, std::string::npos);
    const size_t end = s.body.find("\r\n", at);
    const auto description =
        testing::DecodeBase64(s.body.substr(at + marker.size(), end - at - marker.size()));
    ASSERT_GT(description.size(), 8u);
    CKelo stream;
    ASSERT_TRUE(stream.ParseHeader(description.data() + 8, description.size() - 8));
    EXPECT_EQ(stream.version, 2u);
    EXPECT_EQ(stream.tracks[0].width, 64u);
    EXPECT_EQ(stream.tracks[0].height, 48u);
}

TEST(DeviceRtsp, ScriptedBehaviours) {
    struct Case {
        const char* name;
        std::function<void(DeviceOptions&)> script;
        std::function<void(Session&)> check;
    };
    const Case cases[] = {
        {"busy", [](DeviceOptions& o) { o.busy = true; },
         [](Session& s) {
             EXPECT_EQ(s.Exchange("DESCRIBE"), 200);
             EXPECT_EQ(s.Exchange("SETUP", "/video",
                                  "Transport: TCP/RTP/AVP;unicast;queue=0;client_port=1\r\n"),
                       503);
         }},
        {"describe refused", [](DeviceOptions& o) { o.refuseDescribe = true; },
         [](Session& s) { EXPECT_EQ(s.Exchange("DESCRIBE"), 404); }},
        {"setup without server port", [](DeviceOptions& o) { o.setupWithoutServerPort = true; },
         [](Session& s) {
             EXPECT_EQ(s.Exchange("SETUP", "/video",
                                  "Transport: TCP/RTP/AVP;unicast;queue=0;client_port=1\r\n"),
                       200);
             EXPECT_EQ(s.header.find("server_port="), std::string::npos);
         }},
        {"no CSeq", [](DeviceOptions& o) { o.noCSeq = true; },
         [](Session& s) {
             EXPECT_EQ(s.Exchange("DESCRIBE"), 200);
             EXPECT_EQ(s.header.find("CSeq"), std::string::npos);
         }},
        {"long header", [](DeviceOptions& o) { o.longHeader = true; },
         [](Session& s) {
             EXPECT_EQ(s.Exchange("DESCRIBE"), 200);
             const std::string marker = "base64,";
             const size_t at = s.body.find(marker);
             const size_t end = s.body.find("\r\n", at);
             EXPECT_GT(end - at - marker.size(), 684u);  // more than 512 decoded bytes
         }},
        {"endless header", [](DeviceOptions& o) { o.endlessHeader = true; },
         [](Session& s) {
             ASSERT_TRUE(s.rtsp.Send(Request("DESCRIBE", s.base, 1)));
             std::string header;
             EXPECT_FALSE(s.rtsp.ReadHeader(&header, 1 << 20));  // 1 MiB and still no end
         }},
    };
    int index = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceOptions o = Fast();
        c.script(o);
        auto device = StartDevice(index, o);
        Session s;
        s.base = "rtsp://" + LoopbackText(Suite::Device, index) + "/live";
        ASSERT_TRUE(s.rtsp.Connect(LoopbackText(Suite::Device, index), 554));
        c.check(s);
        s.rtsp.Close();
        device->Stop();
        ++index;
    }
}

TEST(DeviceRtsp, EventMessageAfterTheSetTime) {
    DeviceOptions o = Fast();
    o.eventAfterMs = 50;
    auto device = StartDevice(20, o);
    Session s;
    ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 20)));
    std::string header, body;
    s.rtsp.ReadRtspReply(&header, &body);
    const std::string message = header + body;
    const size_t at = message.find("Event-Type: 3\r\n\r\n");
    ASSERT_NE(at, std::string::npos) << message;
    const std::string text = message.substr(at + 17, message.find('\r', at + 17) - at - 17);
    EXPECT_EQ(text, "Recording stopped");
    EXPECT_EQ(device->Counters().eventsSent, 1);
}

// The modes that leave a viewer waiting: requests never answered, replies that trickle, a
// listener that accepts nothing; and an event glued to the PLAY reply.
TEST(DeviceRtsp, HostileModes) {
    {
        SCOPED_TRACE("silent on TEARDOWN");
        DeviceOptions o = Fast();
        o.silentOn = "TEARDOWN";
        auto device = StartDevice(22, o);
        Session s;
        ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 22)));
        platform::SetRecvTimeout(s.rtsp.socket(), 300);
        ASSERT_TRUE(s.rtsp.Send(Request("TEARDOWN", s.base, 9)));
        EXPECT_TRUE(s.rtsp.SilentUntilTimeout());
        EXPECT_TRUE(
            device->WaitFor([](const DeviceCounters& c) { return c.teardowns == 1; }, 10000));
        EXPECT_GE(s.NextFrame(), 0);  // the media goes on
        EXPECT_GE(s.NextFrame(), 0);
    }
    {
        SCOPED_TRACE("silent on DESCRIBE and SETUP");
        DeviceOptions o = Fast();
        o.silentOn = "DESCRIBE,SETUP";
        auto device = StartDevice(23, o);
        RawConnection rtsp;
        ASSERT_TRUE(rtsp.Connect(LoopbackText(Suite::Device, 23), 554, 300));
        const std::string base = "rtsp://" + LoopbackText(Suite::Device, 23) + "/live";
        ASSERT_TRUE(rtsp.Send(Request("DESCRIBE", base, 1)));
        EXPECT_TRUE(rtsp.SilentUntilTimeout());
        ASSERT_TRUE(rtsp.Send(Request("SETUP", base + "/video", 2)));
        EXPECT_TRUE(rtsp.SilentUntilTimeout());
        EXPECT_TRUE(device->WaitFor(
            [](const DeviceCounters& c) { return c.describes == 1 && c.setups == 1; }, 10000));
    }
    {
        SCOPED_TRACE("a reply byte a second");
        DeviceOptions o = Fast();
        o.replyByteMs = 1000;
        auto device = StartDevice(24, o);
        RawConnection rtsp;
        ASSERT_TRUE(rtsp.Connect(LoopbackText(Suite::Device, 24), 554));
        ASSERT_TRUE(rtsp.Send(Request("OPTIONS", "*", 1)));
        char first[64];
        EXPECT_EQ(platform::RecvSocket(rtsp.socket(), first, sizeof first), 1);
        EXPECT_EQ(first[0], 'R');
        platform::SetRecvTimeout(rtsp.socket(), 300);
        EXPECT_TRUE(rtsp.SilentUntilTimeout());
        device->Stop();  // ends the trickle at once
    }
    {
        SCOPED_TRACE("accepts nothing");
        DeviceOptions o = Fast();
        o.acceptNothing = true;
        auto device = StartDevice(25, o);
        RawConnection rtsp;
        ASSERT_TRUE(rtsp.Connect(LoopbackText(Suite::Device, 25), 554, 300));
        ASSERT_TRUE(rtsp.Send(Request("DESCRIBE", "rtsp://x/live", 1)));
        EXPECT_TRUE(rtsp.SilentUntilTimeout());
        EXPECT_EQ(device->Counters().rtspConnections, 0);
    }
    {
        SCOPED_TRACE("event with the PLAY reply");
        DeviceOptions o = Fast();
        o.eventWithPlay = true;
        auto device = StartDevice(26, o);
        Session s;
        ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 26)));
        std::string header, body;
        s.rtsp.ReadRtspReply(&header, &body);
        EXPECT_NE(header.find("Event-Type: 3\r\n"), std::string::npos) << header;
        EXPECT_EQ(body, "Recording stopped\r\n");
        EXPECT_EQ(device->Counters().eventsSent, 1);
    }
}

TEST(DeviceRtsp, ExclusiveDeviceIsBusyForASecondSession) {
    DeviceOptions o = Fast();
    o.exclusive = true;
    auto device = StartDevice(21, o);
    Session first;
    ASSERT_TRUE(first.Start(LoopbackText(Suite::Device, 21)));
    Session second;
    second.base = first.base;
    ASSERT_TRUE(second.rtsp.Connect(LoopbackText(Suite::Device, 21), 554));
    const std::string transport = "Transport: TCP/RTP/AVP;unicast;queue=0;client_port=2\r\n";
    EXPECT_EQ(second.Exchange("SETUP", "/video", transport), 503);
    EXPECT_EQ(first.Exchange("TEARDOWN"), 200);
    EXPECT_EQ(second.Exchange("SETUP", "/video", transport), 200);
}

TEST(DeviceMedia, FaultsAndHostileFrames) {
    {
        SCOPED_TRACE("close after two frames");
        DeviceOptions o = Fast();
        o.mediaFault = MediaFault::Close;
        o.mediaFramesBeforeFault = 2;
        auto device = StartDevice(30, o);
        Session s;
        ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 30)));
        EXPECT_EQ(s.NextFrame(), 0);
        EXPECT_EQ(s.NextFrame(), 1);
        EXPECT_TRUE(s.media.PeerClosed());
    }
    {
        SCOPED_TRACE("silence after one frame");
        DeviceOptions o = Fast();
        o.mediaFault = MediaFault::Silence;
        o.mediaFramesBeforeFault = 1;
        auto device = StartDevice(31, o);
        Session s;
        ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 31)));
        EXPECT_EQ(s.NextFrame(), 0);
        platform::SetRecvTimeout(s.media.socket(), 300);
        EXPECT_TRUE(s.media.SilentUntilTimeout());
    }
    {
        SCOPED_TRACE("trickle after one frame");
        DeviceOptions o = Fast();
        o.mediaFault = MediaFault::Trickle;
        o.mediaFramesBeforeFault = 1;
        auto device = StartDevice(35, o);
        Session s;
        ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 35)));
        EXPECT_EQ(s.NextFrame(), 0);
        // A chunk announced, then bytes of it that keep coming, each well within a second.
        platform::SetRecvTimeout(s.media.socket(), 1500);
        std::string line, bytes;
        ASSERT_TRUE(s.media.ReadLine(&line));
        EXPECT_EQ(line, "2000");
        EXPECT_TRUE(s.media.ReadExactly(3, &bytes));
        EXPECT_EQ(s.Exchange("TEARDOWN"), 200);
    }
    {
        SCOPED_TRACE("oversized chunk every second frame");
        DeviceOptions o = Fast();
        o.hostileFrame = HostileFrame::OversizedChunk;
        auto device = StartDevice(32, o);
        Session s;
        ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 32)));
        EXPECT_EQ(s.NextFrame(), 0);
        std::string data;
        size_t announced = 0;
        ASSERT_TRUE(s.media.ReadChunk(&data, &announced));
        EXPECT_EQ(announced, 1u << 20);
        EXPECT_EQ(s.NextFrame(), 2);
    }
    {
        SCOPED_TRACE("bad block lengths every second frame");
        DeviceOptions o = Fast();
        o.hostileFrame = HostileFrame::BadBlockLengths;
        auto device = StartDevice(33, o);
        Session s;
        ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 33)));
        EXPECT_EQ(s.NextFrame(), 0);
        EXPECT_EQ(s.NextFrame(), -2);
        EXPECT_EQ(s.NextFrame(), 2);
    }
}

TEST(DeviceMedia, ResetMidStream) {
    DeviceOptions o = Fast();
    o.mediaFault = MediaFault::Reset;
    o.mediaFramesBeforeFault = 2;
    auto device = StartDevice(34, o);
    Session s;
    ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 34)));
    EXPECT_EQ(s.NextFrame(), 0);
    EXPECT_EQ(s.NextFrame(), 1);
    EXPECT_EQ(s.NextFrame(), -1);
    EXPECT_EQ(s.media.lastError(), platform::kWsaEConnReset);
}

// An export request; returns the reply header and, for a chunked reply, the decoded body.
struct Export {
    std::string header;
    std::string body;
    std::vector<size_t> chunkSizes;
    std::vector<std::string> sizeLines;
    bool lastChunk = false;  // the zero-size chunk came
    bool closedAfterBody = false;
    int endError = 0;  // the read error that ended the connection (0: a close)
};

Export Fetch(const std::string& address, const std::string& path) {
    Export e;
    RawConnection http;
    EXPECT_TRUE(http.Connect(address, 80));
    http.Send("GET /" + path + " HTTP/1.1\r\nAccept: */*\r\n\r\n");
    if (!http.ReadHeader(&e.header))
        return e;
    const long length = HeaderNumber(e.header, "Content-Length");
    if (e.header.find("Transfer-Encoding: chunked") != std::string::npos) {
        std::string data;
        while (http.ReadChunk(&data)) {
            e.sizeLines.push_back(http.lastSizeLine());
            if (data.empty()) {
                e.lastChunk = true;
                break;
            }
            e.body += data;
            e.chunkSizes.push_back(data.size());
        }
    } else if (length > 0) {
        http.ReadExactly(static_cast<size_t>(length), &e.body);
    }
    e.closedAfterBody = http.PeerClosed();
    e.endError = http.lastError();
    return e;
}

TEST(DeviceExport, NotReadyRepliesThenTheClip) {
    DeviceOptions o = Fast();
    o.notReady = 2;
    o.clipName = "clip07";
    o.clipBytes = 1500000;
    o.clipSeed = 9;
    auto device = StartDevice(40, o);
    const std::string address = LoopbackText(Suite::Device, 40);
    const std::string command = "command.cgi?stream&kelo&codec=DV&start=0";
    for (int i = 0; i < 2; ++i) {
        const Export e = Fetch(address, command);
        EXPECT_NE(e.header.find("xml"), std::string::npos);
        EXPECT_EQ(e.body.rfind("<?xml", 0), 0u);  // a status document, no clip
    }
    const Export e = Fetch(address, command);
    EXPECT_EQ(e.header.find("xml"), std::string::npos);
    EXPECT_NE(e.header.find("Content-Disposition: attachment; filename=\"clip07.kelo\"\r\n"),
              std::string::npos);
    const std::vector<uint8_t> clip = GenerateClip("clip07", 1500000, 9);
    ASSERT_EQ(e.body.size(), clip.size());
    EXPECT_TRUE(
        std::equal(clip.begin(), clip.end(), reinterpret_cast<const uint8_t*>(e.body.data())));
    EXPECT_TRUE(e.closedAfterBody);
    for (size_t i = 0; i + 1 < e.chunkSizes.size(); ++i) {
        EXPECT_GE(e.chunkSizes[i], 32u * 1024);
        EXPECT_LE(e.chunkSizes[i], 200u * 1024);
    }

    EXPECT_EQ(Fetch(address, "index.html").header.find("HTTP/1.1 404"), 0u);
    const DeviceCounters c = device->Counters();
    EXPECT_EQ(c.exportRequests, 3);
    EXPECT_EQ(c.notReadyReplies, 2);
    EXPECT_EQ(c.clipsCompleted, 1);
    EXPECT_EQ(c.clipBytesSent, 1500000u);
    EXPECT_EQ(device->HttpRequestLines().front(), "GET /" + command + " HTTP/1.1");
}

TEST(DeviceExport, PacedAndStalledBodiesArriveWhole) {
    DeviceOptions o = Fast();
    o.clipBytes = 250000;
    o.bodyRate = 2000000;
    o.stallAfterBytes = 100000;
    o.bodyStallMs = 50;
    auto device = StartDevice(44, o);
    const Export e = Fetch(LoopbackText(Suite::Device, 44), "command.cgi?stream&kelo&");
    const std::vector<uint8_t> clip = GenerateClip(o.clipName, o.clipBytes, o.clipSeed);
    EXPECT_TRUE(e.body == std::string(clip.begin(), clip.end()));
    EXPECT_TRUE(e.closedAfterBody);
}

TEST(DeviceExport, EarlyCloseAndEndlessHeader) {
    DeviceOptions o = Fast();
    o.closeAfterBytes = 100000;
    auto device = StartDevice(41, o);
    const Export cut = Fetch(LoopbackText(Suite::Device, 41), "command.cgi?stream&kelo&");
    EXPECT_LT(cut.body.size(), 100000u);  // the last, cut chunk never completes
    EXPECT_EQ(device->Counters().clipBytesSent, 100000u);
    EXPECT_EQ(device->Counters().clipsCompleted, 0);

    o = Fast();
    o.endlessHeader = true;
    auto endless = StartDevice(42, o);
    RawConnection http;
    ASSERT_TRUE(http.Connect(LoopbackText(Suite::Device, 42), 80));
    http.Send("GET /command.cgi?stream&kelo& HTTP/1.1\r\n\r\n");
    std::string header;
    EXPECT_FALSE(http.ReadHeader(&header, 1 << 20));
}

// The export modes that a download must not take for a complete clip, and the one (a close at a
// chunk boundary without the zero-size chunk) that it must.
TEST(DeviceExport, HostileBodies) {
    struct Case {
        const char* name;
        std::function<void(DeviceOptions&)> script;
        std::function<void(const Export&, const std::string& clip)> check;
    };
    const Case cases[] = {
        {"chunk extensions", [](DeviceOptions& o) { o.chunkExtensions = true; },
         [](const Export& e, const std::string& clip) {
             EXPECT_TRUE(e.body == clip);
             ASSERT_GE(e.sizeLines.size(), 3u);
             EXPECT_NE(e.sizeLines[0].find(";q"), std::string::npos) << e.sizeLines[0];
             EXPECT_NE(e.sizeLines[1].find(" ;name=value"), std::string::npos);
             EXPECT_TRUE(e.lastChunk);
         }},
        {"error status", [](DeviceOptions& o) { o.exportStatus = 404; },
         [](const Export& e, const std::string&) {
             EXPECT_EQ(e.header.rfind("HTTP/1.1 404 ", 0), 0u);
             EXPECT_NE(e.header.find("Transfer-Encoding: chunked"), std::string::npos);
             EXPECT_EQ(e.body, "<html><body>No such clip</body></html>");
             EXPECT_TRUE(e.lastChunk);
         }},
        {"content length", [](DeviceOptions& o) { o.contentLengthBody = true; },
         [](const Export& e, const std::string& clip) {
             EXPECT_EQ(HeaderNumber(e.header, "Content-Length"), static_cast<long>(clip.size()));
             EXPECT_EQ(e.header.find("chunked"), std::string::npos);
             EXPECT_TRUE(e.body == clip);
             EXPECT_TRUE(e.closedAfterBody);
         }},
        {"no last chunk", [](DeviceOptions& o) { o.noLastChunk = true; },
         [](const Export& e, const std::string& clip) {
             EXPECT_TRUE(e.body == clip);
             EXPECT_FALSE(e.lastChunk);
             EXPECT_TRUE(e.closedAfterBody);
         }},
        {"reset", [](DeviceOptions& o) { o.resetAfterBytes = 100000; },
         [](const Export& e, const std::string&) {
             EXPECT_LT(e.body.size(), 100000u);
             EXPECT_FALSE(e.closedAfterBody);
             EXPECT_EQ(e.endError, platform::kWsaEConnReset);
         }},
    };
    int index = 45;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceOptions o = Fast();
        c.script(o);
        auto device = StartDevice(index, o);
        const Export e = Fetch(LoopbackText(Suite::Device, index), "command.cgi?stream&kelo&");
        const std::vector<uint8_t> clip = GenerateClip(o.clipName, o.clipBytes, o.clipSeed);
        c.check(e, std::string(clip.begin(), clip.end()));
        device->Stop();
        ++index;
    }
}

TEST(DeviceExport, CurlDownloadsTheGeneratedClip) {
    DeviceOptions o = Fast();
    o.clipName = "curl01";
    o.clipBytes = 2000000;
    o.clipSeed = 4;
    o.notReady = 0;
    auto device = StartDevice(43, o);
    const std::string path = ::testing::TempDir() + "device_curl_download.kelo";
    std::remove(path.c_str());
    const std::string command = "curl -s -f -o '" + path + "' 'http://" +
                                LoopbackText(Suite::Device, 43) + "/command.cgi?stream&kelo&x=1'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> stored(2000001);
    stored.resize(std::fread(stored.data(), 1, stored.size(), f));
    std::fclose(f);
    std::remove(path.c_str());
    EXPECT_TRUE(stored == GenerateClip("curl01", 2000000, 4));
}

TEST(DeviceLifecycle, ServesClientsOneAfterAnotherAndStopEndsEverything) {
    DeviceOptions o = Fast();
    o.clipBytes = 200000;
    auto device = StartDevice(50, o);
    const std::string address = LoopbackText(Suite::Device, 50);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Session s;
        ASSERT_TRUE(s.Start(address));
        EXPECT_EQ(s.NextFrame(), 0);
        if (round != 1) {  // the second client just goes away
            EXPECT_EQ(s.Exchange("TEARDOWN"), 200);
        }
        EXPECT_EQ(Fetch(address, "command.cgi?stream&kelo&").body.size(), 200000u);
    }
    EXPECT_TRUE(device->WaitFor([](const DeviceCounters& c) { return c.plays == 3; }, 10000));

    // A session in the middle of streaming and a slow download: Stop closes both.
    DeviceOptions slow = Fast();
    slow.bodyRate = 20000;
    auto busy = StartDevice(51, slow);
    Session s;
    ASSERT_TRUE(s.Start(LoopbackText(Suite::Device, 51)));
    RawConnection http;
    ASSERT_TRUE(http.Connect(LoopbackText(Suite::Device, 51), 80));
    http.Send("GET /command.cgi?stream&kelo& HTTP/1.1\r\n\r\n");
    std::string header;
    ASSERT_TRUE(http.ReadHeader(&header));
    busy->Stop();
    std::string data;
    while (s.media.ReadChunk(&data)) {
    }
    while (http.ReadChunk(&data) && !data.empty()) {
    }
    EXPECT_GE(busy->Counters().plays, 1);  // readable after the stop
    // The same address and fixed ports can be taken again at once.
    EXPECT_TRUE(StartDevice(51, Fast())->rtspPort() == 554);
}

}  // namespace
}  // namespace fluxmere::device
