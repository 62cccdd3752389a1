#pragma once
// fluxmere-viewer.exe started by a Windows test under Wine, as a process of its own: its standard
// output and error go to files of the test's folder (read while it runs or after), and its frame
// window can be found to send it what a user's clicks and keys send. The test stops it by its own
// handle when it is still running at the end.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tests/support/wine_environment.h"

namespace fluxmere::testing {

// Text mode writes line ends as CR LF.
inline std::string TextOf(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t byte : bytes)
        if (byte != '\r')
            text += static_cast<char>(byte);
    return text;
}

class ViewerProcess {
public:
    // Files of their own for every run: Wine may close a finished process's inherited handles a
    // moment after it reports the process ended.
    explicit ViewerProcess(const std::string& folder)
        : outPath_(WindowsPathOfUnixPath(folder + "/viewer" + std::to_string(++runs_) + ".out")),
          errPath_(WindowsPathOfUnixPath(folder + "/viewer" + std::to_string(runs_) + ".err")) {}
    ~ViewerProcess() {
        if (process_.hProcess != nullptr) {
            if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0)
                TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, INFINITE);
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
        }
    }

    // arguments: the command line after the program's name.
    bool Start(const std::string& viewerExe, const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA(outPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
        HANDLE err = CreateFileA(errPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out;
        startup.hStdError = err;
        std::string command = "\"" + WindowsPathOfUnixPath(viewerExe) + "\" " + arguments;
        const bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, nullptr, &startup, &process_);
        CloseHandle(out);
        CloseHandle(err);
        return started;
    }

    std::string Out() const { return TextOf(ReadFileBytes(outPath_)); }
    std::string Err() const { return TextOf(ReadFileBytes(errPath_)); }

    // Waits up to timeoutMs until standard output holds every phrase.
    bool WaitForOutput(const std::vector<std::string>& phrases, DWORD timeoutMs) const {
        const DWORD start = GetTickCount();
        for (;;) {
            const std::string out = Out();
            bool all = true;
            for (const std::string& phrase : phrases)
                all = all && out.find(phrase) != std::string::npos;
            if (all)
                return true;
            if (GetTickCount() - start >= timeoutMs)
                return false;
            Sleep(100);
        }
    }

    // The viewer's frame window, once it has one.
    HWND Frame() {
        if (frame_ == nullptr)
            EnumWindows(OfferWindow, reinterpret_cast<LPARAM>(this));
        return frame_;
    }

    // The exit status once it ended (0xFFFFFFFF when it did not within timeoutMs).
    DWORD Wait(DWORD timeoutMs) {
        DWORD code = 0xFFFFFFFF;
        if (WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

private:
    // EnumWindows' callback (stdcall on i686): keeps the viewer's frame window.
    static BOOL CALLBACK OfferWindow(HWND window, LPARAM self) {
        auto* viewer = reinterpret_cast<ViewerProcess*>(self);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        char name[64] = {};
        GetClassNameA(window, name, sizeof name);
        if (pid != viewer->process_.dwProcessId || std::strcmp(name, "FluxmereViewerFrame") != 0)
            return TRUE;
        viewer->frame_ = window;
        return FALSE;
    }

    static inline int runs_ = 0;
    std::string outPath_, errPath_;
    PROCESS_INFORMATION process_ = {};
    HWND frame_ = nullptr;
};

}  // namespace fluxmere::testing
