// fluxmere: the viewer, the downloader and the device stand-in from a terminal.

#include <cstdio>
#include <cstring>
#include <string>

#include "decode/dispatch.h"
#include "tools/commands.h"

namespace {

void PrintUsage() {
    std::printf(
        "usage: fluxmere COMMAND [ARGS]\n"
        "\n"
        "commands:\n"
        "  device   run the recording-device stand-in on a loopback address\n"
        "  view     watch a device's live stream: status, snapshot (PNG), sound (WAV)\n"
        "  fetch    download a recorded clip into a .kelo file\n"
        "  decode   decode one Motion-JPEG payload into planes or a PNG\n"
        "  convert  turn a recorded .kelo clip into a QuickTime movie (.mov)\n"
        "\n"
        "fluxmere COMMAND --help explains each command's flags; fluxmere --version\n"
        "prints the version.\n");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace fluxmere::cli;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage();
        return argc < 2 ? 2 : 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("fluxmere %s\n", FLUXMERE_VERSION);
        return 0;
    }
    // Chosen once per process, before any primitive runs (as the DLL does at load).
    fluxmere::SelectProcessorVariant();
    const std::string command = argv[1];
    if (command == "device")
        return RunDevice(argc - 1, argv + 1);
    if (command == "view")
        return RunView(argc - 1, argv + 1);
    if (command == "fetch")
        return RunFetch(argc - 1, argv + 1);
    if (command == "decode")
        return RunDecode(argc - 1, argv + 1);
    if (command == "convert")
        return RunConvert(argc - 1, argv + 1);
    std::fprintf(stderr, "fluxmere: unknown command '%s' (see fluxmere --help)\n", command.c_str());
    return 2;
}
