#pragma once
// The pictures of the device's recorded clips: a one-second loop of the moving test pattern,
// encoded as "mjpa" payloads once per process (by the portable scan encoder, so that every
// platform has the same bytes) and reused for every clip.

#include <cstdint>
#include <vector>

namespace fluxmere::device {

constexpr int kClipPictureWidth = 352;
constexpr int kClipPictureHeight = 288;
constexpr uint32_t kLoopPictures = 25;

// The payload of picture index % kLoopPictures of the loop.
const std::vector<uint8_t>& LoopPicture(uint32_t index);

}  // namespace fluxmere::device
