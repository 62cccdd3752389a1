// The kelo parsers against hand-built wire bytes: layouts of every version, unknown track kinds,
// parameter lists, and refusal of anything that runs past the available bytes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container/kelo.h"
#include "container/kelo_writer.h"
#include "tests/container/wire_bytes.h"

namespace fluxmere {
namespace {

using testing::WireBytes;
using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string KindText(const FourCC& c) {
    return std::string(c.bytes, c.bytes + 4);
}
std::string Bytes(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

WireBytes VideoTrack(uint32_t w, uint32_t h) {
    WireBytes b;
    b.Text("vide").Text("mjpa").BE32(w).BE32(h).F32(1.5f).F32(-2.0f).F64(25.0).BE32(7);
    return b;
}
WireBytes AudioTrack() {
    WireBytes b;
    b.Text("audi").Text("p16S").BE32(48000).BE32(2).BE32(16).F64(0.5);
    return b;
}

struct StreamCase {
    const char* name;
    WireBytes bytes;
    size_t bytesRead;  // 0: refused
    std::vector<std::string> kinds;
    std::vector<size_t> trackParams;
    size_t streamParams;
};

std::vector<StreamCase> StreamCases() {
    std::vector<StreamCase> cases;
    cases.push_back({"v1 one video track is 5+36 bytes",
                     WireBytes().BE32(1).U8(1).Append(VideoTrack(352, 288)),
                     41,
                     {"vide"},
                     {0},
                     0});
    cases.push_back({"v2 lists after each track, none after the tracks",
                     WireBytes()
                         .BE32(2)
                         .U8(2)
                         .Append(VideoTrack(352, 288))
                         .BE32(0)
                         .Append(AudioTrack())
                         .Params({{"rate", "48000"}})
                         .Zeros(9),
                     5 + 36 + 4 + 28 + 4 + 8 + 4 + 5,
                     {"vide", "audi"},
                     {0, 1},
                     0});
    cases.push_back({"v3 stream list of count 0",
                     WireBytes().BE32(3).U8(1).Append(VideoTrack(352, 288)).BE32(0).BE32(0),
                     5 + 36 + 4 + 4,
                     {"vide"},
                     {0},
                     0});
    cases.push_back({"v3 stream list with an empty pair",
                     WireBytes()
                         .BE32(3)
                         .U8(1)
                         .Append(VideoTrack(352, 288))
                         .BE32(0)
                         .Params({{"", ""}, {"name", "cam"}}),
                     5 + 36 + 4 + 4 + 8 + 15,
                     {"vide"},
                     {0},
                     2});
    cases.push_back(
        {"unknown kind takes only its 8 code bytes (v1)",
         WireBytes().BE32(1).U8(2).Text("stat").Text("xxxx").Append(VideoTrack(640, 480)),
         5 + 8 + 36,
         {"stat", "vide"},
         {0, 0},
         0});
    cases.push_back({"unknown kind then its list (v2)",
                     WireBytes()
                         .BE32(2)
                         .U8(2)
                         .Text("stat")
                         .Text("xxxx")
                         .Params({{"k", "v"}})
                         .Append(VideoTrack(640, 480))
                         .BE32(0),
                     5 + 8 + 14 + 36 + 4,
                     {"stat", "vide"},
                     {1, 0},
                     0});
    cases.push_back({"no tracks", WireBytes().BE32(2).U8(0), 5, {}, {}, 0});
    cases.push_back({"version 0 has no lists",
                     WireBytes().BE32(0).U8(1).Append(AudioTrack()),
                     5 + 28,
                     {"audi"},
                     {0},
                     0});
    cases.push_back({"huge version compares unsigned: has every list",
                     WireBytes().BE32(0x80000000u).U8(0).BE32(0),
                     9,
                     {},
                     {},
                     0});
    // Refusals.
    cases.push_back({"parameter count 0xFFFFFFFF with 20 bytes",
                     WireBytes().BE32(3).U8(0).BE32(0xFFFFFFFFu).Zeros(11),
                     0,
                     {},
                     {},
                     0});
    cases.push_back({"key length past the end",
                     WireBytes().BE32(3).U8(0).BE32(1).BE32(0x7FFFFFF0u).Zeros(8),
                     0,
                     {},
                     {},
                     0});
    cases.push_back({"value length past the end",
                     WireBytes().BE32(3).U8(0).BE32(1).BE32(1).Text("k").BE32(5).Text("abcd"),
                     0,
                     {},
                     {},
                     0});
    cases.push_back({"255 tracks announced, one present",
                     WireBytes().BE32(1).U8(255).Append(VideoTrack(1, 1)),
                     0,
                     {},
                     {},
                     0});
    return cases;
}

TEST(KeloStreamHeader, ParsesLayoutsAndRefusesOverruns) {
    for (const StreamCase& c : StreamCases()) {
        SCOPED_TRACE(c.name);
        CKelo kelo;
        bool ok = kelo.ParseHeader(c.bytes.data(), c.bytes.size());
        ASSERT_EQ(ok, c.bytesRead != 0);
        if (!ok) {
            EXPECT_TRUE(kelo.tracks.empty());
            EXPECT_TRUE(kelo.parameters.empty());
            continue;
        }
        EXPECT_EQ(kelo.bytesRead(), c.bytesRead);
        ASSERT_EQ(kelo.tracks.size(), c.kinds.size());
        for (size_t i = 0; i < c.kinds.size(); ++i) {
            EXPECT_EQ(KindText(kelo.tracks[i].mediaKind), c.kinds[i]);
            EXPECT_EQ(kelo.tracks[i].parameters.size(), c.trackParams[i]);
        }
        EXPECT_EQ(kelo.parameters.size(), c.streamParams);

        // Every shorter prefix, in a buffer of exactly that size, is refused without reading on.
        for (size_t n = 0; n < c.bytesRead; ++n) {
            std::vector<uint8_t> prefix(c.bytes.bytes.begin(), c.bytes.bytes.begin() + n);
            CKelo truncated;
            ASSERT_FALSE(truncated.ParseHeader(prefix.data(), n)) << "prefix " << n;
            EXPECT_TRUE(truncated.tracks.empty());
        }
    }
}

TEST(KeloStreamHeader, ReadsEveryFieldAndReplacesOnReparse) {
    WireBytes first = WireBytes()
                          .BE32(3)
                          .U8(2)
                          .Append(VideoTrack(352, 288))
                          .Params({{"fps", "25"}})
                          .Append(AudioTrack())
                          .BE32(0)
                          .Params({{"a", "1"}, {"b", "2"}});
    CKelo kelo;
    ASSERT_TRUE(kelo.ParseHeader(first.data(), first.size()));
    EXPECT_EQ(kelo.version, 3u);
    const CKeloTrack& v = kelo.tracks[0];
    EXPECT_EQ(KindText(v.codecCode), "mjpa");
    EXPECT_EQ(v.width, 352u);
    EXPECT_EQ(v.height, 288u);
    EXPECT_EQ(v.videoSingleA, 1.5f);
    EXPECT_EQ(v.videoSingleB, -2.0f);
    EXPECT_EQ(v.videoDouble, 25.0);
    EXPECT_EQ(v.videoWord, 7u);
    EXPECT_EQ(v.audioWordA, 0u);
    EXPECT_EQ(Bytes(v.parameters[0].key), "fps");
    EXPECT_EQ(Bytes(v.parameters[0].value), "25");
    EXPECT_EQ(v.parameters[0].keyLength, 3u);
    const CKeloTrack& a = kelo.tracks[1];
    EXPECT_EQ(a.audioWordA, 48000u);
    EXPECT_EQ(a.audioWordB, 2u);
    EXPECT_EQ(a.audioWordC, 16u);
    EXPECT_EQ(a.audioDouble, 0.5);
    EXPECT_EQ(a.width, 0u);
    EXPECT_EQ(Bytes(kelo.parameters[1].value), "2");

    // A copy of a track owns its own list.
    CKeloTrack copy = kelo.tracks[0];
    kelo.tracks[0].parameters[0].key[0] = 'X';
    EXPECT_EQ(Bytes(copy.parameters[0].key), "fps");

    WireBytes second = WireBytes().BE32(2).U8(1).Append(VideoTrack(176, 144)).BE32(0);
    ASSERT_TRUE(kelo.ParseHeader(second.data(), second.size()));
    EXPECT_EQ(kelo.version, 2u);
    ASSERT_EQ(kelo.tracks.size(), 1u);
    EXPECT_EQ(kelo.tracks[0].width, 176u);
    EXPECT_TRUE(kelo.parameters.empty());

    EXPECT_FALSE(kelo.ParseHeader(nullptr, 100));
    EXPECT_TRUE(kelo.tracks.empty());
}

WireBytes FrameFixed(const char* kind, const char* codec) {
    WireBytes b;
    b.U8(0x42).Text(kind).Text(codec).BE32(9).F64(1.0).F64(2.0).F64(3.0);
    return b;
}

struct FrameCase {
    const char* name;
    uint32_t version;
    WireBytes bytes;
    size_t bytesRead;  // 0: refused
    uint32_t payloadSize;
    size_t params;
};

std::vector<FrameCase> FrameCases() {
    std::vector<FrameCase> cases;
    cases.push_back({"v1 payloadSize at 37", 1,
                     FrameFixed("vide", "mjpa").BE32(1000).Text("TAG1").BE32(5), 49, 1000, 0});
    cases.push_back({"v2 count 0, payloadSize at 41", 2,
                     FrameFixed("vide", "mjpa").BE32(0).BE32(2000).Text("TAG1").BE32(5), 53, 2000,
                     0});
    cases.push_back(
        {"v2 audio with parameters", 2,
         FrameFixed("audi", "p16S").Params({{"ch", "2"}, {"", ""}}).BE32(7680).BE32(11).BE32(12),
         37 + 4 + 11 + 8 + 12, 7680, 2});
    cases.push_back(
        {"other kind is 41 bytes (v1)", 1, FrameFixed("stat", "none").BE32(3), 41, 3, 0});
    cases.push_back({"v1 ignores what looks like a count", 1,
                     FrameFixed("audi", "p16S").BE32(0xFFFFFFFFu).BE32(1).BE32(2), 49, 0xFFFFFFFFu,
                     0});
    cases.push_back({"v2 count 0xFFFFFFFF with 20 bytes", 2,
                     FrameFixed("vide", "mjpa").BE32(0xFFFFFFFFu).Zeros(16), 0, 0, 0});
    cases.push_back(
        {"v2 count 2 with room for one", 2,
         FrameFixed("vide", "mjpa").BE32(2).BE32(1).Text("a").BE32(1).Text("b").Zeros(12), 0, 0,
         0});
    return cases;
}

TEST(KeloMediaFrameHeader, ParsesLayoutsAndRefusesOverruns) {
    for (const FrameCase& c : FrameCases()) {
        SCOPED_TRACE(c.name);
        CKeloMediaFrame frame(c.version);
        uint32_t out = 0xDEAD;
        bool ok = frame.ParseHeader(c.bytes.data(), c.bytes.size(), &out);
        ASSERT_EQ(ok, c.bytesRead != 0);
        EXPECT_EQ(frame.version, c.version);
        if (!ok) {
            EXPECT_EQ(out, 0xDEADu);
            EXPECT_TRUE(frame.parameters.empty());
            continue;
        }
        EXPECT_EQ(frame.bytesRead(), c.bytesRead);
        EXPECT_EQ(out, c.payloadSize);
        EXPECT_EQ(frame.payloadSize, c.payloadSize);
        EXPECT_EQ(frame.parameters.size(), c.params);
        EXPECT_EQ(frame.leadByte, 0x42u);
        EXPECT_EQ(frame.frameWord, 9u);
        EXPECT_EQ(frame.frameDoubleC, 3.0);
        for (size_t n = 0; n < c.bytesRead; ++n) {
            std::vector<uint8_t> prefix(c.bytes.bytes.begin(), c.bytes.bytes.begin() + n);
            CKeloMediaFrame truncated(c.version);
            ASSERT_FALSE(truncated.ParseHeader(prefix.data(), n, nullptr)) << "prefix " << n;
        }
    }
}

TEST(KeloMediaFrameHeader, VideoTagOffsetsNullOutPointerAndReparse) {
    // v2, no parameters: frameVideoTag at 45, frameVideoWord at 49.
    WireBytes video = FrameFixed("vide", "mjpa").BE32(0).BE32(1234).Text("ABCD").BE32(77);
    ASSERT_EQ(std::string(video.bytes.begin() + 45, video.bytes.begin() + 49), "ABCD");
    CKeloMediaFrame frame;
    EXPECT_EQ(frame.version, 2u);
    ASSERT_TRUE(frame.ParseHeader(video.data(), video.size(), nullptr));
    EXPECT_EQ(frame.payloadSize, 1234u);
    EXPECT_EQ(std::string(frame.frameVideoTag, frame.frameVideoTag + 4), "ABCD");
    EXPECT_EQ(frame.frameVideoWord, 77u);

    WireBytes withParams =
        FrameFixed("vide", "mjpa").Params({{"k", "v"}}).BE32(1).Text("T").Zeros(7);
    ASSERT_TRUE(frame.ParseHeader(withParams.data(), withParams.size(), nullptr));
    ASSERT_EQ(frame.parameters.size(), 1u);

    WireBytes audio = FrameFixed("audi", "p16S").BE32(0).BE32(4).BE32(5).BE32(6);
    ASSERT_TRUE(frame.ParseHeader(audio.data(), audio.size(), nullptr));
    EXPECT_TRUE(frame.parameters.empty());
    EXPECT_EQ(frame.frameVideoWord, 0u);
    EXPECT_EQ(frame.frameAudioWordA, 5u);
    EXPECT_EQ(frame.frameAudioWordB, 6u);
    EXPECT_FALSE(frame.ParseHeader(nullptr, 64, nullptr));
}

TEST(KeloWriter, RoundTripsThroughTheParsers) {
    for (uint32_t version : {1u, 2u, 3u}) {
        SCOPED_TRACE(version);
        CKelo stream;
        stream.version = version;
        CKeloTrack video;
        video.mediaKind = kKindVideo;
        video.codecCode = kCodecMjpa;
        video.width = 352;
        video.height = 288;
        video.videoSingleA = 0.25f;
        video.videoDouble = -1e300;
        video.parameters.Append(CKeloParameter("k", 1, "value", 5));
        CKeloTrack audio;
        audio.mediaKind = kKindAudio;
        audio.codecCode = kCodecP16S;
        audio.audioWordA = 48000;
        audio.audioDouble = 3.25;
        CKeloTrack other;
        other.mediaKind = FourCC{{'s', 't', 'a', 't'}};
        stream.tracks = {video, other, audio};
        stream.parameters.Append(CKeloParameter("", 0, "", 0));

        std::vector<uint8_t> wire(StreamHeaderSize(stream));
        ASSERT_EQ(WriteStreamHeader(stream, wire.data(), wire.size()), wire.size());
        EXPECT_EQ(WriteStreamHeader(stream, wire.data(), wire.size() - 1), 0u);
        CKelo parsed;
        ASSERT_TRUE(parsed.ParseHeader(wire.data(), wire.size()));
        EXPECT_EQ(parsed.bytesRead(), wire.size());
        ASSERT_EQ(parsed.tracks.size(), 3u);
        EXPECT_EQ(parsed.tracks[0].width, 352u);
        EXPECT_EQ(parsed.tracks[0].videoSingleA, 0.25f);
        EXPECT_EQ(parsed.tracks[0].videoDouble, -1e300);
        EXPECT_EQ(parsed.tracks[0].parameters.size(), version > 1 ? 1u : 0u);
        EXPECT_EQ(parsed.tracks[1].mediaKind, other.mediaKind);
        EXPECT_EQ(parsed.tracks[2].audioWordA, 48000u);
        EXPECT_EQ(parsed.tracks[2].audioDouble, 3.25);
        EXPECT_EQ(parsed.parameters.size(), version > 2 ? 1u : 0u);

        CKeloMediaFrame frame(version);
        frame.mediaKind = kKindVideo;
        frame.codecCode = kCodecMjpa;
        frame.leadByte = 0xAB;
        frame.frameDoubleB = 0.125;
        frame.frameVideoWord = 99;
        frame.parameters.Append(CKeloParameter("q", 1, "40", 2));
        const uint8_t payload[3] = {1, 2, 3};
        std::vector<uint8_t> block(BlockSize(frame, 3, 5));
        ASSERT_EQ(WriteBlock(frame, payload, 3, block.data(), block.size(), 5), block.size());
        uint32_t headerLength = LoadBE32(block.data());
        EXPECT_EQ(headerLength, MediaFrameHeaderSize(frame) + 5);
        CKeloMediaFrame back(version);
        uint32_t size = 0;
        ASSERT_TRUE(back.ParseHeader(block.data() + 4, headerLength, &size));
        EXPECT_EQ(size, 3u);
        EXPECT_EQ(back.leadByte, 0xABu);
        EXPECT_EQ(back.frameDoubleB, 0.125);
        EXPECT_EQ(back.frameVideoWord, 99u);
        EXPECT_EQ(back.parameters, version > 1 ? frame.parameters : CKeloParameterList());
        EXPECT_EQ(block[4 + headerLength], 1);  // the payload sits at 4 + L
    }
}

}  // namespace
}  // namespace fluxmere
