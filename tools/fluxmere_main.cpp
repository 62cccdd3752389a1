// fluxmere: the viewer, the downloader and the device stand-in from a terminal.

#include <cstdio>
#include <cstring>
#include <string>

#include "decode/dispatch.h"
#include "platform/socket.h"
#include "streaming/device_address.h"
#include "tools/cli_args.h"
#include "tools/commands.h"

namespace fluxmere::cli {

const FlagSpec kDefaultDeviceFlag = {
    "default-device", true,
    "A       device address used when the URL's host is not a dotted address"};

bool ApplyDefaultDevice(Args* args) {
    if (!args->Has("default-device"))
        return true;
    const uint32_t address = platform::InetAddr(args->Get("default-device").c_str());
    if (address == platform::kInaddrNone)
        return args->Fail("--default-device needs a dotted IPv4 address");
    SetDefaultDeviceAddress(address);
    return true;
}

int UsageError(const char* command, const std::string& message) {
    std::fprintf(stderr, "fluxmere %s: %s (see fluxmere %s --help)\n", command, message.c_str(),
                 command);
    return 2;
}

}  // namespace fluxmere::cli

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
        "fluxmere COMMAND --help explains each command's flags.\n");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace fluxmere::cli;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage();
        return argc < 2 ? 2 : 0;
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
