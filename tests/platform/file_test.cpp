#include "platform/file.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <string>

namespace fluxmere::platform {
namespace {

// Files are made in the working directory under names of this suite, and removed again.
class FileTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char* name : {"platform_file_a.bin", "platform_file_b.bin"})
            std::remove(name);
        RemoveFolder("platform_file_folder");
    }
    static void RemoveFolder(const char* name) {
#ifdef _WIN32
        _rmdir(name);
#else
        rmdir(name);
#endif
    }
    static bool MakeFolder(const char* name) {
#ifdef _WIN32
        return _mkdir(name) == 0;
#else
        return mkdir(name, 0755) == 0;
#endif
    }
};

TEST_F(FileTest, ReadWhileAnotherHandleStillWrites) {
    File writer;
    ASSERT_TRUE(writer.CreateAlways("platform_file_a.bin"));
    ASSERT_EQ(writer.Write("first", 5), 5);

    File reader;
    ASSERT_TRUE(reader.OpenForRead("platform_file_a.bin"));
    char buffer[16] = {};
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "first");
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 0) << "end of what was written so far";

    // The file grows under the open reader.
    ASSERT_EQ(writer.Write("second", 6), 6);
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 6);
    EXPECT_EQ(std::string(buffer, 6), "second");
    writer.Close();
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(writer.Write("x", 1), -1);
}

TEST_F(FileTest, CreateAlwaysTruncatesAnExistingFile) {
    {
        File file;
        ASSERT_TRUE(file.CreateAlways("platform_file_a.bin"));
        ASSERT_EQ(file.Write("0123456789", 10), 10);
    }
    File file;
    ASSERT_TRUE(file.CreateAlways("platform_file_a.bin"));
    ASSERT_EQ(file.Write("ab", 2), 2);
    file.Close();

    File reader;
    ASSERT_TRUE(reader.OpenForRead("platform_file_a.bin"));
    char buffer[16];
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 2);
}

TEST_F(FileTest, WriteAtReplacesBytesAndWritingGoesOnAtTheEnd) {
    File file;
    ASSERT_TRUE(file.CreateAlways("platform_file_a.bin"));
    ASSERT_EQ(file.Write("0123456789", 10), 10);
    EXPECT_TRUE(file.WriteAt(2, "ab", 2));
    ASSERT_EQ(file.Write("XY", 2), 2);
    EXPECT_FALSE(file.WriteAt(-1, "a", 1));
    file.Close();
    EXPECT_FALSE(file.WriteAt(0, "a", 1));

    File reader;
    ASSERT_TRUE(reader.OpenForRead("platform_file_a.bin"));
    char buffer[16] = {};
    ASSERT_EQ(reader.Read(buffer, sizeof buffer), 12);
    EXPECT_EQ(std::string(buffer, 12), "01ab456789XY");
}

TEST_F(FileTest, PathsUseTheBackslashSeparator) {
    File file;
    ASSERT_TRUE(file.CreateAlways(".\\platform_file_b.bin"));
    file.Close();
    EXPECT_TRUE(PathExists("platform_file_b.bin"));
    EXPECT_TRUE(PathExists(".\\platform_file_b.bin"));
    EXPECT_TRUE(PathExists("."));
    EXPECT_FALSE(PathExists(".\\")) << "a trailing separator finds nothing";
    EXPECT_FALSE(PathExists("platform_file_missing.bin"));
    EXPECT_FALSE(PathExists(""));
    EXPECT_FALSE(PathExists(nullptr));

    File missing;
    EXPECT_FALSE(missing.OpenForRead("platform_file_missing.bin"));
    EXPECT_FALSE(missing.IsOpen());
    char byte;
    EXPECT_EQ(missing.Read(&byte, 1), -1);
}

TEST_F(FileTest, PathsBeyondTheBufferAreRefused) {
    // "./" repeated names the working directory: a valid path, only too long for kMaxPath.
    std::string path;
    while (path.size() < static_cast<size_t>(kMaxPath))
        path += ".\\";
    path += "platform_file_a.bin";
    File file;
    EXPECT_FALSE(file.CreateAlways(path.c_str()));
    EXPECT_FALSE(PathExists(path.c_str()));
    EXPECT_FALSE(PathExists("platform_file_a.bin")) << "nothing was created";

    // Exactly the longest path that fits (259 characters) still works.
    path.clear();
    const std::string name = "platform_file_a.bin";
    while (path.size() + name.size() + 2 <= static_cast<size_t>(kMaxPath - 1))
        path += ".\\";
    path += name;
    ASSERT_LE(path.size(), static_cast<size_t>(kMaxPath - 1));
    EXPECT_TRUE(file.CreateAlways(path.c_str()));
    EXPECT_TRUE(PathExists("platform_file_a.bin"));
}

std::string Contents(const char* path) {
    File file;
    char buffer[64] = {};
    if (!file.OpenForRead(path))
        return "(none)";
    const int64_t n = file.Read(buffer, sizeof buffer);
    return n < 0 ? "(unreadable)" : std::string(buffer, static_cast<size_t>(n));
}

void WriteText(const char* path, const char* text) {
    File file;
    ASSERT_TRUE(file.CreateAlways(path));
    ASSERT_EQ(file.Write(text, static_cast<int64_t>(std::strlen(text))),
              static_cast<int64_t>(std::strlen(text)));
}

TEST_F(FileTest, SameFileGoesByIdentityNotByName) {
    WriteText("platform_file_a.bin", "a");
    WriteText("platform_file_b.bin", "a");
    EXPECT_TRUE(SameFile("platform_file_a.bin", "platform_file_a.bin"));
    EXPECT_TRUE(SameFile("platform_file_a.bin", ".\\platform_file_a.bin"));
    EXPECT_FALSE(SameFile("platform_file_a.bin", "platform_file_b.bin"))
        << "equal bytes, two files";
    EXPECT_FALSE(SameFile("platform_file_a.bin", "platform_file_missing.bin"));
    EXPECT_FALSE(SameFile("platform_file_missing.bin", "platform_file_missing.bin"));
#ifndef _WIN32
    // A second name of the same file.
    ASSERT_EQ(0, link("platform_file_a.bin", "platform_file_folder"));
    EXPECT_TRUE(SameFile("platform_file_a.bin", "platform_file_folder"));
    std::remove("platform_file_folder");
#endif
}

TEST_F(FileTest, RenameReplacesAnExistingFileOnlyWhenAsked) {
    WriteText("platform_file_a.bin", "new");
    WriteText("platform_file_b.bin", "old");
    EXPECT_FALSE(RenameFile("platform_file_a.bin", "platform_file_b.bin", false));
    EXPECT_EQ(Contents("platform_file_a.bin"), "new");
    EXPECT_EQ(Contents("platform_file_b.bin"), "old");

    EXPECT_TRUE(RenameFile("platform_file_a.bin", "platform_file_b.bin", true));
    EXPECT_FALSE(PathExists("platform_file_a.bin"));
    EXPECT_EQ(Contents("platform_file_b.bin"), "new");

    EXPECT_TRUE(RenameFile("platform_file_b.bin", "platform_file_a.bin", false));
    EXPECT_EQ(Contents("platform_file_a.bin"), "new");
    EXPECT_TRUE(RemoveFile("platform_file_a.bin"));
    EXPECT_FALSE(PathExists("platform_file_a.bin"));
    EXPECT_FALSE(RemoveFile("platform_file_a.bin"));
}

TEST_F(FileTest, CreateNewNeverOpensAnExistingName) {
    WriteText("platform_file_a.bin", "keep");
    File file;
    EXPECT_FALSE(file.CreateNew("platform_file_a.bin"));
    EXPECT_EQ(Contents("platform_file_a.bin"), "keep");
    ASSERT_TRUE(MakeFolder("platform_file_folder"));
    EXPECT_FALSE(file.CreateNew("platform_file_folder"));
    EXPECT_TRUE(IsFolder("platform_file_folder"));
    EXPECT_FALSE(IsFolder("platform_file_a.bin"));
    EXPECT_FALSE(IsFolder("platform_file_missing"));
    EXPECT_TRUE(IsRegularFile("platform_file_a.bin"));
    EXPECT_FALSE(IsRegularFile("platform_file_folder"));
    EXPECT_FALSE(IsRegularFile("platform_file_missing"));
#ifdef _WIN32
    EXPECT_FALSE(IsRegularFile("NUL"));
#else
    EXPECT_FALSE(IsRegularFile("/dev/null"));
#endif

    EXPECT_TRUE(file.CreateNew("platform_file_b.bin"));
    EXPECT_EQ(file.Write("x", 1), 1);
    file.Close();
    EXPECT_EQ(FileSize("platform_file_a.bin"), 4);
    EXPECT_EQ(FileSize("platform_file_b.bin"), 1);
    EXPECT_EQ(FileSize("platform_file_folder"), -1);
    EXPECT_EQ(FileSize("platform_file_missing"), -1);
}

// A failure is told in the system's own words, which name the reason.
TEST_F(FileTest, FailuresCarryTheSystemsReason) {
    File file;
    ASSERT_FALSE(file.CreateAlways("platform_file_missing\\x.bin"));
    char text[256] = {};
    FileErrorText(LastFileError(), text, sizeof text);
    const std::string words = text;
    EXPECT_FALSE(words.empty());
    EXPECT_EQ(words.find("error "), std::string::npos) << words;
    EXPECT_NE(words.back(), '\n');
    EXPECT_NE(words.back(), '.');
}

}  // namespace
}  // namespace fluxmere::platform
