// The module file's resources, read back as the system and the other parts read them: registry
// scripts, type library, toolbox bitmap, context menu, download manager dialog, string, version
// and manifest.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "module/resource_ids.h"
#include "tests/module/module_library.h"

namespace fluxmere::testing {
namespace {

class Resources : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module_.loaded()); }

    // The bytes of resource (type, name), empty when there is none.
    std::vector<uint8_t> Bytes(LPCWSTR type, LPCWSTR name) {
        HRSRC found = FindResourceW(module_.handle(), name, type);
        if (found == nullptr)
            return {};
        HGLOBAL loaded = LoadResource(module_.handle(), found);
        const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
        return std::vector<uint8_t>(data, data + SizeofResource(module_.handle(), found));
    }

    ModuleLibrary module_;
};

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(Resources, RegistryScriptsAndTypeLibrary) {
    const std::string player = Text(Bytes(L"REGISTRY", MAKEINTRESOURCEW(IDR_MEDIA_PLAYER)));
    const std::string manager =
        Text(Bytes(L"REGISTRY", MAKEINTRESOURCEW(IDR_FLUXMERE_DOWNLOAD_MANAGER)));
    EXPECT_NE(player.find("ForceRemove {CF9A6AEF-DBEE-4DB9-A67E-D878982D7FDD}"), std::string::npos);
    EXPECT_NE(manager.find("ForceRemove {9E6D1B14-BD51-491D-977D-FA5D05BE288D}"),
              std::string::npos);
    const std::vector<uint8_t> library = Bytes(L"TYPELIB", MAKEINTRESOURCEW(1));
    ASSERT_GE(library.size(), 4u);
    EXPECT_EQ(std::memcmp(library.data(), "MSFT", 4), 0) << "a compiled type library";
}

TEST_F(Resources, ToolboxBitmapIs16By16With16Colours) {
    const std::vector<uint8_t> bitmap =
        Bytes(MAKEINTRESOURCEW(2) /*RT_BITMAP*/, MAKEINTRESOURCEW(IDB_MEDIA_PLAYER));
    ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, bitmap.data(), sizeof header);
    EXPECT_EQ(header.biWidth, 16);
    EXPECT_EQ(header.biHeight, 16);
    EXPECT_EQ(header.biBitCount, 4);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
}

TEST_F(Resources, ContextMenu) {
    HMENU menu = LoadMenuW(module_.handle(), MAKEINTRESOURCEW(IDR_CONTEXT_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 1);
    wchar_t text[64] = {};
    GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"Pop_up");
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), 2);
    const struct {
        UINT id;
        const wchar_t* text;
    } items[] = {{32769, L"&Use Download Manager"}, {32770, L"&Show Download Manager options"}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(GetMenuItemID(popup, i), items[i].id);
        GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, items[i].text);
    }
    DestroyMenu(menu);
}

// Reads an extended dialog template field by field.
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    template <typename T>
    T Read() {
        T value{};
        if (at_ + sizeof value <= bytes_.size())
            std::memcpy(&value, &bytes_[at_], sizeof value);
        at_ += sizeof value;
        return value;
    }
    // A string or, after 0xFFFF, an ordinal (given as "#n").
    std::wstring NameOrOrdinal() {
        const WORD first = Read<WORD>();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Read<WORD>());
        std::wstring text;
        for (WORD c = first; c != 0; c = Read<WORD>())
            text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignToDword() { at_ = (at_ + 3) & ~size_t{3}; }

private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

// Predefined window classes are stored as ordinals.
std::wstring ClassName(const std::wstring& stored) {
    if (stored == L"#128")
        return L"button";
    if (stored == L"#129")
        return L"edit";
    if (stored == L"#130")
        return L"static";
    std::wstring lower = stored;
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(towlower(c));
    return lower;
}

TEST_F(Resources, DownloadManagerDialog) {
    const std::vector<uint8_t> bytes =
        Bytes(MAKEINTRESOURCEW(5) /*RT_DIALOG*/, MAKEINTRESOURCEW(IDD_DOWNLOAD_MANAGER));
    ASSERT_FALSE(bytes.empty());
    TemplateReader reader(bytes);
    EXPECT_EQ(reader.Read<WORD>(), 1);  // extended template
    EXPECT_EQ(reader.Read<WORD>(), 0xFFFF);
    reader.Read<DWORD>();  // help id
    EXPECT_EQ(reader.Read<DWORD>(), 0u) << "extended style";
    EXPECT_EQ(reader.Read<DWORD>(),
              static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
    const WORD controls = reader.Read<WORD>();
    EXPECT_EQ(reader.Read<short>(), 0);
    EXPECT_EQ(reader.Read<short>(), 0);
    EXPECT_EQ(reader.Read<short>(), 315);
    EXPECT_EQ(reader.Read<short>(), 193);
    EXPECT_EQ(reader.NameOrOrdinal(), L"") << "no menu";
    EXPECT_EQ(reader.NameOrOrdinal(), L"") << "the standard dialog class";
    EXPECT_EQ(reader.NameOrOrdinal(), L"Fluxmere Download Manager");
    EXPECT_EQ(reader.Read<WORD>(), 8) << "points";
    reader.Read<WORD>();  // weight
    reader.Read<BYTE>();  // italic
    reader.Read<BYTE>();  // character set
    EXPECT_EQ(reader.NameOrOrdinal(), L"MS Sans Serif");

    const DWORD child = WS_CHILD | WS_VISIBLE;
    const struct {
        int id;
        const wchar_t* className;
        const wchar_t* text;
        short x, y, cx, cy;
        DWORD style;
    } expected[] = {
        {201, L"syslistview32", L"List1", 8, 57, 300, 93,
         child | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_NOSORTHEADER},
        {204, L"edit", L"", 48, 9, 204, 14,
         child | WS_DISABLED | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL},
        {-1, L"static", L"Download Folder", 8, 9, 35, 18, child | WS_GROUP | SS_LEFT},
        {205, L"button", L"&Change", 255, 9, 50, 14, child | WS_TABSTOP | BS_PUSHBUTTON},
        {206, L"button", L"&Hide", 259, 155, 50, 14, child | WS_TABSTOP | BS_PUSHBUTTON},
        {207, L"button", L"&Transcode to Quicktime Movie", 8, 40, 120, 17,
         child | WS_TABSTOP | BS_AUTOCHECKBOX},
        {208, L"button", L"&Transcode to MXF", 8, 27, 120, 17,
         child | WS_TABSTOP | BS_AUTOCHECKBOX},
    };
    ASSERT_EQ(controls, 7);
    for (const auto& control : expected) {
        SCOPED_TRACE(control.id);
        reader.AlignToDword();
        reader.Read<DWORD>();  // help id
        EXPECT_EQ(reader.Read<DWORD>(), 0u) << "extended style";
        EXPECT_EQ(reader.Read<DWORD>(), control.style);
        EXPECT_EQ(reader.Read<short>(), control.x);
        EXPECT_EQ(reader.Read<short>(), control.y);
        EXPECT_EQ(reader.Read<short>(), control.cx);
        EXPECT_EQ(reader.Read<short>(), control.cy);
        EXPECT_EQ(static_cast<int>(reader.Read<DWORD>()), control.id);
        EXPECT_EQ(ClassName(reader.NameOrOrdinal()), control.className);
        EXPECT_EQ(reader.NameOrOrdinal(), control.text);
        const WORD extra = reader.Read<WORD>();
        for (WORD i = 0; i < extra; ++i)
            reader.Read<BYTE>();
    }
}

TEST_F(Resources, ProjectNameVersionAndManifest) {
    wchar_t name[64] = {};
    EXPECT_GT(LoadStringW(module_.handle(), IDS_PROJNAME, name, 64), 0);
    EXPECT_STREQ(name, L"FluxmereLibrary");

    const std::vector<uint8_t> version =
        Bytes(MAKEINTRESOURCEW(16) /*RT_VERSION*/, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(version.empty());
    std::vector<uint8_t> copy = version;  // VerQueryValue wants a writable block
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x0000000Bu);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x0000000Bu);
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);
    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } strings[] = {
        {L"FileDescription", L"FluxmereLibrary Module"},
        {L"FileVersion", L"1, 0, 0, 11"},
        {L"InternalName", L"FluxmereLibrary"},
        {L"OriginalFilename", L"FluxmereLibrary.DLL"},
        {L"ProductName", L"FluxmereLibrary Module"},
        {L"ProductVersion", L"1, 0, 0, 11"},
    };
    for (const auto& entry : strings) {
        wchar_t* value = nullptr;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + entry.name;
        ASSERT_TRUE(
            VerQueryValueW(copy.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
            << path.size();
        EXPECT_STREQ(value, entry.value);
    }

    const std::string manifest =
        Text(Bytes(MAKEINTRESOURCEW(24) /*RT_MANIFEST*/, MAKEINTRESOURCEW(2)));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
}

}  // namespace
}  // namespace fluxmere::testing
