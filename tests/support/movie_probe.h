#pragma once
// Reading a movie back with a reader nobody here wrote (Debian's ffprobe and ffmpeg), for the
// native tests of the movie writer, the tool and the engine's output.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace fluxmere::testing {

// What a command printed on its standard output (and standard error when asked); "" on failure.
inline std::string CommandOutput(const std::string& command, int* exitStatus = nullptr) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, got);
    const int status = ::pclose(pipe);
    if (exitStatus != nullptr)
        *exitStatus = status;
    return out;
}

using StreamFields = std::map<std::string, std::string>;

// ffprobe's compact output (one "key=value|key=value" line per entry) as one map per line.
inline std::vector<StreamFields> ParseCompactLines(const std::string& text) {
    std::vector<StreamFields> streams;
    size_t line = 0;
    while (line < text.size()) {
        size_t end = text.find('\n', line);
        if (end == std::string::npos)
            end = text.size();
        StreamFields fields;
        size_t at = line;
        while (at < end) {
            size_t bar = text.find('|', at);
            if (bar == std::string::npos || bar > end)
                bar = end;
            const std::string pair = text.substr(at, bar - at);
            const size_t eq = pair.find('=');
            if (eq != std::string::npos)
                fields[pair.substr(0, eq)] = pair.substr(eq + 1);
            at = bar + 1;
        }
        if (!fields.empty())
            streams.push_back(fields);
        line = end + 1;
    }
    return streams;
}

// One entry per stream, in file order, with the fields ffprobe reports (frames counted by
// reading every packet: nb_read_frames).
inline std::vector<StreamFields> ProbeStreams(const std::string& path) {
    return ParseCompactLines(CommandOutput(
        "ffprobe -v error -count_frames -of compact=p=0 -show_entries "
        "stream=codec_type,codec_name,codec_tag_string,width,height,r_frame_rate,nb_read_frames,"
        "sample_rate,channels,duration '" +
        path + "' 2>/dev/null"));
}

// ffmpeg decodes every packet of the movie; returns its complaints ("" when there were none) and
// whether it succeeded.
inline bool DecodesCleanly(const std::string& path, std::string* complaints) {
    int status = -1;
    *complaints =
        CommandOutput("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1", &status);
    return status == 0 && complaints->empty();
}

// Picture `index` of the movie as ffmpeg decodes it: the three 4:2:2 planes one after the other,
// the samples as coded (no range or colour conversion).
inline std::vector<uint8_t> DecodedPicture(const std::string& path, int index) {
    const std::string text = CommandOutput(
        "ffmpeg -nostdin -v error -i '" + path + "' -vf 'select=eq(n\\," + std::to_string(index) +
        ")' -frames:v 1 -pix_fmt yuvj422p -f rawvideo - 2>/dev/null");
    return std::vector<uint8_t>(text.begin(), text.end());
}

// The movie holds one Motion-JPEG (format A) stream of `pictures` pictures of width x height at
// 25 per second and, when soundFrames is nonzero, one stream of 16-bit big-endian stereo sound at
// 48000 Hz of that many sample frames; ffmpeg decodes every packet without complaint.
inline void ExpectMjpegMovie(const std::string& path, int width, int height, int pictures,
                             int64_t soundFrames) {
    std::vector<StreamFields> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), soundFrames != 0 ? 2u : 1u) << path;
    StreamFields& video = streams[0];
    EXPECT_EQ(video["codec_type"], "video");
    EXPECT_EQ(video["codec_name"], "mjpeg");
    EXPECT_EQ(video["codec_tag_string"], "mjpa");
    EXPECT_EQ(video["width"], std::to_string(width));
    EXPECT_EQ(video["height"], std::to_string(height));
    EXPECT_EQ(video["r_frame_rate"], "25/1");
    EXPECT_EQ(video["nb_read_frames"], std::to_string(pictures));
    EXPECT_NEAR(std::atof(video["duration"].c_str()), pictures / 25.0, 1e-6);
    if (soundFrames != 0) {
        StreamFields& sound = streams[1];
        EXPECT_EQ(sound["codec_type"], "audio");
        EXPECT_EQ(sound["codec_name"], "pcm_s16be");
        EXPECT_EQ(sound["sample_rate"], "48000");
        EXPECT_EQ(sound["channels"], "2");
        EXPECT_NEAR(std::atof(sound["duration"].c_str()), soundFrames / 48000.0, 1e-6);
    }
    std::string complaints;
    EXPECT_TRUE(DecodesCleanly(path, &complaints)) << complaints;
}

}  // namespace fluxmere::testing
