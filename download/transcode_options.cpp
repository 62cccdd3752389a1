#include "download/transcode_options.h"

namespace fluxmere {

int TranscodeOutputs(uint32_t options, OutputFormat (&outputs)[kMaxTranscodeOutputs]) {
    if (options == 0)
        return 0;
    if (options == kTranscodeToMxf) {
        outputs[0] = OutputFormat::Mxf;
        return 1;
    }
    outputs[0] = OutputFormat::Movie;
    if (options != (kTranscodeToMovie | kTranscodeToMxf))
        return 1;
    outputs[1] = OutputFormat::Mxf;
    return 2;
}

}  // namespace fluxmere
