// fluxmere fetch: one download job from a terminal, with a progress bar on a terminal and plain
// progress lines otherwise. Exit status 0 only when the clip was stored completely.

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "download/fluxmere_download.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "player/player_registry.h"
#include "player/player_status.h"
#include "tools/cli_args.h"
#include "tools/commands.h"

namespace fluxmere::cli {

namespace {

const std::vector<FlagSpec> kFlags = {
    {"folder", true, "DIR     where the .kelo file goes (default: the current folder)"},
    {"options", true, "N       transcoding outputs 0..3 (no transcoding engine here: 0)"},
    kDefaultDeviceFlag,
    {"help", false, "        show this help"},
};

constexpr uint32_t kPollMs = 100;
constexpr char kExportCommand[] = "command.cgi?stream&kelo&";

// The download window's state texts.
const char* StateText(DownloadState state) {
    if (state == DownloadState::InProgress)
        return "Downloading";
    const char* text = DownloadStateText(static_cast<int32_t>(state));
    return text ? text : "?";
}

class ProgressView {
public:
    explicit ProgressView(bool terminal) : terminal_(terminal) {}

    void Show(int64_t bytes, DownloadState state, double seconds, bool force) {
        const double mb = bytes / 1048576.0;
        const double rate = seconds > 0 ? mb / seconds : 0;
        if (terminal_) {
            // An indeterminate bar: the device does not announce the clip's size.
            const int filled = static_cast<int>(bytes / (4 << 20)) % 31;
            char bar[32];
            for (int i = 0; i < 30; ++i)
                bar[i] = i < filled ? '#' : '.';
            bar[30] = '\0';
            std::printf("\r[%s] %9.1f MB %8.1f MB/s  %-18s", bar, mb, rate, StateText(state));
            std::fflush(stdout);
            return;
        }
        // Plain lines: on every state change and about once a second.
        if (force || state != lastState_ || seconds - lastLine_ >= 1.0) {
            std::printf("%.1f MB %.1f MB/s %s\n", mb, rate, StateText(state));
            std::fflush(stdout);
            lastLine_ = seconds;
            lastState_ = state;
        }
    }

    void Finish() {
        if (terminal_)
            std::printf("\n");
    }

private:
    const bool terminal_;
    DownloadState lastState_ = DownloadState::Initializing;
    double lastLine_ = -1;
};

std::string UnixPath(std::string path) {
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

}  // namespace

int RunFetch(int argc, char** argv) {
    const CommandSpec spec = {
        "fetch",
        "fluxmere fetch http://HOST/command.cgi?stream&kelo&PARAMS [--folder DIR] [--options N]",
        "Asks the device (port 80) for the clip, stores it unchanged as NAME.kelo in\n"
        "the folder (NAME_1.kelo, ... when taken) and prints the final state and the\n"
        "file's path. Exit status 0 only for Complete.",
        kFlags};
    Args args;
    int exitStatus = 0;
    if (!StartCommand(spec, argc, argv, &args, &exitStatus))
        return exitStatus;
    if (args.positional().size() != 1)
        return UsageError("fetch", "needs one export URL");
    const std::string url = args.positional()[0];
    const size_t command = url.find(kExportCommand);
    if (url.compare(0, 7, "http://") != 0 || command == std::string::npos || command < 8 ||
        url[command - 1] != '/' || url.size() >= 260) {
        return UsageError("fetch", "not an export URL of the form http://HOST/" +
                                       std::string(kExportCommand) + "...: " + url);
    }
    long long options = 0;
    if (args.Has("options") && !args.GetInt("options", 0, 3, &options)) {
        return UsageError("fetch", args.error());
    }
    const std::string folder = args.Get("folder", ".");
    if (folder.empty() || folder.size() >= 250) {
        return UsageError("fetch", "--folder needs a folder path of at most 249 characters");
    }
    if (!ApplyDefaultDevice(&args))
        return UsageError("fetch", args.error());

    platform::InitSockets();
    // As in the product, the job reports to the viewers of the process (the tool has none).
    DownloadLinks links;
    links.notices = &PlayerRegistry::Process();
    CFluxmereDownload* job =
        new CFluxmereDownload(url.c_str(), folder.c_str(), static_cast<uint32_t>(options), links);
    ProgressView progress(isatty(STDOUT_FILENO) != 0);
    const uint64_t start = platform::MonotonicMs();
    int64_t bytes = 0;
    DownloadState state = DownloadState::Initializing;
    for (;;) {
        job->GetStatus(&bytes, &state, nullptr, nullptr);
        const double seconds = (platform::MonotonicMs() - start) / 1000.0;
        const bool ended = job->HasEnded();
        progress.Show(bytes, state, seconds, ended);
        if (ended)
            break;
        platform::SleepMs(kPollMs);
    }
    progress.Finish();
    job->GetStatus(&bytes, &state, nullptr, nullptr);
    std::printf("%s\n", StateText(state));
    if (state == DownloadState::AwaitingStart) {
        // The fetch thread gave up before any answer came.
        std::fprintf(stderr, "fluxmere fetch: the device could not be reached\n");
    }
    if (state == DownloadState::Failed && job->FailureReason() != nullptr) {
        std::fprintf(stderr, "fluxmere fetch: %s\n", job->FailureReason());
    }
    const std::string path = UnixPath(job->FilePath());
    if (path.size() > 5 && path.compare(path.size() - 5, 5, ".kelo") == 0) {
        std::printf("%s\n", path.c_str());
    }
    const bool complete = state == DownloadState::Complete;
    job->Release();
    return complete ? 0 : 1;
}

}  // namespace fluxmere::cli
