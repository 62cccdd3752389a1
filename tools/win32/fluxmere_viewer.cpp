// fluxmere-viewer.exe: watches up to 16 cameras without a browser, in a wall of one window. Each
// cell embeds the viewer control by its ProgID through the ActiveX host of the system's atl.dll
// (a real container) and drives it through its dispatch interface as a page would; a strip under
// each picture tells the camera's address and state. A session that ends or freezes is started
// again by itself (player/reconnect_policy.h). Only the selected camera is heard.
//
// Mouse and keys: a click selects a cell, a double click shows it alone and back, Esc leaves that;
// Ctrl+S saves the selected camera's picture, Ctrl+Shift+S every camera's (PNG files named by
// address and time). The same commands arrive as WM_COMMAND with the ids below.
//
// --dll makes the controls straight from that DLL's class object, without the registry. Without
// --seconds it runs until the window is closed or Ctrl-C. Exit status 0 when every camera's
// picture was shown, 1 when one never was or a control could not be made, 2 for bad arguments.

#include <windows.h>
#include <mmsystem.h>
#include <ole2.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tools/camera_wall.h"
#include "tools/cli_args.h"
#include "tools/device_url.h"
#include "tools/image_file.h"
#include "tools/win32/camera_cell.h"
#include "tools/win32/window_picture.h"

namespace {

using fluxmere::cli::Args;
using fluxmere::cli::FlagSpec;
using namespace fluxmere::tools;

const std::vector<FlagSpec> kFlags = {
    {"url", true, "URL     a camera's stream, rtsp://HOST/PATH (repeat for more cameras)"},
    {"urls", true, "FILE    the cameras' streams, one a line ('#' starts a comment)"},
    {"size", true, "WxH     size of each camera's picture (default 320x240)"},
    {"seconds", true, "S       how long to watch (default: until the window is closed)"},
    {"screenshot", true, "FILE    save the window at the end (FILE.png or FILE.bmp)"},
    {"snapshots", true, "DIR     where Ctrl+S saves pictures (default: your pictures folder)"},
    {"progid", true, "ID      the control's ProgID (default FluxmereLibrary.MediaPlayer)"},
    {"dll", true, "FILE    make the control from this DLL, without the registry"},
    {"version", false, "        print the version and end"},
    {"help", false, "        show this help"},
};

constexpr char kUsage[] =
    "fluxmere-viewer --url rtsp://HOST/PATH [--url ...] | --urls FILE [--size WxH]\n"
    "                       [--seconds S] [--screenshot FILE.png|FILE.bmp] [--snapshots DIR]\n"
    "                       [--progid ID | --dll FILE]";
constexpr char kSummary[] =
    "Shows up to 16 cameras' live pictures in one window, each through the registered\n"
    "viewer control (or the one in --dll), and starts a camera that went away or froze\n"
    "again by itself. A click selects a camera (only it is heard), a double click shows\n"
    "it alone, Esc goes back; Ctrl+S saves its picture, Ctrl+Shift+S every camera's.\n"
    "Exit status 0 when every camera's picture was shown, 1 when one never was or the\n"
    "control failed, 2 for bad arguments.";

constexpr uint16_t kRtspPort = 554;
constexpr uint64_t kTickMs = 200;
constexpr uint64_t kBatchMs = 10;  // what a new picture may wait for its batch

// The frame's commands (its accelerators, or WM_COMMAND from outside).
constexpr WORD kCommandSnapshot = 101;
constexpr WORD kCommandSnapshotAll = 102;
constexpr WORD kCommandLeaveFull = 103;

struct Options {
    std::vector<std::string> urls;
    int width = 320;  // each camera's picture
    int height = 240;
    double seconds = 0;  // 0: until closed
    std::string screenshot;
    std::string snapshots;  // empty: the user's pictures folder
    ControlSource source;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "fluxmere-viewer: %s (see fluxmere-viewer --help)\n", message.c_str());
    return 2;
}

bool ReadTextFile(const std::string& path, std::string* text) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream bytes;
    bytes << file.rdbuf();
    *text = bytes.str();
    return true;
}

// The cameras of --url and --urls, each checked and without the fixed port. False with *status.
bool ReadUrls(const Args& args, Options* options, int* status) {
    options->urls = args.GetAll("url");
    if (args.Has("urls")) {
        std::string text;
        if (!ReadTextFile(args.Get("urls"), &text)) {
            *status = UsageError("cannot read --urls " + args.Get("urls"));
            return false;
        }
        for (const std::string& url : ReadUrlList(text))
            options->urls.push_back(url);
    }
    if (options->urls.empty()) {
        *status = UsageError("--url or --urls is required");
        return false;
    }
    if (options->urls.size() > static_cast<size_t>(kMaxWallCameras)) {
        *status = UsageError("at most " + std::to_string(kMaxWallCameras) + " cameras, not " +
                             std::to_string(options->urls.size()));
        return false;
    }
    for (std::string& url : options->urls) {
        std::string portError;
        if (url.compare(0, 7, "rtsp://") != 0) {
            *status =
                UsageError("--url needs the device's stream, rtsp://HOST/PATH, not '" + url + "'");
            return false;
        }
        if (!fluxmere::cli::DropFixedPort(&url, kRtspPort, "RTSP", &portError)) {
            *status = UsageError(portError);
            return false;
        }
    }
    return true;
}

// False with *status set when the program ends here (help, version or a usage error).
bool ParseArguments(int argc, char** argv, Options* options, int* status) {
    Args args;
    if (!args.Parse(argc, argv, 1, kFlags)) {
        *status = UsageError(args.error());
        return false;
    }
    *status = 0;
    if (args.Has("help")) {
        fluxmere::cli::PrintHelp(kUsage, kSummary, kFlags);
        return false;
    }
    if (args.Has("version")) {
        std::printf("fluxmere-viewer %s\n", FLUXMERE_VERSION);
        return false;
    }
    if (!args.positional().empty()) {
        *status = UsageError("unexpected argument '" + args.positional()[0] + "'");
        return false;
    }
    if (!ReadUrls(args, options, status))
        return false;
    if ((args.Has("size") && !args.GetSize("size", 1920, &options->width, &options->height)) ||
        (args.Has("seconds") && !args.GetDouble("seconds", 0.1, 86400, &options->seconds))) {
        *status = UsageError(args.error());
        return false;
    }
    if (options->height > 1088) {
        *status = UsageError("--size: the height may be at most 1088");
        return false;
    }
    options->screenshot = args.Get("screenshot");
    if (args.Has("screenshot") && ImageFormatOf(options->screenshot) == ImageFormat::Unknown) {
        *status = UsageError("--screenshot needs a name ending in .png or .bmp, not '" +
                             options->screenshot + "'");
        return false;
    }
    options->snapshots = args.Get("snapshots");
    if (args.Has("progid"))
        options->source.progid = Widen(args.Get("progid"));
    options->source.dll = args.Get("dll");
    return true;
}

// The user's pictures folder, where snapshots go unless --snapshots names another.
std::string PicturesFolder() {
    char path[MAX_PATH] = {};
    if (SUCCEEDED(
            SHGetFolderPathA(nullptr, CSIDL_MYPICTURES | CSIDL_FLAG_CREATE, nullptr, 0, path)))
        return path;
    return ".";
}

// The cells in the frame: the grid, the selected cell, the one shown alone, the strips.
class Wall {
public:
    Wall(HWND frame, const Options& options)
        : frame_(frame),
          side_(WallSide(static_cast<int>(options.urls.size()))),
          snapshots_(options.snapshots) {
        for (size_t i = 0; i < options.urls.size(); ++i)
            cells_.push_back(
                std::make_unique<CameraCell>(static_cast<int>(i + 1), options.urls[i]));
    }

    size_t CellCount() const { return cells_.size(); }

    // Every cell's control; only the first camera is heard. False after saying why.
    bool Create(AtlLibrary& atl, const ControlSource& source) {
        for (auto& cell : cells_) {
            if (!cell->Create(atl, source, frame_))
                return false;
        }
        Select(0);
        Layout();
        return true;
    }

    void Layout() {
        RECT client;
        GetClientRect(frame_, &client);
        for (size_t i = 0; i < cells_.size(); ++i) {
            const bool visible = full_ < 0 || full_ == static_cast<int>(i);
            const WallRect picture = WallPicture(CellRect(static_cast<int>(i), client));
            const RECT place{picture.left, picture.top, picture.right, picture.bottom};
            cells_[i]->Place(place, visible);
        }
        InvalidateRect(frame_, nullptr, TRUE);
    }

    // The strips, and black where no camera is.
    void Paint(HDC dc) {
        RECT client;
        GetClientRect(frame_, &client);
        HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        FillRect(dc, &client, black);
        SetBkMode(dc, TRANSPARENT);
        SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        for (size_t i = 0; i < cells_.size(); ++i) {
            const int index = static_cast<int>(i);
            if (full_ >= 0 && full_ != index)
                continue;
            const WallRect strip = WallStrip(CellRect(index, client));
            RECT area{strip.left, strip.top, strip.right, strip.bottom};
            HBRUSH brush = CreateSolidBrush(index == selected_ ? RGB(0, 90, 170) : RGB(48, 48, 48));
            FillRect(dc, &area, brush);
            DeleteObject(brush);
            const CameraCell& cell = *cells_[i];
            std::string address = cell.url().substr(7);  // without rtsp://
            const std::string text =
                std::to_string(cell.number()) + "  " + address + "  " + cell.stripText();
            SetTextColor(dc, RGB(255, 255, 255));
            RECT textArea = area;
            textArea.left += 4;
            DrawTextA(dc, text.c_str(), -1, &textArea,
                      DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_END_ELLIPSIS | DT_NOPREFIX);
        }
    }

    // The reconnect rules of every cell; strips whose text changed are painted again.
    void Tick(uint64_t nowMs) {
        RECT client;
        GetClientRect(frame_, &client);
        for (size_t i = 0; i < cells_.size(); ++i) {
            if (!cells_[i]->Tick(nowMs))
                continue;
            const WallRect strip = WallStrip(CellRect(static_cast<int>(i), client));
            RECT area{strip.left, strip.top, strip.right, strip.bottom};
            InvalidateRect(frame_, &area, FALSE);
        }
    }

    // A click on the frame (client coordinates) or on a control's window.
    void Click(HWND window, POINT framePoint, bool doubleClick) {
        int index = CellOfWindow(window);
        if (index < 0) {
            RECT client;
            GetClientRect(frame_, &client);
            index = full_ >= 0 ? full_
                               : WallCellAt(framePoint.x, framePoint.y, side_, client.right,
                                            client.bottom);
        }
        if (index < 0 || index >= static_cast<int>(cells_.size()))
            return;
        Select(index);
        if (doubleClick) {
            full_ = full_ >= 0 ? -1 : index;
            Layout();
        }
    }

    void LeaveFull() {
        if (full_ < 0)
            return;
        full_ = -1;
        Layout();
    }

    // Only the selected camera is heard.
    void Select(int index) {
        if (index == selected_)
            return;
        selected_ = index;
        for (size_t i = 0; i < cells_.size(); ++i)
            cells_[i]->SetSound(static_cast<int>(i) == index);
        std::printf("cell %d %s: selected\n", index + 1, cells_[index]->url().c_str());
        std::fflush(stdout);
        InvalidateRect(frame_, nullptr, FALSE);
    }

    // Saves the selected camera's picture, or every camera's, as it is drawn now.
    void Snapshot(bool everyCamera) {
        const std::string folder = snapshots_.empty() ? PicturesFolder() : snapshots_;
        const std::time_t now = std::time(nullptr);
        std::tm local = {};
        localtime_s(&local, &now);
        for (size_t i = 0; i < cells_.size(); ++i) {
            if (!everyCamera && static_cast<int>(i) != selected_)
                continue;
            CameraCell& cell = *cells_[i];
            const std::string path = folder + "\\" + SnapshotName(cell.url(), local);
            BgrPicture picture;
            if (!cell.TakePicture(&picture)) {
                std::fprintf(stderr, "fluxmere-viewer: camera %d drew no picture to save\n",
                             cell.number());
            } else if (!WriteImageFile(path, picture.pixels.data(), picture.width, picture.height,
                                       picture.stride)) {
                std::fprintf(stderr, "fluxmere-viewer: cannot write %s: %s\n", path.c_str(),
                             std::strerror(errno));
            } else {
                std::printf("fluxmere-viewer: saved %s\n", path.c_str());
            }
        }
        std::fflush(stdout);
    }

    void Stop() {
        for (auto& cell : cells_)
            cell->Stop();
    }

    void Release() {
        for (auto& cell : cells_)
            cell->Release();
    }

    // The cameras whose picture was never shown, one line each.
    std::string NeverShown() const {
        std::string lines;
        for (const auto& cell : cells_) {
            if (!cell->shown())
                lines += "fluxmere-viewer: no picture from " + cell->url() + " was shown\n";
        }
        return lines;
    }

private:
    WallRect CellRect(int index, const RECT& client) const {
        if (full_ >= 0)
            return WallRect{0, 0, client.right, client.bottom};
        return WallCell(index, side_, client.right, client.bottom);
    }

    int CellOfWindow(HWND window) const {
        for (size_t i = 0; i < cells_.size(); ++i) {
            const HWND host = cells_[i]->host();
            if (host != nullptr && (window == host || IsChild(host, window)))
                return static_cast<int>(i);
        }
        return -1;
    }

    HWND frame_;
    const int side_;
    const std::string snapshots_;
    std::vector<std::unique_ptr<CameraCell>> cells_;
    int selected_ = -1;
    int full_ = -1;  // the cell shown alone, or -1
};

HWND g_frame = nullptr;  // for the console's Ctrl-C, which arrives on a thread of its own
Wall* g_wall = nullptr;  // for the frame's window procedure

BOOL WINAPI OnConsoleStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (g_frame != nullptr)
        PostMessageW(g_frame, WM_CLOSE, 0, 0);
    return TRUE;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_SIZE:
            if (g_wall != nullptr)
                g_wall->Layout();
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            if (g_wall != nullptr)
                g_wall->Paint(dc);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;  // WM_PAINT fills everything
        case WM_COMMAND:
            if (g_wall != nullptr) {
                if (LOWORD(wparam) == kCommandSnapshot)
                    g_wall->Snapshot(false);
                else if (LOWORD(wparam) == kCommandSnapshotAll)
                    g_wall->Snapshot(true);
                else if (LOWORD(wparam) == kCommandLeaveFull)
                    g_wall->LeaveFull();
            }
            return 0;
        case WM_CLOSE:
            PostQuitMessage(0);  // the loop ends; the window goes after the screenshot
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

HWND CreateFrame(const Options& options) {
    WNDCLASSW frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = GetModuleHandleW(nullptr);
    frameClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    frameClass.lpszClassName = L"FluxmereViewerFrame";
    RegisterClassW(&frameClass);
    const int side = WallSide(static_cast<int>(options.urls.size()));
    RECT outer{0, 0, side * options.width, side * (options.height + kWallStripHeight)};
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
    const std::wstring title =
        options.urls.size() == 1
            ? L"Fluxmere viewer - " + Widen(options.urls[0])
            : L"Fluxmere viewer - " + std::to_wstring(options.urls.size()) + L" cameras";
    return CreateWindowExW(0, L"FluxmereViewerFrame", title.c_str(),
                           WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, CW_USEDEFAULT,
                           CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// Tells single and double clicks apart, whichever window of the frame they land on (a control's
// window class need not ask for double clicks).
class ClickReader {
public:
    // True when msg was a click for the wall (it still goes to its window).
    bool Read(const MSG& msg, Wall& wall) {
        if (msg.message != WM_LBUTTONDOWN && msg.message != WM_LBUTTONDBLCLK)
            return false;
        if (msg.hwnd != g_frame && !IsChild(g_frame, msg.hwnd))
            return false;
        POINT point{static_cast<short>(LOWORD(msg.lParam)), static_cast<short>(HIWORD(msg.lParam))};
        MapWindowPoints(msg.hwnd, g_frame, &point, 1);
        bool doubleClick = msg.message == WM_LBUTTONDBLCLK;
        if (!doubleClick) {
            doubleClick = lastTime_ != 0 && msg.time - lastTime_ <= GetDoubleClickTime() &&
                          std::abs(point.x - last_.x) <= GetSystemMetrics(SM_CXDOUBLECLK) / 2 &&
                          std::abs(point.y - last_.y) <= GetSystemMetrics(SM_CYDOUBLECLK) / 2;
        }
        lastTime_ = doubleClick ? 0 : (msg.time == 0 ? 1 : msg.time);
        last_ = point;
        wall.Click(msg.hwnd, point, doubleClick);
        return true;
    }

private:
    DWORD lastTime_ = 0;
    POINT last_ = {};
};

// Pumps messages until the time is up or the window is closed; the reconnect rules look at the
// cells a few times a second. With several cameras messages are taken in batches at most every
// kBatchMs: the new pictures that arrive meanwhile then share one wake-up of this thread (and one
// update of the window on the screen) instead of costing one each. One camera has nothing to
// share a wake-up with: its pictures are a frame time apart, so a batch's wait would only add a
// wake-up of its own to each.
void Watch(const Options& options, Wall& wall) {
    ACCEL keys[] = {
        {FCONTROL | FVIRTKEY, 'S', kCommandSnapshot},
        {FCONTROL | FSHIFT | FVIRTKEY, 'S', kCommandSnapshotAll},
        {FVIRTKEY, VK_ESCAPE, kCommandLeaveFull},
    };
    HACCEL accelerators = CreateAcceleratorTableW(keys, 3);
    ClickReader clicks;
    const uint64_t start = GetTickCount64();
    const uint64_t limit = static_cast<uint64_t>(options.seconds * 1000);
    uint64_t lastTick = 0;
    uint64_t batchStart = start;
    bool took = false;  // the last batch had messages: more are likely soon
    const bool batched = wall.CellCount() > 1;
    wall.Tick(start);
    MSG msg;
    for (;;) {
        uint64_t now = GetTickCount64();
        if (options.seconds > 0 && now - start >= limit)
            break;
        if (now - lastTick >= kTickMs) {
            wall.Tick(now);
            lastTick = now;
        }
        if (took && batched) {
            if (now - batchStart < kBatchMs)
                Sleep(static_cast<DWORD>(kBatchMs - (now - batchStart)));
        } else {
            // Idle: until a message comes, the cells' next look or the end.
            uint64_t wait = kTickMs - (now - lastTick);
            if (options.seconds > 0 && limit - (now - start) < wait)
                wait = limit - (now - start);
            if (MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(wait),
                                          QS_ALLINPUT) == WAIT_FAILED)
                break;
        }
        batchStart = GetTickCount64();
        took = false;
        bool quit = false;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            took = true;
            if (msg.message == WM_QUIT) {
                quit = true;
                break;
            }
            if (accelerators != nullptr && TranslateAcceleratorW(g_frame, accelerators, &msg))
                continue;
            clicks.Read(msg, wall);
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (quit)
            break;
    }
    wall.Tick(GetTickCount64());
    if (accelerators != nullptr)
        DestroyAcceleratorTable(accelerators);
}

int Run(const Options& options) {
    AtlLibrary atl;
    if (!atl.ready()) {
        std::fprintf(stderr, "fluxmere-viewer: the ActiveX host of atl.dll is not available\n");
        return 1;
    }
    // The sound library of a machine without a sound device may print its own complaints when
    // the control opens the wave output; this is the one line that matters.
    if (waveOutGetNumDevs() == 0)
        std::fprintf(stderr, "fluxmere-viewer: no sound device: the picture plays without sound\n");
    g_frame = CreateFrame(options);
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
    Wall wall(g_frame, options);
    g_wall = &wall;
    const bool created = wall.Create(atl, options.source);
    if (created)
        Watch(options, wall);

    int status = created ? 0 : 1;
    if (created && !options.screenshot.empty()) {
        const std::string error =
            SaveWindowPicture(g_frame, WindowArea::Client, options.screenshot);
        if (error.empty()) {
            std::printf("fluxmere-viewer: saved %s\n", options.screenshot.c_str());
        } else {
            std::fprintf(stderr, "fluxmere-viewer: %s\n", error.c_str());
            status = 1;
        }
    }
    wall.Stop();
    wall.Release();
    SetConsoleCtrlHandler(OnConsoleStop, FALSE);
    g_wall = nullptr;
    DestroyWindow(g_frame);
    g_frame = nullptr;
    const std::string neverShown = created ? wall.NeverShown() : std::string();
    if (!neverShown.empty()) {
        std::fputs(neverShown.c_str(), stderr);
        return 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int status = 0;
    if (!ParseArguments(argc, argv, &options, &status))
        return status;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    status = Run(options);
    CoUninitialize();
    return status;
}
