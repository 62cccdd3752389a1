#include "engine/job_request.h"

#include <cwchar>

namespace fluxmere::engine {
namespace {

// The start tag of the first element called `name`, as [begin, end) of the text; false when
// there is none.
bool FindStartTag(const std::wstring& text, const wchar_t* name, size_t* begin, size_t* end) {
    const std::wstring open = std::wstring(L"<") + name;
    for (size_t at = text.find(open); at != std::wstring::npos; at = text.find(open, at + 1)) {
        const size_t after = at + open.size();
        if (after < text.size() &&
            (text[after] == L' ' || text[after] == L'>' || text[after] == L'/')) {
            const size_t close = text.find(L'>', after);
            if (close == std::wstring::npos) {
                return false;
            }
            *begin = after;
            *end = close;
            return true;
        }
    }
    return false;
}

void DecodeEntities(std::wstring* value) {
    static const struct {
        const wchar_t* entity;
        wchar_t character;
    } kEntities[] = {
        {L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&apos;", L'\''}};
    std::wstring out;
    for (size_t i = 0; i < value->size(); ++i) {
        bool replaced = false;
        if ((*value)[i] == L'&') {
            for (const auto& e : kEntities) {
                const size_t n = std::wcslen(e.entity);
                if (value->compare(i, n, e.entity) == 0) {
                    out += e.character;
                    i += n - 1;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            out += (*value)[i];
        }
    }
    value->swap(out);
}

// The value of attribute `name` in the start tag of element `element`.
bool Attribute(const std::wstring& text, const wchar_t* element, const wchar_t* name,
               std::wstring* value) {
    size_t begin = 0, end = 0;
    if (!FindStartTag(text, element, &begin, &end)) {
        return false;
    }
    const std::wstring key = std::wstring(L" ") + name + L"=\"";
    const size_t at = text.find(key, begin);
    if (at == std::wstring::npos || at >= end) {
        return false;
    }
    const size_t first = at + key.size();
    const size_t last = text.find(L'"', first);
    if (last == std::wstring::npos || last > end) {
        return false;
    }
    value->assign(text, first, last - first);
    DecodeEntities(value);
    return true;
}

}  // namespace

bool ParseJobRequest(const wchar_t* text, JobRequest* request) {
    if (text == nullptr) {
        return false;
    }
    const std::wstring xml(text);
    JobRequest r;
    if (!Attribute(xml, L"pipe", L"path", &r.pipePath) ||
        !Attribute(xml, L"pipe", L"keloevent", &r.readyEvent) ||
        !Attribute(xml, L"pipe", L"keloeventdone", &r.takenEvent) ||
        !Attribute(xml, L"file", L"path", &r.outputPath) ||
        !Attribute(xml, L"container", L"uuid", &r.containerUuid)) {
        return false;
    }
    if (!Attribute(xml, L"codec", L"uuid", &r.codecUuid)) {
        r.codecUuid.clear();
    }
    r.output = r.containerUuid == kMovieContainer ? OutputKind::Movie
               : r.containerUuid == kMxfContainer ? OutputKind::Mxf
                                                  : OutputKind::Unknown;
    *request = r;
    return true;
}

bool ChooseOutput(const JobRequest& request, transcode::OutputChoice* choice) {
    using transcode::PictureCodec;
    if (request.output == OutputKind::Unknown) {
        return false;
    }
    const bool mxf = request.output == OutputKind::Mxf;
    choice->container =
        mxf ? transcode::OutputContainer::Mxf : transcode::OutputContainer::QuickTime;
    if (request.codecUuid.empty()) {
        choice->codec = mxf ? PictureCodec::Dvcpro25 : PictureCodec::MotionJpeg;
    } else if (request.codecUuid == kDvCodec) {
        choice->codec = PictureCodec::Dvcpro25;
    } else if (request.codecUuid == kImxCodec) {
        choice->codec = PictureCodec::Imx50;
    } else {
        return false;
    }
    return true;
}

}  // namespace fluxmere::engine
