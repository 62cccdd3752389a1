#pragma once
// Command-line flags of the fluxmere-device program.

#include <string>

#include "device/device_options.h"

namespace fluxmere::device {

struct ProgramOptions {
    DeviceOptions device;
    double forSeconds = 0;  // the program ends by itself after this long; 0: runs until SIGTERM
    std::string readyFile;  // where the ready line goes as well (for tests under Wine)
    bool help = false;
};

// False with a message for an unknown flag or a bad value.
bool ParseDeviceArguments(int argc, const char* const* argv, ProgramOptions* options,
                          std::string* error);

const char* DeviceUsage();

}  // namespace fluxmere::device
