#pragma once
// Files the tool writes for the user, written so that no user's file is ever lost or faked: the
// bytes go to a temporary file beside the target, which takes the target's name only once it is
// whole. Until then the target stays as it was, and a failed or interrupted run leaves at most a
// file whose name says it is partial.

#include <string>

#include "platform/file.h"

namespace fluxmere::cli {

// What may stand at the target's name.
struct OutputRules {
    std::string input;     // a file the target must not be, by identity ("" for none)
    bool replace = false;  // an existing file may be replaced
};

enum class OutputProblem {
    None,
    SameAsInput,  // the target is the input file itself (under any name)
    NotAFile,     // the target is a folder, a device or the like
    Exists,       // a file exists at the target and may not be replaced
    System,       // the system refused: error() holds its words
};

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // removes a temporary file that was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Checks target against the rules and creates its temporary file in the target's folder, so
    // that a folder which cannot take the file is known before any work. False with problem()
    // and error() (naming the file or folder and the reason).
    bool Create(const std::string& target, const OutputRules& rules);
    platform::File& file() { return file_; }
    // Where the bytes go until Commit; for writers that open the file by name themselves.
    const std::string& temporaryPath() const { return temporary_; }

    // Closes the temporary file and gives it the target's name; an existing file there is
    // replaced only under the rules. False with error(); the temporary file is then removed.
    bool Commit();
    // Closes and removes the temporary file; the target stays as it was.
    void Discard();

    // "cannot write TARGET: reason" from the system's last file error, for a write that failed.
    std::string WriteError() const;
    OutputProblem problem() const { return problem_; }
    const std::string& error() const { return error_; }

private:
    bool Fail(OutputProblem problem, const std::string& message);

    platform::File file_;
    std::string target_;
    std::string temporary_;
    bool replace_ = false;
    OutputProblem problem_ = OutputProblem::None;
    std::string error_;
};

// The system's words for the last file error.
std::string LastFileErrorText();

// Proves that a file can be created in folder (by creating and removing one). False with error
// naming the folder and the reason.
bool CheckFolderTakesFiles(const std::string& folder, std::string* error);

// Gives a file that holds only part of what it should a name that says so: PATH.partial, or
// PATH.2.partial and so on when that is taken. True with *kept; false with *error.
bool KeepAsPartial(const std::string& path, std::string* kept, std::string* error);

}  // namespace fluxmere::cli
