#pragma once
// The subcommands of the fluxmere tool. Each returns the process's exit status:
// 0 success, 1 the device or the job failed, 2 bad flags or a bad URL.

namespace fluxmere::cli {

int RunDevice(int argc, char** argv);  // argv[0] is the subcommand's name
int RunView(int argc, char** argv);
int RunFetch(int argc, char** argv);
int RunDecode(int argc, char** argv);

}  // namespace fluxmere::cli
