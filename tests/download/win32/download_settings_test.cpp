// The download settings in the registry of the current user (a sandbox of this process).

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "download/win32/download_settings.h"
#include "tests/download/win32/registry_sandbox.h"

namespace fluxmere::testing {
namespace {

struct StoredValue {
    bool present = false;
    DWORD type = 0;
    std::vector<uint8_t> data;
};

StoredValue ReadStored(const char* name) {
    StoredValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDownloadSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.present = true;
        value.data.resize(size);
        RegQueryValueExA(key, name, nullptr, nullptr, value.data.data(), &size);
    }
    RegCloseKey(key);
    return value;
}

void Store(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kDownloadSettingsKey, 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

std::string SharedDocuments() {
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, path)) || !path[0])
        return "c:";
    return path;
}

class DownloadSettings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(user_.ok()); }
    RegistrySandbox user_{HKEY_CURRENT_USER};
};

TEST_F(DownloadSettings, FirstUseStoresTheSharedDocumentsFolderAndOptionsZero) {
    char folder[kFolderBufferSize];
    std::memset(folder, 'x', sizeof(folder));
    uint32_t options = 0;
    ReadDownloadSettings(folder, &options);
    EXPECT_EQ(std::string(folder), SharedDocuments());
    EXPECT_EQ(options, 0u);

    const StoredValue stored = ReadStored("DownloadFolder");
    ASSERT_TRUE(stored.present);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(stored.data.size(), kFolderBufferSize) << "the whole buffer, NUL-padded";
    std::vector<uint8_t> expected(kFolderBufferSize, 0);
    std::memcpy(expected.data(), folder, std::strlen(folder));
    EXPECT_EQ(stored.data, expected);
    const StoredValue storedOptions = ReadStored("TranscodeOptions");
    ASSERT_TRUE(storedOptions.present);
    EXPECT_EQ(storedOptions.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(storedOptions.data, std::vector<uint8_t>(4, 0));
}

TEST_F(DownloadSettings, StoredValuesAreReturnedAsStoredAndAbsentOptionsKeepTheCallersValue) {
    const char stored[] = "D:\\clips";
    Store("DownloadFolder", REG_SZ, stored, sizeof(stored));
    char folder[kFolderBufferSize];
    uint32_t options = 0;
    ReadDownloadSettings(folder, &options);
    EXPECT_STREQ(folder, stored);
    EXPECT_EQ(options, 0u);
    EXPECT_FALSE(ReadStored("TranscodeOptions").present) << "a stored folder is not stored again";

    const DWORD three = 3;
    Store("TranscodeOptions", REG_DWORD, &three, sizeof(three));
    ReadDownloadSettings(folder, &options);
    EXPECT_EQ(options, 3u);
}

TEST_F(DownloadSettings, FolderValuesThatDoNotFitAreNeverReadPastTheBuffer) {
    // Stored by someone else: 260 characters without a NUL, and 300 characters. Neither may run
    // past the buffer or leave it unterminated; the first is cut at 259 characters or replaced
    // (the platform may count a NUL it would add), the second is always replaced.
    struct Case {
        std::string stored;
        std::string cut;
    } cases[] = {
        {std::string(kFolderBufferSize, 'a'), std::string(kFolderBufferSize - 1, 'a')},
        {std::string(300, 'b'), ""},
    };
    for (const Case& c : cases) {
        Store("DownloadFolder", REG_SZ, c.stored.data(), static_cast<DWORD>(c.stored.size()));
        char folder[kFolderBufferSize + 8];
        std::memset(folder, 'z', sizeof(folder));
        uint32_t options = 0;
        ReadDownloadSettings(reinterpret_cast<char(&)[kFolderBufferSize]>(folder), &options);
        EXPECT_EQ(folder[kFolderBufferSize], 'z');
        ASSERT_LT(strnlen(folder, kFolderBufferSize), kFolderBufferSize);
        const std::string read(folder);
        EXPECT_TRUE(read == SharedDocuments() || (!c.cut.empty() && read == c.cut)) << read;
    }
}

TEST_F(DownloadSettings, WriteStoresBothValuesAndPadsTheFolderWithZeros) {
    char folder[kFolderBufferSize];
    std::memset(folder, '#', sizeof(folder));  // what follows the NUL must not be stored
    std::strcpy(folder, "E:\\video");
    const uint32_t options = 2;
    ASSERT_TRUE(WriteDownloadSettings(folder, &options));
    std::vector<uint8_t> expected(kFolderBufferSize, 0);
    std::memcpy(expected.data(), "E:\\video", 8);
    EXPECT_EQ(ReadStored("DownloadFolder").data, expected);
    EXPECT_EQ(ReadStored("TranscodeOptions").data, std::vector<uint8_t>({2, 0, 0, 0}));
}

TEST_F(DownloadSettings, TranscodeEnableIsZeroWhenAbsent) {
    EXPECT_EQ(ReadTranscodeEnable(), 0u);
    const DWORD one = 1;
    Store("TranscodeEnable", REG_DWORD, &one, sizeof(one));
    EXPECT_EQ(ReadTranscodeEnable(), 1u);
}

// The hook reads every setting once per job; TranscodeEnable only decides the window's check
// boxes, never the job's outputs.
TEST_F(DownloadSettings, OneReadingGivesTheJobItsOptionsAndTheWindowItsCheckBoxes) {
    char folder[kFolderBufferSize] = "E:\\video";
    const uint32_t stored = 3;
    ASSERT_TRUE(WriteDownloadSettings(folder, &stored));
    fluxmere::DownloadSettings settings = CurrentDownloadSettings();
    EXPECT_STREQ(settings.folder, "E:\\video");
    EXPECT_EQ(settings.options, 3u);
    EXPECT_FALSE(settings.transcodeEnabled);
    EXPECT_EQ(settings.engineInstalled, IsTranscoderInstalled());
    const DWORD one = 1;
    Store("TranscodeEnable", REG_DWORD, &one, sizeof(one));
    EXPECT_TRUE(CurrentDownloadSettings().transcodeEnabled);

    struct Case {
        bool engine;
        bool enabled;
        uint32_t jobOptions;
        bool checkBoxes;
    } cases[] = {
        {true, true, 3, true},
        {true, false, 3, false},  // the job still makes both outputs
        {false, true, 0, false},
        {false, false, 0, false},
    };
    for (const Case& c : cases) {
        settings.engineInstalled = c.engine;
        settings.transcodeEnabled = c.enabled;
        EXPECT_EQ(settings.JobOptions(), c.jobOptions) << c.engine << c.enabled;
        EXPECT_EQ(settings.TranscodeAvailable(), c.checkBoxes) << c.engine << c.enabled;
    }
}

TEST(TranscoderEngine, CountsAsInstalledWhenItsClassHasAProgId) {
    const char key[] = "CLSID\\{9AAA4435-1994-4F7E-A4AB-0AA2A4CE0974}";
    HKEY existing = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &existing) == ERROR_SUCCESS) {
        // Another test's engine stand-in is registered: leave it alone.
        RegCloseKey(existing);
        EXPECT_TRUE(IsTranscoderInstalled());
        return;
    }
    EXPECT_FALSE(IsTranscoderInstalled());
    HKEY progId = nullptr;
    const std::string progIdKey = std::string(key) + "\\ProgID";
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, progIdKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &progId, nullptr),
              ERROR_SUCCESS);
    const char name[] = "Transcoder.Engine.1";
    RegSetValueExA(progId, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof(name));
    RegCloseKey(progId);
    EXPECT_TRUE(IsTranscoderInstalled());
    RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
    EXPECT_FALSE(IsTranscoderInstalled());
}

}  // namespace
}  // namespace fluxmere::testing
