#include "tests/support/device_process.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include "tests/support/wine_environment.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace fluxmere::testing {
namespace {

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int NextReadyIndex() {
    static int index = 0;
    return ++index;
}

std::atomic<long> unixProgramsStarted{0};

#ifdef _WIN32
int OwnId() {
    return static_cast<int>(GetCurrentProcessId());
}

// Runs a Unix command line through Wine's CreateProcessA and waits (bounded) for it.
bool RunUnixCommand(const std::string& commandLine, bool wait) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    ++unixProgramsStarted;
    // Wine starts a Unix program without a Windows process of its own: hProcess stays null and
    // hThread is left as it happens to be, so closing it would close some other handle of ours
    // that has that value (seen: a job thread's event, whose thread then waited forever).
    if (info.hProcess == nullptr) {
        return true;
    }
    if (wait) {
        WaitForSingleObject(info.hProcess, 10000);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}
#else
int OwnId() {
    return static_cast<int>(getpid());
}
#endif

bool FileExists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    std::fclose(f);
    return true;
}

}  // namespace

DeviceProcess::~DeviceProcess() {
    if (running()) {
        Stop();
    }
    if (!readyPathLocal_.empty()) {
        std::remove((readyPathLocal_ + ".counters").c_str());
    }
}

bool DeviceProcess::ReadReadyFile() {
    std::FILE* f = std::fopen(readyPathLocal_.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    if (!got) {
        return false;
    }
    readyLine_ = line;
    while (!readyLine_.empty() && (readyLine_.back() == '\n' || readyLine_.back() == '\r')) {
        readyLine_.pop_back();
    }
    const size_t at = readyLine_.find(" pid=");
    if (at == std::string::npos) {
        return false;
    }
    pid_ = std::atoi(readyLine_.c_str() + at + 5);
    return pid_ > 0;
}

long long DeviceProcess::Counter(const std::string& name) {
    std::FILE* f = std::fopen((readyPathLocal_ + ".counters").c_str(), "rb");
    if (f == nullptr) {
        return -1;
    }
    char line[2048] = {};
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    const std::string text = got ? std::string(" ") + line : std::string();
    const size_t at = text.find(" " + name + "=");
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + name.size() + 2);
}

long DeviceProcess::UnixProgramsStarted() {
    return unixProgramsStarted.load();
}

bool DeviceProcess::Start(const std::vector<std::string>& arguments, uint32_t timeoutMs) {
    error_.clear();
    if (running()) {
        error_ = "already running";
        return false;
    }
    const char* binary = std::getenv("FLUXMERE_DEVICE_BIN");
    if (binary == nullptr || binary[0] == '\0') {
        error_ = "FLUXMERE_DEVICE_BIN is not set";
        return false;
    }
    // The ready file lives in the test's scratch folder when the harness gives one.
    const char* scratch = std::getenv("FLUXMERE_TEST_DIR");
    std::string folder = scratch != nullptr && scratch[0] == '/' ? scratch : "/tmp";
    readyPath_ = folder + "/fluxmere-device-" + std::to_string(OwnId()) + "-" +
                 std::to_string(NextReadyIndex()) + ".ready";
#ifdef _WIN32
    readyPathLocal_ = WindowsPathOfUnixPath(readyPath_);
#else
    readyPathLocal_ = readyPath_;
#endif
    std::remove(readyPathLocal_.c_str());
    std::remove((readyPathLocal_ + ".counters").c_str());

    std::vector<std::string> args = arguments;
    bool bounded = false;
    for (const std::string& a : args) {
        bounded = bounded || a == "--for";
    }
    if (!bounded) {
        args.insert(args.end(), {"--for", "300"});
    }
    args.insert(args.end(), {"--ready-file", readyPath_});

#ifdef _WIN32
    // Arguments with blanks are quoted the way the Windows command line splitter expects.
    auto quoted = [](const std::string& a) {
        return a.find_first_of(" \t") == std::string::npos ? a : "\"" + a + "\"";
    };
    std::string commandLine = quoted(binary);
    for (const std::string& a : args) {
        commandLine += " " + quoted(a);
    }
    if (!RunUnixCommand(commandLine, false)) {
        error_ = "CreateProcessA failed for " + std::string(binary);
        return false;
    }
#else
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary));
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int failed = posix_spawn(&child, binary, &actions, nullptr, argv.data(), environ);
    ++unixProgramsStarted;
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        error_ = "posix_spawn failed for " + std::string(binary);
        return false;
    }
#endif

    const uint64_t deadline = NowMs() + timeoutMs;
    while (!ReadReadyFile()) {
#ifndef _WIN32
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            error_ = "the device ended before it was ready";
            return false;
        }
#endif
        if (NowMs() >= deadline) {
#ifndef _WIN32
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
#endif
            error_ = "no ready line within the time-out";
            return false;
        }
        SleepMs(10);
    }
    return true;
}

bool DeviceProcess::Stop(uint32_t timeoutMs) {
    if (!running()) {
        return false;
    }
    const int pid = pid_;
    pid_ = 0;
    const uint64_t deadline = NowMs() + timeoutMs;
#ifdef _WIN32
    RunUnixCommand("/bin/kill -TERM " + std::to_string(pid), true);
    // The device removes its ready file once it has stopped.
    while (FileExists(readyPathLocal_)) {
        if (NowMs() >= deadline) {
            RunUnixCommand("/bin/kill -KILL " + std::to_string(pid), true);
            error_ = "the device did not stop";
            return false;
        }
        SleepMs(10);
    }
    return true;
#else
    kill(pid, SIGTERM);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (NowMs() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            error_ = "the device did not stop";
            return false;
        }
        SleepMs(10);
    }
    // A clean stop removes the ready file on the way out.
    const bool clean =
        WIFEXITED(status) && WEXITSTATUS(status) == 0 && !FileExists(readyPathLocal_);
    std::remove(readyPathLocal_.c_str());
    return clean;
#endif
}

}  // namespace fluxmere::testing
