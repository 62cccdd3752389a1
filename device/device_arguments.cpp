#include "device/device_arguments.h"

#include <cstdlib>
#include <cstring>

namespace fluxmere::device {
namespace {

bool ToLong(const char* text, long long minimum, long long maximum, long long* value) {
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || v < minimum || v > maximum) {
        return false;
    }
    *value = v;
    return true;
}

bool ToSeconds(const char* text, double* value) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= 0) || v > 1e7) {
        return false;
    }
    *value = v;
    return true;
}

}  // namespace

const char* DeviceUsage() {
    return "usage: fluxmere-device [flags]\n"
           "  --address A            listening address (default 127.0.0.1)\n"
           "  --rtsp-port P          RTSP port (default 554; 0 ephemeral); --no-rtsp\n"
           "  --http-port P          export port (default 80; 0 ephemeral); --no-http\n"
           "  --size WxH  --fps N  --no-audio  --stream-version V  --max-frames N\n"
           "  --zero-size            the description announces a picture size of 0 x 0\n"
           "  --tone HZ              left tone, 1000 to 12000 in steps of 1000; right: half\n"
           "  --bars-shift N         the colour bars start N places on (0 to 7)\n"
           "  --busy  --exclusive  --refuse-describe  --no-server-port  --event-after S\n"
           "  --no-cseq  --long-header  --endless-header\n"
           "  --silent-on METHOD[,METHOD]  never answer DESCRIBE, SETUP, PLAY or TEARDOWN\n"
           "  --reply-byte-ms MS     RTSP replies trickle out a byte every MS\n"
           "  --accept-nothing  --event-with-play\n"
           "  --media-fault silence|close|stall|reset|trickle  --fault-after N  --stall-ms MS\n"
           "  --odd-audio            audio blocks one byte longer than their sample frames\n"
           "  --hostile oversized-chunk|bad-lengths|huge-video|corrupt-jpeg  --hostile-every N\n"
           "  --clip-name NAME  --clip-bytes N  --clip-seed N  --not-ready N\n"
           "  --body-rate BYTES_PER_S  --stall-after-bytes N --body-stall-ms MS\n"
           "  --close-after-bytes N  --reset-after-bytes N  --chunk-extensions\n"
           "  --export-status N  --content-length-body  --no-last-chunk\n"
           "  --for S                end after S seconds\n"
           "  --ready-file PATH      also write the ready line (with the pid) to PATH\n";
}

bool ParseDeviceArguments(int argc, const char* const* argv, ProgramOptions* options,
                          std::string* error) {
    DeviceOptions& d = options->device;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        // Flags without a value.
        struct Switch {
            const char* name;
            bool* target;
            bool value;
        };
        const Switch switches[] = {
            {"--no-rtsp", &d.serveRtsp, false},
            {"--no-http", &d.serveHttp, false},
            {"--no-audio", &d.hasAudio, false},
            {"--busy", &d.busy, true},
            {"--exclusive", &d.exclusive, true},
            {"--refuse-describe", &d.refuseDescribe, true},
            {"--no-server-port", &d.setupWithoutServerPort, true},
            {"--no-cseq", &d.noCSeq, true},
            {"--long-header", &d.longHeader, true},
            {"--endless-header", &d.endlessHeader, true},
            {"--accept-nothing", &d.acceptNothing, true},
            {"--event-with-play", &d.eventWithPlay, true},
            {"--odd-audio", &d.oddAudioBlocks, true},
            {"--zero-size", &d.zeroSize, true},
            {"--chunk-extensions", &d.chunkExtensions, true},
            {"--content-length-body", &d.contentLengthBody, true},
            {"--no-last-chunk", &d.noLastChunk, true},
            {"--help", &options->help, true},
        };
        bool matched = false;
        for (const Switch& s : switches) {
            if (flag == s.name) {
                *s.target = s.value;
                matched = true;
            }
        }
        if (matched) {
            continue;
        }
        if (i + 1 >= argc) {
            *error = "unknown flag or missing value: " + flag;
            return false;
        }
        const char* value = argv[++i];
        long long n = 0;
        bool ok = true;
        auto integer = [&](long long minimum, long long maximum) {
            ok = ToLong(value, minimum, maximum, &n);
            return n;
        };
        if (flag == "--address") {
            d.address = value;
        } else if (flag == "--rtsp-port") {
            d.rtspPort = static_cast<uint16_t>(integer(0, 65535));
        } else if (flag == "--http-port") {
            d.httpPort = static_cast<uint16_t>(integer(0, 65535));
        } else if (flag == "--size") {
            int w = 0, h = 0;
            char extra = 0;
            ok = std::sscanf(value, "%dx%d%c", &w, &h, &extra) == 2 && w > 0 && h > 0 &&
                 w <= 4096 && h <= 4096;
            d.width = w;
            d.height = h;
        } else if (flag == "--tone") {
            d.toneHz = static_cast<int>(integer(1000, 12000));
            ok = ok && d.toneHz % 1000 == 0;
        } else if (flag == "--bars-shift") {
            d.barsShift = static_cast<int>(integer(0, 7));
        } else if (flag == "--fps") {
            d.fps = static_cast<int>(integer(1, 1000));
        } else if (flag == "--stream-version") {
            d.streamVersion = static_cast<uint32_t>(integer(0, 0xFFFFFFFFll));
        } else if (flag == "--max-frames") {
            d.maxFrames = static_cast<int>(integer(0, 1 << 30));
        } else if (flag == "--event-after") {
            double s = 0;
            ok = ToSeconds(value, &s);
            d.eventAfterMs = static_cast<int>(s * 1000);
        } else if (flag == "--media-fault") {
            const std::string v = value;
            d.mediaFault = v == "silence"   ? MediaFault::Silence
                           : v == "close"   ? MediaFault::Close
                           : v == "stall"   ? MediaFault::Stall
                           : v == "reset"   ? MediaFault::Reset
                           : v == "trickle" ? MediaFault::Trickle
                                            : MediaFault::None;
            ok = d.mediaFault != MediaFault::None;
        } else if (flag == "--fault-after") {
            d.mediaFramesBeforeFault = static_cast<int>(integer(0, 1 << 30));
        } else if (flag == "--stall-ms") {
            d.stallMs = static_cast<int>(integer(0, 1 << 30));
        } else if (flag == "--hostile") {
            const std::string v = value;
            d.hostileFrame = v == "oversized-chunk" ? HostileFrame::OversizedChunk
                             : v == "bad-lengths"   ? HostileFrame::BadBlockLengths
                             : v == "huge-video"    ? HostileFrame::HugeVideoPayload
                             : v == "corrupt-jpeg"  ? HostileFrame::CorruptJpeg
                                                    : HostileFrame::None;
            ok = d.hostileFrame != HostileFrame::None;
        } else if (flag == "--hostile-every") {
            d.hostileEvery = static_cast<int>(integer(1, 1 << 30));
        } else if (flag == "--clip-name") {
            d.clipName = value;
            ok = !d.clipName.empty() && d.clipName.find_first_of("\"\r\n") == std::string::npos;
        } else if (flag == "--clip-bytes") {
            d.clipBytes = static_cast<uint64_t>(integer(0, 1ll << 40));
        } else if (flag == "--clip-seed") {
            d.clipSeed = static_cast<uint32_t>(integer(0, 0xFFFFFFFFll));
        } else if (flag == "--not-ready") {
            d.notReady = static_cast<int>(integer(0, 1 << 30));
        } else if (flag == "--body-rate") {
            d.bodyRate = static_cast<uint32_t>(integer(0, 0xFFFFFFFFll));
        } else if (flag == "--stall-after-bytes") {
            d.stallAfterBytes = static_cast<uint64_t>(integer(0, 1ll << 40));
        } else if (flag == "--body-stall-ms") {
            d.bodyStallMs = static_cast<int>(integer(0, 1 << 30));
        } else if (flag == "--close-after-bytes") {
            d.closeAfterBytes = static_cast<uint64_t>(integer(0, 1ll << 40));
        } else if (flag == "--reset-after-bytes") {
            d.resetAfterBytes = static_cast<uint64_t>(integer(0, 1ll << 40));
        } else if (flag == "--export-status") {
            d.exportStatus = static_cast<int>(integer(100, 999));
        } else if (flag == "--silent-on") {
            d.silentOn = value;
        } else if (flag == "--reply-byte-ms") {
            d.replyByteMs = static_cast<int>(integer(0, 60000));
        } else if (flag == "--for") {
            ok = ToSeconds(value, &options->forSeconds);
        } else if (flag == "--ready-file") {
            options->readyFile = value;
        } else {
            *error = "unknown flag: " + flag;
            return false;
        }
        if (!ok) {
            *error = "bad value for " + flag + ": " + value;
            return false;
        }
    }
    return true;
}

}  // namespace fluxmere::device
