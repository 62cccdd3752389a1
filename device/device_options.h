#pragma once
// Everything that shapes the device stand-in's behaviour: where it listens, the stream it serves,
// the clip it exports, and the faults it can be told to show. The defaults describe a healthy
// device that streams 352x288 pictures at 25 frames/s with sound.

#include <cstdint>
#include <string>

namespace fluxmere::device {

// What the media connection does to a frame that is chosen to be hostile (see hostileEvery).
enum class HostileFrame {
    None,
    OversizedChunk,    // a chunk of 1 MiB of data, larger than any receive buffer allows
    BadBlockLengths,   // L1, P1, L2 or P2 pointing past the chunk (a different one each time)
    HugeVideoPayload,  // a real video block whose payload is 300000 bytes
    CorruptJpeg,       // correct framing, entropy-coded data damaged (bad codes, a marker)
};

// What the media connection does after `mediaFramesBeforeFault` frames.
enum class MediaFault {
    None,
    Silence,  // keeps the connection open and sends nothing more
    Close,    // closes the connection
    Stall,    // sends nothing for `stallMs`, then goes on
    Reset,    // resets the connection (RST), as a device that reboots
    Trickle,  // keeps the connection busy with a chunk that never ends: a byte every 500 ms, no
              // frame (the receiver's time-out never fires, the last picture stays)
};

struct DeviceOptions {
    // Listening address (dotted IPv4) and ports; port 0 takes an ephemeral port.
    std::string address = "127.0.0.1";
    uint16_t rtspPort = 554;
    uint16_t httpPort = 80;
    bool serveRtsp = true;
    bool serveHttp = true;

    // The live stream.
    int width = 352;
    int height = 288;
    int fps = 25;          // pictures per second; sound is 48000 / fps sample frames per picture
    bool hasAudio = true;  // "m=audio" in the description; without it the audio blocks are empty
    uint32_t streamVersion = 3;  // version of the stream header and layout of the frame headers
    bool zeroSize = false;       // the description announces 0 x 0 (the pictures keep their size)
    int maxFrames = 0;           // frames per session, then the media connection closes; 0: endless
    // What tells stand-ins apart: the tone on the left (a multiple of 1000 Hz; half of it on the
    // right) and how many places on the colour bars start.
    int toneHz = 1000;
    int barsShift = 0;

    // RTSP behaviours.
    bool busy = false;            // SETUP answered 503
    bool exclusive = false;       // a second session while one is playing gets 503
    bool refuseDescribe = false;  // DESCRIBE answered 404
    bool setupWithoutServerPort = false;
    int eventAfterMs = -1;       // an "Event-Type: 3" message this long after PLAY; -1: never
    bool noCSeq = false;         // replies without a CSeq line
    bool longHeader = false;     // a stream description of more than 512 bytes
    bool endlessHeader = false;  // RTSP and HTTP replies whose header never ends
    // Methods that are never answered, comma separated ("TEARDOWN", "DESCRIBE,SETUP"); the
    // request is counted and otherwise ignored (an unanswered TEARDOWN keeps the media going).
    std::string silentOn;
    int replyByteMs = 0;         // RTSP replies trickle out one byte every this many ms
    bool acceptNothing = false;  // RTSP connections are never accepted (they stay in backlog)
    bool eventWithPlay = false;  // the "Event-Type: 3" message goes out with the PLAY reply

    // Media behaviours.
    MediaFault mediaFault = MediaFault::None;
    int mediaFramesBeforeFault = 0;
    int stallMs = 3000;
    HostileFrame hostileFrame = HostileFrame::None;
    int hostileEvery = 2;  // every n-th frame (1-based: frames n-1, 2n-1, ...) is hostile
    // Audio blocks one byte longer than their whole sample frames (the extra byte follows them).
    bool oddAudioBlocks = false;

    // HTTP export.
    std::string clipName = "clip01";
    uint64_t clipBytes = 3u << 20;
    uint32_t clipSeed = 1;
    int notReady = 0;              // the first n export requests get a "not ready" (xml) reply
    uint32_t bodyRate = 0;         // bytes per second of the body; 0: as fast as the peer reads
    uint64_t stallAfterBytes = 0;  // with bodyStallMs: one pause after this many body bytes
    int bodyStallMs = 0;
    uint64_t closeAfterBytes = 0;    // ends the body early (connection closed); 0: never
    uint64_t resetAfterBytes = 0;    // resets the connection (RST) after this many body bytes
    bool chunkExtensions = false;    // size lines carry extensions: "400;q=1" and "400 ;x"
    int exportStatus = 200;          // another status sends an error page in chunked coding
    bool contentLengthBody = false;  // the clip with a Content-Length instead of chunks
    bool noLastChunk = false;        // the body ends with a close, without the zero-size chunk
};

}  // namespace fluxmere::device
