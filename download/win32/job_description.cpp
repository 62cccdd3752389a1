#include "download/win32/job_description.h"

#include <cwchar>

#include "download/win32/com_ref.h"
#include "platform/file.h"
#include "platform/win32/named_objects.h"

namespace fluxmere {
namespace {

// DOMDocument {2933BF90-7B36-11D2-B20E-00C04F983E60}.
const CLSID kClsidDomDocument = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

constexpr wchar_t kStreamUuid[] = L"1854B3CC-35E8-4A2B-AE51-0B2B0C59C21D";
constexpr wchar_t kMovieContainerUuid[] = L"BD584BB3-BCD9-439C-9801-7ECB96D6390E";
constexpr wchar_t kMxfContainerUuid[] = L"2173EC89-E410-4529-80DA-DF31031DEBC9";
constexpr wchar_t kDvCodecUuid[] = L"CADA66B7-3CA6-4ABA-A210-ECB4FFBC8B61";
constexpr wchar_t kImxCodecUuid[] = L"C6500BED-A830-4042-AE52-390CF7E1DC35";

// A BSTR for the duration of one call.
class Text {
public:
    explicit Text(const wchar_t* text) : bstr_(SysAllocString(text)) {}
    ~Text() { SysFreeString(bstr_); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    operator BSTR() const { return bstr_; }

private:
    BSTR bstr_;
};

void SetAttribute(IXMLDOMElement* element, const wchar_t* name, const wchar_t* value) {
    Text nameText(name);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value);
    element->setAttribute(nameText, v);
    VariantClear(&v);
}

bool CreateElement(IXMLDOMDocument* document, const wchar_t* name, Ref<IXMLDOMElement>* element) {
    Text nameText(name);
    return SUCCEEDED(document->createElement(nameText, element->out())) &&
           element->get() != nullptr;
}

void Append(IXMLDOMNode* parent, IXMLDOMNode* child) {
    IXMLDOMNode* added = nullptr;
    if (SUCCEEDED(parent->appendChild(child, &added)) && added != nullptr) {
        added->Release();
    }
}

bool CreateDocument(Ref<IXMLDOMDocument>* document) {
    return SUCCEEDED(CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument,
                                      reinterpret_cast<void**>(document->out())));
}

}  // namespace

const wchar_t kContainerTemplate[] =
    L"<container name=\"Encoder\" type=\"movie\">  <codec name=\"directconvert\" standard=\"\" "
    L"type=\"movie\">    <channels name=\"Audio Channels\" type=\"fixed\" "
    L"unit=\"channels\">8</channels>    <sample-rate name=\"Audio Sample Rate\" type=\"fixed\" "
    L"unit=\"Hz\">48000</sample-rate>    <manual content-type=\"text/html\" "
    L"path=\"net/vandelor/skiv/engine/plugin/skiv/FinalCutPro_DVCPRODirectConvert.htm\">"
    L"FinalCutPro_DVCPRODirectConvert.htm</manual>    <timecode name=\"Generate Timecode Track\" "
    L"type=\"boolean\">false      <timecode-visible name=\"Timecode Visible\" "
    L"type=\"boolean\">true</timecode-visible>    </timecode>  </codec></container>";

IXMLDOMDocument* BuildJobDescription(ITranscodeSource* job, OutputFormat format,
                                     const wchar_t* readyName, const wchar_t* takenName,
                                     const wchar_t* mappingName) {
    Ref<IXMLDOMDocument> templateDocument;
    if (!CreateDocument(&templateDocument)) {
        return nullptr;
    }
    VARIANT_BOOL loaded = VARIANT_FALSE;
    Text templateText(kContainerTemplate);
    templateDocument->loadXML(templateText, &loaded);
    Ref<IXMLDOMElement> container;
    if (loaded != VARIANT_TRUE || FAILED(templateDocument->get_documentElement(container.out())) ||
        container.get() == nullptr) {
        return nullptr;
    }
    Ref<IXMLDOMDocument> document;
    if (!CreateDocument(&document)) {
        return nullptr;
    }
    SetAttribute(container.get(), L"uuid",
                 format == OutputFormat::Mxf ? kMxfContainerUuid : kMovieContainerUuid);

    Ref<IXMLDOMNode> codecNode;
    Ref<IXMLDOMElement> codec;
    if (FAILED(container->get_firstChild(codecNode.out())) || codecNode.get() == nullptr ||
        FAILED(
            codecNode->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(codec.out())))) {
        return nullptr;
    }
    switch (job->Codec()) {
        case CodecKind::DV:
        case CodecKind::DVCPRO:
            SetAttribute(codec.get(), L"uuid", kDvCodecUuid);
            break;
        case CodecKind::IMX30:
        case CodecKind::IMX40:
        case CodecKind::IMX50:
            SetAttribute(codec.get(), L"uuid", kImxCodecUuid);
            break;
        default:
            job->ClearOptions(kTranscodeToMovie);
            return nullptr;
    }

    Ref<IXMLDOMElement> content, input, output, pipe, stream, file;
    if (!CreateElement(document.get(), L"content", &content) ||
        !CreateElement(document.get(), L"input", &input) ||
        !CreateElement(document.get(), L"output", &output) ||
        !CreateElement(document.get(), L"pipe", &pipe)) {
        return nullptr;
    }
    SetAttribute(pipe.get(), L"path", mappingName);
    SetAttribute(pipe.get(), L"keloevent", readyName);
    SetAttribute(pipe.get(), L"keloeventdone", takenName);
    if (!CreateElement(document.get(), L"stream", &stream)) {
        return nullptr;
    }
    SetAttribute(stream.get(), L"uuid", kStreamUuid);
    if (!CreateElement(document.get(), L"file", &file)) {
        return nullptr;
    }
    wchar_t path[kOutputPathSize];
    if (!OutputFilePath(job, format, path)) {
        std::wcscpy(path, format == OutputFormat::Mxf ? L".mxf" : L".mov");
    }
    SetAttribute(file.get(), L"path", path);
    SetAttribute(file.get(), L"version", L"duplicate");

    Append(document.get(), content.get());
    Append(content.get(), input.get());
    Append(content.get(), output.get());
    Append(input.get(), pipe.get());
    Append(pipe.get(), stream.get());
    Append(output.get(), file.get());
    Append(file.get(), container.get());
    return document.detach();
}

bool OutputFilePath(ITranscodeSource* job, OutputFormat format, wchar_t (&path)[kOutputPathSize]) {
    if (!platform::AnsiToWide(job->FilePath(), path, platform::kMaxPath)) {
        path[0] = L'\0';
        return false;
    }
    std::wcscat(path, format == OutputFormat::Mxf ? L".mxf" : L".mov");
    return true;
}

BSTR JobDescriptionText(IXMLDOMDocument* document) {
    if (document == nullptr) {
        return nullptr;
    }
    Ref<IXMLDOMElement> root;
    BSTR text = nullptr;
    if (SUCCEEDED(document->get_documentElement(root.out())) && root.get() != nullptr) {
        root->get_xml(&text);
    }
    return text;
}

}  // namespace fluxmere
