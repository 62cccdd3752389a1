#include "transcode/output_choice.h"

namespace fluxmere::transcode {

// The DV and D-10 encoders join here once they are part of the build.
std::unique_ptr<IPictureEncoder> MakePictureEncoder(PictureCodec) {
    return nullptr;
}

}  // namespace fluxmere::transcode
