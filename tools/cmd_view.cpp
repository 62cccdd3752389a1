// fluxmere view: a viewer session from a terminal. Prints every status change with the viewer's
// own texts, renders the newest frame the way the control paints it, and can keep the last
// picture as PNG and the sound as WAV.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "platform/thread.h"
#include "player/player_session.h"
#include "player/player_status.h"
#include "player/software_audio_output.h"
#include "player/stream_url.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/png_file.h"

namespace fluxmere::cli {

namespace {

const std::vector<FlagSpec> kFlags = {
    {"seconds", true, "S       how long to watch (default 5; the session may end earlier)"},
    {"size", true, "WxH     size of the rendered picture (default 320x240)"},
    {"snapshot", true, "FILE    write the last rendered picture as PNG"},
    {"audio", true, "FILE    write the sound that was played as WAV (48000 Hz, 16-bit, stereo)"},
    kDefaultDeviceFlag,
    {"help", false, "        show this help"},
};

constexpr uint32_t kRenderIntervalMs = 40;

const char* StatusLine(int32_t status) {
    if (status == static_cast<int32_t>(PlayerStatus::Playing))
        return "Playing";
    if (status == static_cast<int32_t>(PlayerStatus::Downloading))
        return "Downloading";
    const char* text = StatusText(status);
    return text ? text : "?";
}

// Catches every status change as it happens (a poll would miss a short "Connecting"): the
// session calls Invalidate right after each change, on whichever thread made it.
class StatusRecorder : public IPlayerHost {
public:
    static constexpr int kCapacity = 64;

    void Attach(const CPlayerSession* session) { session_ = session; }

    void Invalidate(const PlayerRect*) override {
        if (session_ == nullptr)
            return;
        const int32_t status = session_->Status();
        platform::ScopedLock hold(lock_);
        if (status == last_ || count_ == kCapacity)
            return;
        changes_[count_++] = status;
        last_ = status;
    }

    // Moves the changes recorded so far to out (kCapacity entries); returns how many.
    int Take(int32_t* out) {
        platform::ScopedLock hold(lock_);
        const int n = count_;
        for (int i = 0; i < n; ++i)
            out[i] = changes_[i];
        count_ = 0;
        return n;
    }

private:
    const CPlayerSession* session_ = nullptr;
    platform::CriticalSection lock_;
    int32_t changes_[kCapacity] = {};
    int count_ = 0;
    // A new viewer shows "Not connected" until its session thread starts.
    int32_t last_ = static_cast<int32_t>(PlayerStatus::NotConnected);
};

bool SessionOver(int32_t status) {
    return status == static_cast<int32_t>(PlayerStatus::NotConnected) ||
           status == static_cast<int32_t>(PlayerStatus::CannotConnect) ||
           status == static_cast<int32_t>(PlayerStatus::InUseByOtherUser);
}

// The session's life as its status changes tell it. A poll of the status would miss a session
// that starts, plays and ends between two polls.
struct SessionLife {
    bool started = false;
    bool played = false;
    bool over = false;

    void Add(int32_t status) {
        if (status == static_cast<int32_t>(PlayerStatus::Playing))
            played = true;
        if (started && SessionOver(status))
            over = true;
        if (status != static_cast<int32_t>(PlayerStatus::NotConnected))
            started = true;
    }
};

void PrintChanges(StatusRecorder& recorder, SessionLife* life) {
    int32_t changes[StatusRecorder::kCapacity];
    const int n = recorder.Take(changes);
    for (int i = 0; i < n; ++i) {
        std::printf("%s\n", StatusLine(changes[i]));
        life->Add(changes[i]);
    }
    std::fflush(stdout);
}

// The newest frame, rendered, kept for the snapshot.
struct KeptPicture {
    std::vector<uint8_t> pixels;
    int width = 0, height = 0, stride = 0;
    int rendered = 0;

    void Take(CPlayerSession& session) {
        RenderedPicture picture;
        if (!session.RenderFrame(&picture))
            return;
        ++rendered;
        width = picture.width;
        height = picture.height;
        stride = picture.stride;
        pixels.assign(picture.pixels,
                      picture.pixels + static_cast<size_t>(picture.stride) * picture.height);
    }
};

}  // namespace

int RunView(int argc, char** argv) {
    const CommandSpec spec = {
        "view",
        "fluxmere view rtsp://HOST/PATH [--seconds S] [--size WxH] [--snapshot FILE.png] "
        "[--audio FILE.wav]",
        "Connects to the device's RTSP port 554, plays its stream and prints each\n"
        "status change, then a summary. Exit status 0 when the stream played, 1 when\n"
        "the device could not be reached or was in use, 2 for bad arguments.",
        kFlags};
    Args args;
    int exitStatus = 0;
    if (!StartCommand(spec, argc, argv, &args, &exitStatus))
        return exitStatus;
    if (args.positional().size() != 1)
        return UsageError("view", "needs one rtsp:// URL");
    const std::string url = args.positional()[0];
    StreamUrl parsed;
    if (!ParseStreamUrl(url.c_str(), &parsed)) {
        return UsageError("view", "not a stream URL of the form rtsp://HOST/PATH: " + url);
    }
    double seconds = 5;
    if (args.Has("seconds") && !args.GetDouble("seconds", 0.1, 86400, &seconds)) {
        return UsageError("view", args.error());
    }
    int width = kDefaultTargetWidth, height = kDefaultTargetHeight;
    if (args.Has("size") && !args.GetSize("size", kMaxPictureWidth, &width, &height)) {
        return UsageError("view", args.error());
    }
    if (height > kMaxPictureHeight) {
        return UsageError("view",
                          "--size: the height may be at most " + std::to_string(kMaxPictureHeight));
    }
    if (!ApplyDefaultDevice(&args))
        return UsageError("view", args.error());

    platform::InitSockets();
    CSoftwareAudioOutput audio(args.Get("audio"));
    StatusRecorder recorder;
    CPlayerSession session(audio, &recorder);
    recorder.Attach(&session);
    if (!session.IsValid()) {
        std::fprintf(stderr, "fluxmere view: out of memory\n");
        return 1;
    }
    const std::string rectangle = "0,0," + std::to_string(width) + "," + std::to_string(height);
    session.SetRectangle(rectangle.c_str());
    session.SetURL(url.c_str());

    KeptPicture kept;
    SessionLife life;
    const uint64_t start = platform::MonotonicMs();
    const uint64_t limit = static_cast<uint64_t>(seconds * 1000);
    for (;;) {
        PrintChanges(recorder, &life);
        if (life.played && !life.over)
            kept.Take(session);
        const uint64_t elapsed = platform::MonotonicMs() - start;
        if (life.over || elapsed >= limit)
            break;
        platform::SleepMs(
            static_cast<uint32_t>(std::min<uint64_t>(kRenderIntervalMs, limit - elapsed)));
    }
    session.Stop();  // returns within 1.5 s whatever the device does
    PrintChanges(recorder, &life);

    const SessionCounters counters = session.Counters();
    // The newest frame, also of a session that ended before a poll could render it.
    const bool played = life.played || counters.framesDelivered > 0;
    if (played)
        kept.Take(session);
    std::printf(
        "frames received %lld, rendered %d, dropped %lld; audio blocks queued %lld, "
        "dropped %lld\n",
        static_cast<long long>(counters.framesDelivered), kept.rendered,
        static_cast<long long>(counters.framesDropped),
        static_cast<long long>(counters.audioBlocksQueued),
        static_cast<long long>(counters.audioBlocksDropped));

    int result = played ? 0 : 1;
    if (args.Has("snapshot")) {
        if (kept.pixels.empty()) {
            std::fprintf(stderr, "fluxmere view: no picture to write to %s\n",
                         args.Get("snapshot").c_str());
            result = 1;
        } else {
            std::string error;
            if (!WritePng(args.Get("snapshot"), kept.pixels.data(), kept.width, kept.height,
                          kept.stride, PixelOrder::BGR, &error)) {
                std::fprintf(stderr, "fluxmere view: %s\n", error.c_str());
                result = 1;
            } else {
                std::printf("snapshot %s (%dx%d)\n", args.Get("snapshot").c_str(), kept.width,
                            kept.height);
            }
        }
    }
    if (args.Has("audio")) {
        std::printf("audio %s (%llu bytes played)\n", args.Get("audio").c_str(),
                    static_cast<unsigned long long>(audio.BytesPlayed()));
    }
    return result;
}

}  // namespace fluxmere::cli
