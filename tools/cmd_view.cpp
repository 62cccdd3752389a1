// fluxmere view: a viewer session from a terminal. Prints every status change with the viewer's
// own texts, renders the newest frame the way the control paints it, and can keep the last
// picture as PNG or BMP and the sound as WAV. Runs for --seconds, or until the session ends or
// Ctrl-C stops it; either way the files are finished and the summary printed. With --reconnect a
// session that ends or freezes is started again after a back-off (player/reconnect_policy.h),
// until --seconds or Ctrl-C.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "player/player_session.h"
#include "player/player_status.h"
#include "player/reconnect_policy.h"
#include "player/software_audio_output.h"
#include "player/stream_url.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/device_endpoint.h"
#include "tools/device_url.h"
#include "tools/image_file.h"
#include "tools/output_file.h"
#include "tools/png_file.h"
#include "tools/stop_signals.h"

namespace fluxmere::cli {

namespace {

const std::vector<FlagSpec> kFlags = {
    {"seconds", true, "S       how long to watch (default: until Ctrl-C or the session ends)"},
    {"size", true, "WxH     size of the rendered picture (default 320x240)"},
    {"snapshot", true, "FILE    write the last rendered picture (FILE.png or FILE.bmp)"},
    {"audio", true, "FILE    write the sound that was played as WAV (48000 Hz, 16-bit, stereo)"},
    {"reconnect", false,
     "        start again after a back-off whenever the session ends or freezes"},
    kDefaultDeviceFlag,
    {"help", false, "        show this help"},
};

constexpr uint32_t kRenderIntervalMs = 40;
constexpr uint32_t kProbeTimeoutMs = 3000;
constexpr uint64_t kWavHeaderBytes = 44;

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

// Why a session that showed no picture ended, naming the device and the reason.
std::string WhyNoPicture(int32_t status, uint32_t address, const std::string& seconds) {
    const std::string device = EndpointText(address, kRtspPort);
    if (status == static_cast<int32_t>(PlayerStatus::CannotConnect)) {
        const std::string reason = ConnectFailure(address, kRtspPort, kProbeTimeoutMs);
        if (!reason.empty())
            return "cannot connect to " + device + ": " + reason;
        return "the device at " + device + " gave no stream that can be played";
    }
    if (status == static_cast<int32_t>(PlayerStatus::InUseByOtherUser))
        return "the device at " + device + " is in use by another user";
    if (status == static_cast<int32_t>(PlayerStatus::Connecting))
        return "no picture from " + device + " within " + seconds + " s";
    return "the session with " + device + " ended before a picture came";
}

// The snapshot, in the format its name gives, through its output's temporary file.
bool WriteSnapshot(const KeptPicture& kept, OutputFile* output, const std::string& path,
                   std::string* error) {
    const std::string& temporary = output->temporaryPath();
    output->file().Close();  // the writers open the file by name
    if (tools::ImageFormatOf(path) == tools::ImageFormat::Bmp) {
        if (!tools::WriteImageFile(temporary, kept.pixels.data(), kept.width, kept.height,
                                   kept.stride)) {
            *error = "cannot write " + path + ": " + LastFileErrorText();
            return false;
        }
    } else if (!WritePng(temporary, kept.pixels.data(), kept.width, kept.height, kept.stride,
                         PixelOrder::BGR, error)) {
        *error = "cannot write " + path + ": " + LastFileErrorText();
        return false;
    }
    if (!output->Commit()) {
        *error = output->error();
        return false;
    }
    return true;
}

}  // namespace

int RunView(int argc, char** argv) {
    const CommandSpec spec = {
        "view",
        "fluxmere view rtsp://HOST/PATH [--seconds S] [--size WxH] [--snapshot FILE.png] "
        "[--audio FILE.wav] [--reconnect]",
        "Connects to the device's RTSP port 554, plays its stream and prints each\n"
        "status change, then a summary. Runs until --seconds have passed, the session\n"
        "ends or Ctrl-C; the snapshot and the sound are then written whole. With\n"
        "--reconnect a session that ends, or whose picture stays for 3 s, is started\n"
        "again after 1, 2, 4, 8, 16, then 30 s (1 s again after 30 s of good playing),\n"
        "until --seconds or Ctrl-C. Exit status 0 when the stream played, 1 when the\n"
        "device could not be reached, was in use or a file could not be written, 2 for\n"
        "bad arguments, 130 after Ctrl-C.",
        kFlags};
    Args args;
    int exitStatus = 0;
    if (!StartCommand(spec, argc, argv, &args, &exitStatus))
        return exitStatus;
    if (args.positional().size() != 1)
        return UsageError("view", "needs one rtsp:// URL");
    std::string url = args.positional()[0];
    StreamUrl parsed;
    if (!ParseStreamUrl(url.c_str(), &parsed)) {
        return UsageError("view", "not a stream URL of the form rtsp://HOST/PATH: " + url);
    }
    std::string portError;
    if (!DropFixedPort(&url, kRtspPort, "RTSP", &portError) ||
        !ParseStreamUrl(url.c_str(), &parsed))
        return UsageError("view", portError);
    double seconds = 0;  // 0: until the session ends or Ctrl-C
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
    const std::string snapshotPath = args.Get("snapshot");
    if (args.Has("snapshot") && tools::ImageFormatOf(snapshotPath) == tools::ImageFormat::Unknown)
        return UsageError(
            "view", "--snapshot needs a name ending in .png or .bmp, not '" + snapshotPath + "'");

    // The files are made (as temporary files beside their names) before the watch, so that a
    // folder which cannot take them fails now, not after it.
    OutputFile snapshot, sound;
    for (OutputFile* output : {&snapshot, &sound}) {
        const char* flag = output == &snapshot ? "snapshot" : "audio";
        if (args.Has(flag) && !output->Create(args.Get(flag), OutputRules{"", true})) {
            std::fprintf(stderr, "fluxmere view: --%s: %s\n", flag, output->error().c_str());
            return 1;
        }
    }
    sound.file().Close();  // the audio output writes it by name

    StopSignals stop;  // before the session's threads start, so they inherit the blocked set
    platform::InitSockets();
    CSoftwareAudioOutput audio(sound.temporaryPath());
    StatusRecorder recorder;
    CPlayerSession session(audio, &recorder);
    recorder.Attach(&session);
    if (!session.IsValid()) {
        std::fprintf(stderr, "fluxmere view: out of memory\n");
        return 1;
    }
    const std::string rectangle = "0,0," + std::to_string(width) + "," + std::to_string(height);
    session.SetRectangle(rectangle.c_str());
    const bool reconnect = args.Has("reconnect");
    ReconnectPolicy policy;
    if (!reconnect)
        session.SetURL(url.c_str());

    KeptPicture kept;
    SessionLife life;
    const uint64_t start = platform::MonotonicMs();
    const uint64_t limit = seconds > 0 ? static_cast<uint64_t>(seconds * 1000) : UINT64_MAX;
    int32_t lastStatus = session.Status();
    for (;;) {
        PrintChanges(recorder, &life);
        const bool running = session.IsSessionRunning();  // before the status: see CameraLook
        lastStatus = session.Status();
        if (reconnect) {
            const CameraLook look{lastStatus, running,
                                  static_cast<uint64_t>(session.Counters().framesDelivered)};
            const uint64_t now = platform::MonotonicMs();
            const CameraAction action = policy.Observe(now, look);
            if (action == CameraAction::Start) {
                session.SetURL(url.c_str());
            } else if (action == CameraAction::Stop) {
                session.Stop();
                PrintChanges(recorder, &life);
                std::printf("%s\n", DescribeCamera(policy, now).text);
                std::fflush(stdout);
            }
        }
        // Reconnecting, each session plays on its own: render while this one plays.
        if (reconnect ? session.Status() == static_cast<int32_t>(PlayerStatus::Playing)
                      : life.played && !life.over)
            kept.Take(session);
        const uint64_t elapsed = platform::MonotonicMs() - start;
        if ((life.over && !reconnect) || elapsed >= limit)
            break;
        if (stop.Wait(
                static_cast<uint32_t>(std::min<uint64_t>(kRenderIntervalMs, limit - elapsed))))
            break;
    }
    session.Stop();  // returns within 1.5 s whatever the device does, the sound file finished
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
    if (reconnect)
        std::printf("sessions started again %u\n", policy.Restarts());

    int result = played ? 0 : 1;
    if (!played && !stop.received()) {
        std::fprintf(stderr, "fluxmere view: %s\n",
                     WhyNoPicture(lastStatus, ConnectAddress(HostAddress(parsed)),
                                  args.Get("seconds", "the session's"))
                         .c_str());
    }
    if (args.Has("snapshot")) {
        std::string error;
        if (kept.pixels.empty()) {
            std::fprintf(stderr, "fluxmere view: no picture to write to %s\n",
                         snapshotPath.c_str());
            result = 1;
        } else if (!WriteSnapshot(kept, &snapshot, snapshotPath, &error)) {
            std::fprintf(stderr, "fluxmere view: %s\n", error.c_str());
            result = 1;
        } else {
            std::printf("snapshot %s (%dx%d)\n", snapshotPath.c_str(), kept.width, kept.height);
        }
    }
    if (args.Has("audio")) {
        const std::string soundPath = args.Get("audio");
        const uint64_t bytes = audio.BytesPlayed();
        const bool whole = platform::FileSize(sound.temporaryPath().c_str()) >=
                           static_cast<int64_t>(kWavHeaderBytes + bytes);
        if (!played) {
            std::fprintf(stderr, "fluxmere view: no sound to write to %s\n", soundPath.c_str());
        } else if (!whole || !sound.Commit()) {
            std::fprintf(stderr, "fluxmere view: cannot write %s%s%s\n", soundPath.c_str(),
                         whole ? ": " : "", whole ? sound.error().c_str() : "");
            result = 1;
        } else {
            std::printf("audio %s (%llu bytes, %.1f s)\n", soundPath.c_str(),
                        static_cast<unsigned long long>(bytes), bytes / 192000.0);
        }
    }
    if (stop.received()) {
        std::fprintf(stderr, "fluxmere view: interrupted\n");
        return stop.ExitStatus();
    }
    return result;
}

}  // namespace fluxmere::cli
