#pragma once
// What the engine reads from a job description (the XML text the download job submits): where
// the clip comes from (the shared memory and its two events), where the output goes and in what
// container and codec.

#include <string>

#include "transcode/output_choice.h"

namespace fluxmere::engine {

enum class OutputKind { Movie, Mxf, Unknown };

struct JobRequest {
    std::wstring pipePath;    // "pipe" path: the shared memory's name with its braces
    std::wstring readyEvent;  // "pipe" keloevent: set when a block (or the end) is in memory
    std::wstring takenEvent;  // "pipe" keloeventdone: set by the engine when it took a block
    std::wstring outputPath;  // "file" path
    std::wstring containerUuid;
    std::wstring codecUuid;  // "codec" uuid; empty when the description has no codec
    OutputKind output = OutputKind::Unknown;
};

// Container uuids of the job description.
inline constexpr wchar_t kMovieContainer[] = L"BD584BB3-BCD9-439C-9801-7ECB96D6390E";
inline constexpr wchar_t kMxfContainer[] = L"2173EC89-E410-4529-80DA-DF31031DEBC9";

// Codec uuids of the job description: one for DV and DVCPRO, one for IMX at any rate.
inline constexpr wchar_t kDvCodec[] = L"CADA66B7-3CA6-4ABA-A210-ECB4FFBC8B61";
inline constexpr wchar_t kImxCodec[] = L"C6500BED-A830-4042-AE52-390CF7E1DC35";

// Reads the attributes above (entities decoded). False when one of them is missing (the codec
// may be).
bool ParseJobRequest(const wchar_t* text, JobRequest* request);

// What the job's output is. The container uuid picks the movie or MXF; the codec uuid the
// pictures: DV/DVCPRO becomes DVCPRO25 (the DV flavour every reader of both containers takes),
// IMX becomes IMX50. The job names IMX with one uuid for all three rates, and nothing else tells
// the rate: the output's name is the device's clip name, and the clip carries Motion-JPEG
// pictures whatever rate the user chose. 50 Mbit/s is the rate with the best pictures and the
// one every D-10 reader takes. A movie job without a codec keeps the clip's own pictures (the
// lossless rewrap); an MXF job needs one (DVCPRO25 when there is none: MXF readers have no
// mapping for Motion-JPEG). False for an unknown container or codec uuid.
bool ChooseOutput(const JobRequest& request, transcode::OutputChoice* choice);

}  // namespace fluxmere::engine
