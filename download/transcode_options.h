#pragma once
// A job's transcoding options (TranscodeOptions in the settings): which outputs the transcoding
// hand-off makes of the downloaded .kelo file, one bit each.

#include <cstdint>

namespace fluxmere {

constexpr uint32_t kTranscodeToMovie = 1u << 0;  // a QuickTime movie (.mov)
constexpr uint32_t kTranscodeToMxf = 1u << 1;    // an MXF file (.mxf)

enum class OutputFormat : int32_t { Movie = 1, Mxf = 2 };

constexpr int kMaxTranscodeOutputs = 2;

// The outputs options ask for, in the order they are made: the movie, the MXF file, or the movie
// and then the MXF file for both bits; any other nonzero value asks for the movie alone. Returns
// their count (0 for no options).
int TranscodeOutputs(uint32_t options, OutputFormat (&outputs)[kMaxTranscodeOutputs]);

}  // namespace fluxmere
