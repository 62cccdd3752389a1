#pragma once
// What the engine reads from a job description (the XML text the download job submits): where
// the clip comes from (the shared memory and its two events) and where the output goes.

#include <string>

namespace fluxmere::engine {

enum class OutputKind { Movie, Mxf, Unknown };

struct JobRequest {
    std::wstring pipePath;    // "pipe" path: the shared memory's name with its braces
    std::wstring readyEvent;  // "pipe" keloevent: set when a block (or the end) is in memory
    std::wstring takenEvent;  // "pipe" keloeventdone: set by the engine when it took a block
    std::wstring outputPath;  // "file" path
    std::wstring containerUuid;
    OutputKind output = OutputKind::Unknown;
};

// Container uuids of the job description.
inline constexpr wchar_t kMovieContainer[] = L"BD584BB3-BCD9-439C-9801-7ECB96D6390E";
inline constexpr wchar_t kMxfContainer[] = L"2173EC89-E410-4529-80DA-DF31031DEBC9";

// Reads the attributes above (entities decoded). False when one of them is missing.
bool ParseJobRequest(const wchar_t* text, JobRequest* request);

}  // namespace fluxmere::engine
