#pragma once
// The device's live picture and sound. The picture is a recognisable, moving test pattern:
// eight colour bars, a white bar that moves along a grey ramp, and the frame number in large
// digits, so a viewer (or a test) can tell frames apart and see that they advance. The sound is
// a steady tone, 1 kHz on the left and 500 Hz on the right. Several stand-ins side by side can
// be told apart: the bars may start further along their order, and the tone may be higher.

#include <cstddef>
#include <cstdint>

namespace fluxmere::device {

constexpr int kSampleRate = 48000;
constexpr int kToneSampleFrames = 1920;  // one picture's worth at 25 frames/s
constexpr int kDefaultToneHz = 1000;
constexpr int kMaxToneHz = 12000;  // a multiple of 1000 up to this

// The colour of bar `index` (0 to 7, left to right) when the bars start `barsShift` places on:
// 0xRRGGBB.
uint32_t BarColour(int index, int barsShift);

// Packed R, G, B pixels of frame `frameIndex`; `rgb` holds width * height * 3 bytes. The eight
// bars cover the top two thirds, bar i in BarColour(i, barsShift).
void RenderTestPattern(int width, int height, uint32_t frameIndex, uint8_t* rgb, int barsShift = 0);

// Where the moving bar's left edge is in frame `frameIndex`.
int MovingBarX(int width, uint32_t frameIndex);

// `sampleFrames` stereo frames of the tone, big-endian 16-bit, starting at sample frame
// `firstSampleFrame` of an endless tone (so consecutive blocks join without a click): toneHz on
// the left and half of it on the right. toneHz is a multiple of 1000 up to kMaxToneHz.
void RenderTone(uint64_t firstSampleFrame, uint8_t* out, size_t sampleFrames,
                int toneHz = kDefaultToneHz);

}  // namespace fluxmere::device
