#pragma once
// The subcommands of the fluxmere tool. Each returns the process's exit status:
// 0 success, 1 the device or the job failed, 2 bad flags or a bad URL.

#include <string>

#include "tools/cli_args.h"

namespace fluxmere::cli {

int RunDevice(int argc, char** argv);  // argv[0] is the subcommand's name
int RunView(int argc, char** argv);
int RunFetch(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunConvert(int argc, char** argv);

// --default-device A: the device address used when a URL's host is not a dotted address (the
// tool never contacts the built-in link-local default when it is given).
extern const FlagSpec kDefaultDeviceFlag;
bool ApplyDefaultDevice(Args* args);

// "fluxmere SUB: message" on standard error, then status 2.
int UsageError(const char* command, const std::string& message);

}  // namespace fluxmere::cli
