#include "download/download_url.h"

#include <cstring>

#include "platform/socket.h"

namespace fluxmere {

CodecKind CodecFromParameters(const char* parameters) {
    struct Name {
        const char* text;
        CodecKind codec;
    };
    // Order matters: "DV" is a prefix of "DVCPRO".
    static const Name kNames[] = {
        {"DVCPRO", CodecKind::DVCPRO}, {"DV", CodecKind::DV},       {"IMX30", CodecKind::IMX30},
        {"IMX40", CodecKind::IMX40},   {"IMX50", CodecKind::IMX50}, {"MPEG2-I", CodecKind::MPEG2I},
    };
    for (const Name& name : kNames) {
        if (std::strstr(parameters, name.text) != nullptr)
            return name.codec;
    }
    return CodecKind::Unknown;
}

bool SplitDownloadUrl(const char* url, DownloadUrlParts* parts) {
    const char* command = std::strstr(url, kExportCommand);
    const char* firstSlash = std::strchr(url, '/');
    if (command == nullptr || firstSlash == nullptr)
        return false;
    const size_t commandOffset = static_cast<size_t>(command - url);
    const size_t hostOffset = static_cast<size_t>(firstSlash - url) + 2;
    // The slash before the command ends the host text; it must come after the host's start.
    if (commandOffset == 0 || url[commandOffset - 1] != '/' || commandOffset - 1 < hostOffset)
        return false;
    parts->commandOffset = commandOffset;
    parts->hostOffset = hostOffset;
    parts->hostLength = commandOffset - 1 - hostOffset;
    parts->codec = CodecFromParameters(command + kExportCommandLength);
    return true;
}

bool DeviceAddressOfHost(const char* host, size_t hostLength, uint32_t* address) {
    char text[kTextBufferSize];
    if (hostLength >= sizeof(text))
        return false;
    std::memcpy(text, host, hostLength);
    text[hostLength] = '\0';
    *address = platform::InetAddr(text);
    return true;
}

size_t BuildExportRequest(const char* commandAndParameters, char* request, size_t capacity) {
    static const char kStart[] = "GET /";
    static const char kEnd[] = " HTTP/1.1\r\nAccept: */*\r\n\r\n";
    const size_t startLength = sizeof(kStart) - 1;
    const size_t middleLength = std::strlen(commandAndParameters);
    const size_t endLength = sizeof(kEnd) - 1;
    const size_t length = startLength + middleLength + endLength;
    if (capacity == 0 || length >= capacity) {
        if (capacity != 0)
            request[0] = '\0';
        return 0;
    }
    std::memcpy(request, kStart, startLength);
    std::memcpy(request + startLength, commandAndParameters, middleLength);
    std::memcpy(request + startLength + middleLength, kEnd, endLength + 1);
    return length;
}

bool CopyText(const char* text, char* buffer, size_t capacity) {
    if (capacity == 0)
        return false;
    const size_t length = std::strlen(text);
    if (length >= capacity) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, text, length + 1);
    return true;
}

}  // namespace fluxmere
