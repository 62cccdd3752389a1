#include "platform/file.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace fluxmere::platform
