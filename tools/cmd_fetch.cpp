// fluxmere fetch: one download job from a terminal, with the bytes received and the rate on a
// terminal. Exit status 0 only when the clip was stored completely; a download that fails or is
// stopped with Ctrl-C never leaves a file under the clip's name that looks whole.

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
#include "tools/device_endpoint.h"
#include "tools/device_url.h"
#include "tools/output_file.h"
#include "tools/stop_signals.h"

namespace fluxmere::cli {

namespace {

const std::vector<FlagSpec> kFlags = {
    {"folder", true, "DIR     where the .kelo file goes (default: the current folder)"},
    {"options", true, "N       transcoding outputs 0..3 (no transcoding engine here: 0)"},
    {"quiet", false, "        no progress on the terminal"},
    kDefaultDeviceFlag,
    {"help", false, "        show this help"},
};

constexpr uint32_t kPollMs = 100;
constexpr uint32_t kProbeTimeoutMs = 3000;
constexpr uint16_t kExportPort = 80;
constexpr char kExportCommand[] = "command.cgi?stream&kelo&";

// The download window's state texts.
const char* StateText(DownloadState state) {
    if (state == DownloadState::InProgress)
        return "Downloading";
    const char* text = DownloadStateText(static_cast<int32_t>(state));
    return text ? text : "?";
}

// The bytes received and the rate, redrawn in place on a terminal (standard error). The device
// announces no size, so there is no percentage to show.
class ProgressView {
public:
    explicit ProgressView(bool show) : show_(show) {}

    void Show(int64_t bytes, DownloadState state, double seconds) {
        if (!show_)
            return;
        const double mb = bytes / 1048576.0;
        const double rate = seconds > 0 ? mb / seconds : 0;
        std::fprintf(stderr, "\r%10.1f MB received %8.1f MB/s  %-18s", mb, rate, StateText(state));
        std::fflush(stderr);
        shown_ = true;
    }

    void Finish() {
        if (shown_)
            std::fputc('\n', stderr);
    }

private:
    const bool show_;
    bool shown_ = false;
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
        "fluxmere fetch http://HOST/command.cgi?stream&kelo&PARAMS [--folder DIR] [--options N] "
        "[--quiet]",
        "Asks the device (port 80) for the clip, stores it unchanged as NAME.kelo in\n"
        "the folder (NAME_1.kelo, ... when taken) and prints the final state and the\n"
        "file's path. A download that fails or is stopped with Ctrl-C keeps what came\n"
        "as NAME.kelo.partial. Exit status 0 only for Complete, 1 when the download\n"
        "failed, 2 for bad arguments, 130 after Ctrl-C.",
        kFlags};
    Args args;
    int exitStatus = 0;
    if (!StartCommand(spec, argc, argv, &args, &exitStatus))
        return exitStatus;
    if (args.positional().size() != 1)
        return UsageError("fetch", "needs one export URL");
    std::string url = args.positional()[0];
    std::string portError;
    if (!DropFixedPort(&url, kExportPort, "export", &portError))
        return UsageError("fetch", portError);
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

    std::string folderError;
    if (!CheckFolderTakesFiles(folder, &folderError)) {
        std::fprintf(stderr, "fluxmere fetch: --folder: %s\n", folderError.c_str());
        return 1;
    }

    StopSignals stop;  // before the job's threads start, so they inherit the blocked set
    platform::InitSockets();
    // As in the product, the job reports to the viewers of the process (the tool has none).
    DownloadLinks links;
    links.notices = &PlayerRegistry::Process();
    CFluxmereDownload* job =
        new CFluxmereDownload(url.c_str(), folder.c_str(), static_cast<uint32_t>(options), links);
    ProgressView progress(!args.Has("quiet") && isatty(STDERR_FILENO) != 0);
    const uint64_t start = platform::MonotonicMs();
    int64_t bytes = 0;
    DownloadState state = DownloadState::Initializing;
    bool cancelled = false;
    for (;;) {
        job->GetStatus(&bytes, &state, nullptr, nullptr);
        progress.Show(bytes, state, (platform::MonotonicMs() - start) / 1000.0);
        if (job->HasEnded())
            break;
        if (stop.Wait(kPollMs) && !cancelled) {
            job->Cancel();  // the writer stores what came and closes the file
            cancelled = true;
        }
    }
    progress.Finish();
    job->GetStatus(&bytes, &state, nullptr, nullptr);
    const double seconds = (platform::MonotonicMs() - start) / 1000.0;
    std::string path = UnixPath(job->FilePath());
    const bool stored = path.size() > 5 && path.compare(path.size() - 5, 5, ".kelo") == 0;
    const std::string failure = job->FailureReason() != nullptr ? job->FailureReason() : "";
    const uint32_t address = ConnectAddress(job->DeviceAddress());
    job->Release();

    const bool whole = state == DownloadState::Complete || state == DownloadState::Transcoding ||
                       state == DownloadState::TranscodingFailed;
    if (whole) {
        std::printf("%s\n%s\n", StateText(state), path.c_str());
        std::printf("%.1f MB in %.1f s\n", bytes / 1048576.0, seconds);
        return state == DownloadState::Complete ? 0 : 1;
    }

    // Nothing whole was stored: say why, and leave no file that looks like the clip.
    std::printf("%s\n", stop.received() ? "Interrupted" : "Failed");
    if (stop.received()) {
        std::fprintf(stderr, "fluxmere fetch: interrupted after %.1f s\n", seconds);
    } else if (state == DownloadState::AwaitingStart || state == DownloadState::Initializing) {
        const std::string reason = ConnectFailure(address, kExportPort, kProbeTimeoutMs);
        std::fprintf(stderr, "fluxmere fetch: cannot connect to %s: %s\n",
                     EndpointText(address, kExportPort).c_str(),
                     reason.empty() ? "the connection failed" : reason.c_str());
    } else {
        std::fprintf(stderr, "fluxmere fetch: %s\n",
                     failure.empty() ? "the download failed" : failure.c_str());
    }
    if (stored) {
        const int64_t size = platform::FileSize(path.c_str());
        std::string kept, error;
        if (size <= 0) {
            platform::RemoveFile(path.c_str());
            std::fprintf(stderr, "fluxmere fetch: nothing was received; %s was removed\n",
                         path.c_str());
        } else if (KeepAsPartial(path, &kept, &error)) {
            std::fprintf(stderr, "fluxmere fetch: the %lld bytes received are kept as %s\n",
                         static_cast<long long>(size), kept.c_str());
        } else {
            platform::RemoveFile(path.c_str());
            std::fprintf(stderr, "fluxmere fetch: %s; %s was removed\n", error.c_str(),
                         path.c_str());
        }
    }
    return stop.received() ? stop.ExitStatus() : 1;
}

}  // namespace fluxmere::cli
