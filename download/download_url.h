#pragma once
// What the download job reads from the URL the browser was about to fetch: the codec named in the
// export command's parameters, the device's host text and address, and the HTTP request text.

#include <cstddef>
#include <cstdint>

#include "download/download_notices.h"

namespace fluxmere {

// The device's export command; everything from it to the end of the URL is sent as the path.
constexpr char kExportCommand[] = "command.cgi?stream&kelo&";
constexpr size_t kExportCommandLength = sizeof(kExportCommand) - 1;

// Size of every text buffer of a job (URL, paths, request), terminating NUL included.
constexpr size_t kTextBufferSize = 260;

// The codec named in the parameters (the text after the command). "DVCPRO" is tested before
// "DV", so a URL naming both kinds of DV yields DVCPRO; otherwise the first name of the fixed
// order DVCPRO, DV, IMX30, IMX40, IMX50, MPEG2-I found anywhere in the parameters wins.
CodecKind CodecFromParameters(const char* parameters);

// A URL cut into what the fetch thread needs.
struct DownloadUrlParts {
    size_t commandOffset = 0;  // where kExportCommand starts
    size_t hostOffset = 0;     // first character of the host text (after "//")
    size_t hostLength = 0;     // the host text runs up to the slash before the command
    CodecKind codec = CodecKind::Unknown;
};

// False when the URL holds no export command, or no slash precedes it far enough on for a host
// text to start two characters after the URL's first slash.
bool SplitDownloadUrl(const char* url, DownloadUrlParts* parts);

// The device's address for a host text: inet_addr of it (kInaddrNone for a name or anything not
// dotted). Returns false when the host does not fit a 260-byte buffer.
bool DeviceAddressOfHost(const char* host, size_t hostLength, uint32_t* address);

// "GET /" + command and parameters + " HTTP/1.1\r\nAccept: */*\r\n\r\n" into request (NUL
// terminated). Returns the request length, or 0 when it does not fit capacity bytes with its NUL;
// nothing is written past capacity.
size_t BuildExportRequest(const char* commandAndParameters, char* request, size_t capacity);

// Copies text with its NUL into a buffer of capacity bytes. False (and an empty buffer) when it
// does not fit.
bool CopyText(const char* text, char* buffer, size_t capacity);

}  // namespace fluxmere
