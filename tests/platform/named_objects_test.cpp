// Windows only: named kernel objects and code page conversion.
#ifdef _WIN32

#include "platform/win32/named_objects.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace fluxmere::platform {
namespace {

// Names unique to this process, so that runs side by side do not meet.
std::wstring UniqueName(const wchar_t* what) {
    return std::wstring(L"FluxmerePlatformTest.") + what + L"." +
           std::to_wstring(GetCurrentProcessId());
}

TEST(NamedEventTest, TwoHandlesOfOneNameShareTheState) {
    const std::wstring name = UniqueName(L"event");
    NamedEvent maker;
    bool existed = true;
    ASSERT_TRUE(maker.Create(name.c_str(), true, false, &existed));
    EXPECT_FALSE(existed);

    NamedEvent second;
    ASSERT_TRUE(second.Create(name.c_str(), true, false, &existed));
    EXPECT_TRUE(existed);
    NamedEvent opened;
    ASSERT_TRUE(opened.Open(name.c_str()));

    EXPECT_EQ(opened.Wait(0), WaitResult::Timeout);
    ASSERT_TRUE(maker.Set());
    EXPECT_EQ(opened.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(second.Wait(0), WaitResult::Signaled) << "manual reset stays set";
    ASSERT_TRUE(opened.Reset());
    EXPECT_EQ(maker.Wait(0), WaitResult::Timeout);

    NamedEvent missing;
    EXPECT_FALSE(missing.Open(UniqueName(L"missing").c_str()));
    EXPECT_EQ(missing.Wait(0), WaitResult::Failed);
    EXPECT_FALSE(missing.Set());
}

TEST(SharedMemoryTest, TwoMappingsOfOneNameSeeTheSameBytes) {
    const std::wstring name = UniqueName(L"memory");
    SharedMemory writer;
    ASSERT_TRUE(writer.Create(name.c_str(), 524288));
    ASSERT_NE(writer.data(), nullptr);
    EXPECT_EQ(writer.size(), 524288u);

    SharedMemory reader;
    ASSERT_TRUE(reader.Open(name.c_str(), 524288));
    auto* bytes = static_cast<unsigned char*>(writer.data());
    bytes[0] = 0x5A;
    bytes[524287] = 0xA5;
    const auto* seen = static_cast<const unsigned char*>(reader.data());
    EXPECT_EQ(seen[0], 0x5A);
    EXPECT_EQ(seen[524287], 0xA5);

    SharedMemory missing;
    EXPECT_FALSE(missing.Open(UniqueName(L"nomemory").c_str(), 16));
    EXPECT_EQ(missing.data(), nullptr);
    EXPECT_FALSE(missing.Create(name.c_str(), 0));
}

TEST(CodePageTest, ConvertsBothWaysWithinTheBuffer) {
    const char* path = "C:\\Downloads\\clip01.kelo";
    wchar_t wide[64];
    ASSERT_TRUE(AnsiToWide(path, wide, 64));
    EXPECT_STREQ(wide, L"C:\\Downloads\\clip01.kelo");
    char back[64];
    ASSERT_TRUE(WideToAnsi(wide, back, 64));
    EXPECT_STREQ(back, path);

    // Too small: nothing half-written is left behind.
    wchar_t smallWide[8];
    EXPECT_FALSE(AnsiToWide(path, smallWide, 8));
    EXPECT_STREQ(smallWide, L"");
    char smallAnsi[8];
    EXPECT_FALSE(WideToAnsi(wide, smallAnsi, 8));
    EXPECT_STREQ(smallAnsi, "");
    EXPECT_FALSE(AnsiToWide(nullptr, wide, 64));
    EXPECT_FALSE(AnsiToWide(path, nullptr, 64));

    // Exactly fitting, the terminating NUL included.
    wchar_t exact[25];
    ASSERT_EQ(std::strlen(path) + 1, 25u);
    EXPECT_TRUE(AnsiToWide(path, exact, 25));
}

}  // namespace
}  // namespace fluxmere::platform

#endif  // _WIN32
