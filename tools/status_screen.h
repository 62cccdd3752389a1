#pragma once
// Whether a picture of the viewer control shows the device's picture or one of the control's
// status screens ("Connecting", "Cannot connect", the download panel). Those are drawn on a
// light background in which every row has one colour; their texts and the Cancel button lie in
// the top 125 rows. The Windows viewer uses it to tell whether a picture was ever shown.

#include <cstdint>

namespace fluxmere::tools {

// bgr: rows top-down, 3 bytes a pixel, rows stride bytes apart. A picture with no rows is a
// status screen (nothing was shown).
bool IsStatusScreen(const uint8_t* bgr, int width, int height, int stride);

}  // namespace fluxmere::tools
