#include "download/response_header.h"

#include <cstring>

namespace fluxmere {

void ReadResponseHeader(IByteSource& source, ResponseHeader* header) {
    header->length = 0;
    header->end = HeaderEnd::Interrupted;
    int lineBreakRun = 0;
    while (true) {
        if (header->length >= kHeaderBufferSize - 1) {
            header->end = HeaderEnd::TooLong;
            break;
        }
        uint8_t byte = 0;
        if (source.Read(&byte, 1) != 1)
            break;
        header->text[header->length++] = static_cast<char>(byte);
        lineBreakRun = (byte == '\r' || byte == '\n') ? lineBreakRun + 1 : 0;
        if (lineBreakRun == 4) {
            header->end = HeaderEnd::Complete;
            break;
        }
    }
    header->text[header->length] = '\0';
}

bool IsUsableHeader(const ResponseHeader& header) {
    // Searched over the received length: a NUL byte inside the header must not hide the mark.
    if (header.end != HeaderEnd::Complete)
        return false;
    for (size_t i = 0; i + 3 <= header.length; ++i) {
        if (std::memcmp(header.text + i, "xml", 3) == 0)
            return false;
    }
    return true;
}

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether text (length bytes) holds word in any case.
bool ContainsFolded(const char* text, size_t length, const char* word) {
    const size_t wordLength = std::strlen(word);
    for (size_t i = 0; i + wordLength <= length; ++i) {
        size_t k = 0;
        while (k < wordLength && Lower(text[i + k]) == word[k])
            ++k;
        if (k == wordLength)
            return true;
    }
    return false;
}

bool IsFileNameCharacter(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F)
        return false;
    return std::strchr("\\/:*?\"<>|", c) == nullptr;
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 open a device, not a file, in every folder and
// with any extension ("NUL.kelo" is the null device).
bool IsReservedDeviceName(const char* name, size_t length) {
    static const char* const kThreeLetters[] = {"CON", "PRN", "AUX", "NUL"};
    auto matches = [&](const char* word) {
        for (size_t i = 0; i < 3; ++i) {
            if (Upper(name[i]) != word[i])
                return false;
        }
        return true;
    };
    if (length == 3) {
        for (const char* word : kThreeLetters) {
            if (matches(word))
                return true;
        }
        return false;
    }
    return length == 4 && (matches("COM") || matches("LPT")) && name[3] >= '1' && name[3] <= '9';
}

}  // namespace

int ResponseStatus(const ResponseHeader& header) {
    // "HTTP/" digit "." digit, one blank, three digits, then a blank or the line's end.
    const char* text = header.text;
    if (header.length < 12 || std::strncmp(text, "HTTP/", 5) != 0)
        return 0;
    size_t i = 5;
    while (i < header.length && text[i] != ' ')
        ++i;
    if (i + 4 > header.length)
        return 0;
    int status = 0;
    for (size_t k = i + 1; k < i + 4; ++k) {
        if (text[k] < '0' || text[k] > '9')
            return 0;
        status = status * 10 + (text[k] - '0');
    }
    const char after = i + 4 < header.length ? text[i + 4] : '\0';
    return (after == ' ' || after == '\r' || after == '\n') ? status : 0;
}

bool IsChunkedResponse(const ResponseHeader& header) {
    static const char kName[] = "transfer-encoding:";
    size_t line = 0;
    while (line < header.length) {
        size_t end = line;
        while (end < header.length && header.text[end] != '\r' && header.text[end] != '\n')
            ++end;
        const size_t length = end - line;
        if (length >= sizeof(kName) - 1 &&
            ContainsFolded(header.text + line, sizeof(kName) - 1, kName) &&
            ContainsFolded(header.text + line, length, "chunked")) {
            return true;
        }
        line = end + 1;
    }
    return false;
}

bool TakeBaseNameFromHeader(const char* header, char* baseName, size_t capacity) {
    static const char kMark[] = "filename=\"";
    const char* mark = std::strstr(header + (header[0] != '\0' ? 1 : 0), kMark);
    if (mark == nullptr)
        return false;
    const char* name = mark + sizeof(kMark) - 1;
    size_t length = 0;
    while (name[length] != '.') {
        if (name[length] == '\0' || !IsFileNameCharacter(name[length]))
            return false;
        ++length;
    }
    if (length == 0 || length >= capacity)
        return false;
    // Windows drops a trailing space from a name, which would then differ from the one chosen
    // as free. (NAME ends at its first full stop, so it never ends in one.)
    if (name[length - 1] == ' ')
        return false;
    if (IsReservedDeviceName(name, length))
        return false;
    std::memcpy(baseName, name, length);
    baseName[length] = '\0';
    return true;
}

}  // namespace fluxmere
