#pragma once
// Gives this process a fresh, empty stand-in for a predefined registry root (HKEY_CURRENT_USER,
// HKEY_LOCAL_MACHINE), so that tests read and write their own registry: nothing of the Wine
// prefix they share with other tests running at the same time is touched.

#include <windows.h>

#include <string>

namespace fluxmere::testing {

class RegistrySandbox {
public:
    explicit RegistrySandbox(HKEY root) : root_(root) {
        static LONG counter = 0;
        path_ = "Software\\FluxmereTestSandbox\\" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(InterlockedIncrement(&counter));
        RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        overridden_ = key_ != nullptr && RegOverridePredefKey(root_, key_) == ERROR_SUCCESS;
    }
    ~RegistrySandbox() {
        if (overridden_)
            RegOverridePredefKey(root_, nullptr);
        if (key_ != nullptr)
            RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    }
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    bool ok() const { return overridden_; }

private:
    HKEY root_;
    HKEY key_ = nullptr;
    bool overridden_ = false;
    std::string path_;
};

}  // namespace fluxmere::testing
