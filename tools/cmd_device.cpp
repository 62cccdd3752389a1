// fluxmere device: the recording-device stand-in in the foreground, the same program as
// fluxmere-device.

#include "device/device_program.h"
#include "tools/commands.h"

namespace fluxmere::cli {

int RunDevice(int argc, char** argv) {
    return device::RunDeviceProgram(argc, argv, "fluxmere device");
}

}  // namespace fluxmere::cli
