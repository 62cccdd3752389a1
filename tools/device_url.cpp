#include "tools/device_url.h"

namespace fluxmere::cli {

bool DropFixedPort(std::string* url, uint16_t port, const char* what, std::string* error) {
    const size_t scheme = url->find("://");
    if (scheme == std::string::npos)
        return true;
    const size_t hostStart = scheme + 3;
    const size_t slash = url->find('/', hostStart);
    const size_t hostEnd = slash == std::string::npos ? url->size() : slash;
    const size_t colon = url->rfind(':', hostEnd);
    if (colon == std::string::npos || colon < hostStart)
        return true;
    const std::string named = url->substr(colon + 1, hostEnd - colon - 1);
    if (named == std::to_string(port)) {
        url->erase(colon, hostEnd - colon);
        return true;
    }
    *error = url->substr(0, hostEnd) + " names port " + named + ", but the device's " + what +
             " port is always " + std::to_string(port) + ": give " + url->substr(0, colon) +
             "/... (or :" + std::to_string(port) + ")";
    return false;
}

}  // namespace fluxmere::cli
