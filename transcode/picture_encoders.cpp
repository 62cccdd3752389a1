#include <new>

#include "transcode/dv_encoder.h"
#include "transcode/output_choice.h"

namespace fluxmere::transcode {

std::unique_ptr<IPictureEncoder> MakePictureEncoder(PictureCodec codec) {
    switch (codec) {
        case PictureCodec::Dvcpro25:
            return std::unique_ptr<IPictureEncoder>(new (std::nothrow)
                                                        DvEncoder(DvFlavour::Dvcpro25));
        default:
            return nullptr;
    }
}

}  // namespace fluxmere::transcode
