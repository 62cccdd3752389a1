// The tool's output files: the target changes only when a whole file is committed, and every
// refusal leaves the folder as it was.
#include "tools/output_file.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "tests/support/file_bytes.h"

namespace fluxmere::cli {
namespace {

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = ::testing::TempDir() + "output_file_test";
        ASSERT_EQ(0,
                  std::system(("rm -rf '" + folder_ + "' && mkdir -p '" + folder_ + "'").c_str()));
    }
    void TearDown() override { std::system(("rm -rf '" + folder_ + "'").c_str()); }

    std::string Path(const std::string& name) const { return folder_ + "/" + name; }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        if (!in)
            return "(none)";
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::set<std::string> Names() const { return testing::FolderNames(folder_); }

    std::string folder_;
};

TEST_F(OutputFileTest, TheTargetChangesOnlyWhenCommitted) {
    Write("movie.mov", "old movie");
    OutputFile output;
    ASSERT_TRUE(output.Create(Path("movie.mov"), OutputRules{"", true})) << output.error();
    ASSERT_EQ(output.file().Write("new movie", 9), 9);
    EXPECT_EQ(Read("movie.mov"), "old movie") << "still the old file while writing";
    EXPECT_EQ(Names(), (std::set<std::string>{"movie.mov", "movie.mov.partial"}));
    ASSERT_TRUE(output.Commit()) << output.error();
    EXPECT_EQ(Read("movie.mov"), "new movie");
    EXPECT_EQ(Names(), std::set<std::string>{"movie.mov"});

    // A run that fails before its commit leaves the old file and nothing else.
    {
        OutputFile failed;
        ASSERT_TRUE(failed.Create(Path("movie.mov"), OutputRules{"", true}));
        ASSERT_EQ(failed.file().Write("half", 4), 4);
    }
    EXPECT_EQ(Read("movie.mov"), "new movie");
    EXPECT_EQ(Names(), std::set<std::string>{"movie.mov"});
}

TEST_F(OutputFileTest, RefusalsNameTheProblemAndLeaveNothing) {
    Write("clip.kelo", "clip");
    Write("taken.mov", "keep me");
    ASSERT_EQ(0, link(Path("clip.kelo").c_str(), Path("second-name.kelo").c_str()));
    ASSERT_EQ(0, symlink("/dev/null", Path("device").c_str()));
    struct Case {
        std::string target;
        OutputRules rules;
        OutputProblem problem;
        const char* phrase;
    };
    const Case cases[] = {
        {Path("clip.kelo"), {Path("clip.kelo"), true}, OutputProblem::SameAsInput, "itself"},
        {folder_ + "/./clip.kelo", {Path("clip.kelo"), true}, OutputProblem::SameAsInput, "itself"},
        {Path("second-name.kelo"), {Path("clip.kelo"), true}, OutputProblem::SameAsInput, "itself"},
        {Path("taken.mov"), {"", false}, OutputProblem::Exists, "already exists"},
        {folder_, {"", true}, OutputProblem::NotAFile, "is a folder"},
        {Path("device"), {"", true}, OutputProblem::NotAFile, "not a plain file"},
        {Path("missing/x.mov"), {"", true}, OutputProblem::System, "No such file or directory"},
    };
    const std::set<std::string> before = Names();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        OutputFile output;
        EXPECT_FALSE(output.Create(c.target, c.rules));
        EXPECT_EQ(output.problem(), c.problem);
        EXPECT_NE(output.error().find(c.phrase), std::string::npos) << output.error();
        EXPECT_EQ(Names(), before);
    }
    EXPECT_EQ(Read("clip.kelo"), "clip");
    EXPECT_EQ(Read("taken.mov"), "keep me");
}

TEST_F(OutputFileTest, APartialFileGetsANameThatSaysSo) {
    std::string kept, error;
    Write("clip.kelo", "first");
    ASSERT_TRUE(KeepAsPartial(Path("clip.kelo"), &kept, &error)) << error;
    EXPECT_EQ(kept, Path("clip.kelo.partial"));
    Write("clip.kelo", "second");
    ASSERT_TRUE(KeepAsPartial(Path("clip.kelo"), &kept, &error)) << error;
    EXPECT_EQ(kept, Path("clip.kelo.2.partial"));
    EXPECT_EQ(Read("clip.kelo.partial"), "first");
    EXPECT_EQ(Read("clip.kelo.2.partial"), "second");
    EXPECT_EQ(Names(), (std::set<std::string>{"clip.kelo.partial", "clip.kelo.2.partial"}));
    EXPECT_FALSE(KeepAsPartial(Path("gone.kelo"), &kept, &error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST_F(OutputFileTest, AFolderIsProvedToTakeFilesBeforeWork) {
    std::string error;
    EXPECT_TRUE(CheckFolderTakesFiles(folder_, &error)) << error;
    EXPECT_TRUE(Names().empty()) << "the proof leaves nothing behind";
    Write("file", "x");
    EXPECT_FALSE(CheckFolderTakesFiles(Path("file"), &error));
    EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
    EXPECT_FALSE(CheckFolderTakesFiles(Path("missing"), &error));
    EXPECT_NE(error.find(Path("missing") + ": No such file or directory"), std::string::npos)
        << error;
}

}  // namespace
}  // namespace fluxmere::cli
