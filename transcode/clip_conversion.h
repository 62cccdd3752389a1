#pragma once
// One conversion of a recorded clip into a movie or MXF file, fed with the clip's bytes as they
// arrive (a whole file for the tool, a download in progress for the transcoding engine).

#include <cstddef>
#include <cstdint>
#include <memory>

#include "transcode/movie_sink.h"
#include "transcode/output_choice.h"

namespace fluxmere::transcode {

enum class ConvertResult {
    Complete,     // the whole clip is in the output
    Cut,          // the clip ends inside a block (or before its first block): the output holds
                  // every whole picture and block of sound before the cut
    Damaged,      // a block makes no sense: the output holds everything before it
    NotAClip,     // no output was started
    WriteFailed,  // the output could not be written (or no encoder for the codec)
};

const char* ConvertResultText(ConvertResult result);

class IClipConversion {
public:
    virtual ~IClipConversion() = default;

    // The next bytes of the clip. False once the conversion cannot go on (see Finish).
    virtual bool Feed(const uint8_t* data, size_t size) = 0;
    // Ends the clip: finishes the output when one was started and says how the clip ended.
    virtual ConvertResult Finish() = 0;

    virtual uint32_t pictures() const = 0;
    virtual uint64_t durationMs() const = 0;
    virtual uint64_t clipBytes() const = 0;
    virtual uint64_t clipBytesUsed() const = 0;
};

// The conversion for a choice: the Motion-JPEG rewrap or an encoding one. The output goes to
// sink, which sees its first byte only once the clip's stream header was accepted. identity and
// timestamp make an MXF file's identifiers and dates. Null for a choice that is not writable or
// when memory is short.
std::unique_ptr<IClipConversion> MakeClipConversion(const OutputChoice& choice, IMovieSink* sink,
                                                    EncoderFactory encoders = MakePictureEncoder,
                                                    uint64_t identity = 0, uint64_t timestamp = 0);

}  // namespace fluxmere::transcode
