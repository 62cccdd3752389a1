#pragma once
// What tests/wine/wine-run.sh hands a Windows test running under Wine: the per-test capture file
// that the default sound device writes to, and a scratch folder. Both arrive as Unix paths;
// Wine shows the Unix root as drive Z:.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

// What a capture must be after `played` went out and the output was closed: those bytes first,
// unchanged, then only whole sample frames of silence. Wine's sound driver keeps its device fed
// with silence until the close, and under load the close comes whole periods later.
inline ::testing::AssertionResult PlayedThenSilence(const std::vector<uint8_t>& captured,
                                                    const std::vector<uint8_t>& played,
                                                    size_t frameBytes) {
    if (captured.size() < played.size())
        return ::testing::AssertionFailure()
               << captured.size() << " bytes captured, " << played.size() << " played";
    const auto differs = std::mismatch(played.begin(), played.end(), captured.begin());
    if (differs.first != played.end())
        return ::testing::AssertionFailure()
               << "byte " << (differs.first - played.begin()) << " differs from what was played";
    const size_t extra = captured.size() - played.size();
    if (extra % frameBytes != 0)
        return ::testing::AssertionFailure() << extra << " bytes after it: no whole frames";
    const auto sound = std::find_if(captured.begin() + static_cast<std::ptrdiff_t>(played.size()),
                                    captured.end(), [](uint8_t b) { return b != 0; });
    if (sound != captured.end())
        return ::testing::AssertionFailure()
               << "byte " << (sound - captured.begin()) << " after what was played is not silence";
    return ::testing::AssertionSuccess() << extra << " bytes of silence after it";
}

}  // namespace fluxmere::testing
