// The engine's reader of a job description (the text a download job submits), on any text, and
// the output it chooses from it. Input bytes below 0x80 become characters as they are; a byte
// from 0x80 on takes the next byte with it as one wide character, so the text can hold any BMP
// character. Checked: no read outside the text, a parsed request names its container consistently,
// and a chosen output is always one that a writer takes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/job_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fluxmere::engine;
    std::wstring text;
    for (size_t i = 0; i < size; ++i) {
        wchar_t c = data[i];
        if (data[i] >= 0x80 && i + 1 < size) {
            c = static_cast<wchar_t>(((data[i] & 0x7F) << 8) | data[i + 1]);
            ++i;
        }
        if (c != 0)
            text += c;
    }
    JobRequest request;
    if (!ParseJobRequest(text.c_str(), &request)) {
        return 0;
    }
    const bool movie = request.containerUuid == kMovieContainer;
    const bool mxf = request.containerUuid == kMxfContainer;
    if ((request.output == OutputKind::Movie) != movie ||
        (request.output == OutputKind::Mxf) != mxf)
        std::abort();
    fluxmere::transcode::OutputChoice choice;
    if (ChooseOutput(request, &choice) && !fluxmere::transcode::IsWritable(choice))
        std::abort();
    return 0;
}
