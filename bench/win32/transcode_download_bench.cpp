// A download of a clip from the device stand-in through the download job and the transcoding
// hand-off, with the real engine registered (transcode_download_bench.sh does that and measures
// the engine's processor time from the host): the wall time from the request to the end of the
// last output, and this process's own processor time.
//
//   transcode_download_bench --options N [--mib M] [--codec DVCPRO|IMX50] [--index I]
//   (run through tests/wine/wine-run.sh --script bench/win32/transcode_download_bench.sh)

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/fluxmere_download.h"
#include "download/win32/transcode_handoff.h"
#include "platform/socket.h"
#include "tests/download/job_fixture.h"
#include "tests/support/device_process.h"
#include "tests/support/loopback.h"
#include "tests/support/wine_environment.h"

namespace {

double Seconds(const FILETIME& t) {
    return (uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime) / 1e7;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace fluxmere;
    using namespace fluxmere::testing;
    long options = 0, mib = 256, index = 90;
    std::string codec = "DVCPRO";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--options") == 0)
            options = std::strtol(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--mib") == 0)
            mib = std::strtol(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--codec") == 0)
            codec = argv[i + 1];
        else if (std::strcmp(argv[i], "--index") == 0)
            index = std::strtol(argv[i + 1], nullptr, 10);
    }
    platform::InitSockets();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const std::string folder =
        WindowsPathFromEnvironment("FLUXMERE_TEST_DIR") + "\\options" + std::to_string(options);
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string address = LoopbackText(Suite::Download, static_cast<int>(index));
    DeviceProcess device;
    if (!device.Start({"--address", address, "--no-rtsp", "--clip-name", "clip01", "--clip-bytes",
                       std::to_string(uint64_t(mib) << 20)})) {
        std::fprintf(stderr, "the device did not start: %s\n", device.error().c_str());
        return 1;
    }
    CTranscodeHandOff handOff;
    DownloadLinks links;
    links.transcoder = &handOff;
    TestProbe probe;
    const uint64_t start = GetTickCount64();
    DownloadLinks withProbe = links;
    withProbe.probe = &probe;
    (new CFluxmereDownload(ExportUrl(address, codec + "&queue=1").c_str(), folder.c_str(),
                           static_cast<uint32_t>(options), withProbe))
        ->Release();
    // The job goes once its download and every output have ended: up to an hour.
    const bool ended = probe.destroyed.Wait(3600000) == platform::WaitResult::Signaled;
    const double wall = (GetTickCount64() - start) / 1000.0;
    device.Stop();
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    std::printf("download %ld MiB %s, options %ld: wall %.2f s, download process CPU %.2f s%s\n",
                mib, codec.c_str(), options, wall, Seconds(kernel) + Seconds(user),
                ended ? "" : " (the job did not end)");
    CoUninitialize();
    return ended ? 0 : 1;
}
