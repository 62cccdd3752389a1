#include <new>

#include "transcode/d10_encoder.h"
#include "transcode/dv_encoder.h"
#include "transcode/output_choice.h"

namespace fluxmere::transcode {

std::unique_ptr<IPictureEncoder> MakePictureEncoder(PictureCodec codec) {
    IPictureEncoder* encoder = nullptr;
    switch (codec) {
        case PictureCodec::Dvcpro25:
            encoder = new (std::nothrow) DvEncoder(DvFlavour::Dvcpro25);
            break;
        case PictureCodec::Imx30:
            encoder = new (std::nothrow) D10Encoder(ImxRate::Imx30);
            break;
        case PictureCodec::Imx40:
            encoder = new (std::nothrow) D10Encoder(ImxRate::Imx40);
            break;
        case PictureCodec::Imx50:
            encoder = new (std::nothrow) D10Encoder(ImxRate::Imx50);
            break;
        case PictureCodec::MotionJpeg:
            break;
    }
    return std::unique_ptr<IPictureEncoder>(encoder);
}

}  // namespace fluxmere::transcode
