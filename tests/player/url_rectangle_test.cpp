// The URL grammar and the SetRectangle text, as tables, and the target a session takes from it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/socket.h"
#include "player/player_session.h"
#include "player/rectangle_text.h"
#include "player/software_audio_output.h"
#include "player/stream_url.h"

namespace fluxmere {
namespace {

struct UrlCase {
    const char* url;
    bool accepted;
    const char* host;
    const char* path;
    bool dottedHost;  // the host is read as an address (else: default device address)
};

TEST(StreamUrl, Grammar) {
    const UrlCase cases[] = {
        {"rtsp://192.168.0.20/live/main", true, "192.168.0.20", "live/main", true},
        {"rtsp://ab/x", true, "ab", "x", false},
        {"rtsp://192.168.0.20:8554/x", true, "192.168.0.20:8554", "x", false},
        {"rtsp://127.0.0.1/", true, "127.0.0.1", "", true},  // empty path
        {"rtsp://host.name/a/b/c", true, "host.name", "a/b/c", false},
        {"rtsp://192.168.0.20", false, "", "", false},    // no slash after the host
        {"RTSP://192.168.0.20/x", false, "", "", false},  // case matters
        {"rtsp://a/x", false, "", "", false},             // one-character host
        {"rtsp:///x", false, "", "", false},              // empty host
        {"rtsp:/192.168.0.20/x", false, "", "", false},
        {"", false, "", "", false},
        {"rtsp://ab/x\r\nEvil: 1", false, "", "", false},  // would forge a request line
        {"rtsp://a\tb/x", false, "", "", false},
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.url);
        StreamUrl url;
        ASSERT_EQ(ParseStreamUrl(c.url, &url), c.accepted);
        if (!c.accepted)
            continue;
        EXPECT_STREQ(url.host, c.host);
        EXPECT_STREQ(url.path, c.path);
        EXPECT_EQ(HostAddress(url) != platform::kInaddrNone, c.dottedHost);
    }
    StreamUrl url;
    EXPECT_FALSE(ParseStreamUrl(nullptr, &url));
    ASSERT_TRUE(ParseStreamUrl("rtsp://192.168.0.20/live/main", &url));
    const uint8_t expected[4] = {192, 168, 0, 20};  // network byte order: first octet first
    uint32_t address = HostAddress(url);
    EXPECT_EQ(0, std::memcmp(&address, expected, 4));
}

TEST(StreamUrl, PartsMustFitTheirBuffers) {
    StreamUrl url;
    const std::string path255(255, 'p');
    EXPECT_TRUE(ParseStreamUrl(("rtsp://ab/" + path255).c_str(), &url));
    EXPECT_EQ(std::string(url.path), path255);
    EXPECT_FALSE(ParseStreamUrl(("rtsp://ab/" + path255 + "p").c_str(), &url));
    const std::string host255(255, 'h');
    EXPECT_TRUE(ParseStreamUrl(("rtsp://" + host255 + "/x").c_str(), &url));
    EXPECT_FALSE(ParseStreamUrl(("rtsp://" + host255 + "h/x").c_str(), &url));
}

TEST(RectangleText, Table) {
    struct Case {
        const char* text;
        bool read;
        TextRectangle rect;
    };
    const Case cases[] = {
        {"10,20,330,260", true, {10, 20, 330, 260}},
        {"0, 0, 640, 480", true, {0, 0, 640, 480}},  // blanks after commas are skipped
        {" -5,+7,1,2trailing", true, {-5, 7, 1, 2}},
        {"0,0,640", false, {}},
        {"0 ,0,640,480", false, {}},  // a blank before a comma stops the read
        {"", false, {}},
        {"a,b,c,d", false, {}},
        {"1,2,3,-", false, {}},
        {"2147483647,-2147483648,0,0", true, {2147483647, INT32_MIN, 0, 0}},
        {"2147483648,0,0,0", false, {}},  // does not fit 32 bits
        {"99999999999999999999999,0,0,0", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TextRectangle rect{-1, -1, -1, -1};
        ASSERT_EQ(ParseRectangleText(c.text, &rect), c.read);
        if (!c.read)
            continue;
        EXPECT_EQ(rect.x1, c.rect.x1);
        EXPECT_EQ(rect.y1, c.rect.y1);
        EXPECT_EQ(rect.x2, c.rect.x2);
        EXPECT_EQ(rect.y2, c.rect.y2);
    }
    TextRectangle rect;
    EXPECT_FALSE(ParseRectangleText(nullptr, &rect));
}

TEST(SessionTarget, FollowsTheRectangleWithinTheSupportedSizes) {
    CSoftwareAudioOutput audio;
    CPlayerSession session(audio, nullptr);
    ASSERT_TRUE(session.IsValid());
    EXPECT_EQ(session.TargetWidth(), 320);
    EXPECT_EQ(session.TargetHeight(), 240);
    EXPECT_FALSE(session.ConsumeRectangleChanged());
    struct Case {
        const char* text;
        int width;
        int height;
        bool changed;
    };
    const Case cases[] = {
        {"10,20,330,260", 320, 240, true},   {"0, 0, 641, 479", 641, 479, true},
        {"0,0,640", 641, 479, false},        {"0 ,0,640,480", 641, 479, false},
        {"5,5,5,100", 641, 479, false},     // zero width: ignored
        {"0,0,-3,10", 641, 479, false},     // negative: ignored
        {"0,0,1921,100", 641, 479, false},  // beyond the largest picture: refused
        {"0,0,1920,1088", 1920, 1088, true}, {"0,0,1,1", 1, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        session.SetRectangle(c.text);
        EXPECT_EQ(session.TargetWidth(), c.width);
        EXPECT_EQ(session.TargetHeight(), c.height);
        EXPECT_EQ(session.ConsumeRectangleChanged(), c.changed);
        EXPECT_FALSE(session.ConsumeRectangleChanged()) << "consumed once";
    }
}

}  // namespace
}  // namespace fluxmere
