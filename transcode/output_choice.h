#pragma once
// What a clip is converted into: the container and the codec of the pictures.

#include <memory>

#include "transcode/picture_encoder.h"

namespace fluxmere::transcode {

enum class OutputContainer { QuickTime, Mxf };

// MotionJpeg keeps the clip's own pictures (a lossless rewrap, QuickTime only); the others are
// encoded at 720 x 576. The plain DV choice is written as DVCPRO25 too: it is the DV flavour
// that every reader of these containers takes, and the job names both with one identifier.
enum class PictureCodec { MotionJpeg, Dvcpro25, Imx30, Imx40, Imx50 };

struct OutputChoice {
    OutputContainer container = OutputContainer::QuickTime;
    PictureCodec codec = PictureCodec::MotionJpeg;
};

// False for a choice no writer takes (Motion-JPEG in MXF: its readers have no mapping for it).
inline bool IsWritable(const OutputChoice& choice) {
    return !(choice.container == OutputContainer::Mxf && choice.codec == PictureCodec::MotionJpeg);
}

// Makes the encoder of a codec other than MotionJpeg; null when there is none or memory is short.
using EncoderFactory = std::unique_ptr<IPictureEncoder> (*)(PictureCodec codec);

// The encoders of this build (DV and D-10).
std::unique_ptr<IPictureEncoder> MakePictureEncoder(PictureCodec codec);

}  // namespace fluxmere::transcode
