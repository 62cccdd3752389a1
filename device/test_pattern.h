#pragma once
// The device's live picture and sound. The picture is a recognisable, moving test pattern:
// eight colour bars, a white bar that moves along a grey ramp, and the frame number in large
// digits, so a viewer (or a test) can tell frames apart and see that they advance. The sound is
// a steady tone, 1 kHz on the left and 500 Hz on the right.

#include <cstddef>
#include <cstdint>

namespace fluxmere::device {

constexpr int kSampleRate = 48000;
constexpr int kToneSampleFrames = 1920;  // one picture's worth at 25 frames/s

// Packed R, G, B pixels of frame `frameIndex`; `rgb` holds width * height * 3 bytes.
void RenderTestPattern(int width, int height, uint32_t frameIndex, uint8_t* rgb);

// Where the moving bar's left edge is in frame `frameIndex`.
int MovingBarX(int width, uint32_t frameIndex);

// `sampleFrames` stereo frames of the tone, big-endian 16-bit, starting at sample frame
// `firstSampleFrame` of an endless tone (so consecutive blocks join without a click).
void RenderTone(uint64_t firstSampleFrame, uint8_t* out, size_t sampleFrames);

}  // namespace fluxmere::device
