#pragma once
// What tests/wine/wine-run.sh hands a Windows test running under Wine: the per-test capture file
// that the default sound device writes to, and a scratch folder. Both arrive as Unix paths;
// Wine shows the Unix root as drive Z:.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"

namespace fluxmere::testing {

// "/a/b" -> "Z:\a\b".
inline std::string WindowsPathOfUnixPath(const std::string& unix_path) {
    std::string path = "Z:" + unix_path;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

// Windows path of the environment variable `name` holding a Unix path; empty when unset.
inline std::string WindowsPathFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? WindowsPathOfUnixPath(value) : std::string();
}

// The raw bytes the default wave output has played so far in this test (16-bit little-endian,
// interleaved). Empty when nothing was played or the test does not run under the harness.
inline std::vector<uint8_t> ReadAudioCapture() {
    const std::string path = WindowsPathFromEnvironment("FLUXMERE_AUDIO_CAPTURE");
    return path.empty() ? std::vector<uint8_t>() : ReadFileBytes(path);
}

}  // namespace fluxmere::testing
