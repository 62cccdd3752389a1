#pragma once
// The job description handed to the transcoding engine for one output, built with the Windows XML
// DOM: where the clip comes from (the shared memory's name and this output's two events), where
// the output goes (the .kelo path with ".mov" or ".mxf"), and the container and codec. The
// "container" subtree comes from a fixed one-line template.

#include <windows.h>
#include <msxml2.h>

#include <cstdint>

#include "download/download_links.h"
#include "download/transcode_options.h"
#include "platform/file.h"

namespace fluxmere {

// The template of the "container" subtree, loaded unchanged.
extern const wchar_t kContainerTemplate[];

// Builds the description. The three names are GUID strings with braces. Returns the document
// (the caller releases it), or nullptr for a codec the engine is not given (Unknown, MPEG2I),
// after clearing the job's movie option, or when the DOM cannot be created.
IXMLDOMDocument* BuildJobDescription(ITranscodeSource* job, OutputFormat format,
                                     const wchar_t* readyName, const wchar_t* takenName,
                                     const wchar_t* mappingName);

// The output's file: the .kelo path with ".mov" or ".mxf". False when the path does not convert.
constexpr int kOutputPathSize = platform::kMaxPath + 4;
bool OutputFilePath(ITranscodeSource* job, OutputFormat format, wchar_t (&path)[kOutputPathSize]);

// The serialisation of the document element (its xml property), without an XML declaration;
// the caller frees it. nullptr when there is none.
BSTR JobDescriptionText(IXMLDOMDocument* document);

}  // namespace fluxmere
