#pragma once
// The device stand-in as a program (fluxmere-device, "fluxmere device").

namespace fluxmere::device {

// argv[0] is the program's (or subcommand's) name, the flags follow; name prefixes messages.
// Returns the exit status: 0 after a clean stop, 1 when the device cannot start, 2 for bad flags.
int RunDeviceProgram(int argc, char** argv, const char* name);

}  // namespace fluxmere::device
