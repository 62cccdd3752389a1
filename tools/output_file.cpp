#include "tools/output_file.h"

namespace fluxmere::cli {

namespace {

constexpr int kMaxNameTries = 100;

// PATH.partial, PATH.2.partial, PATH.3.partial, ...
std::string PartialName(const std::string& path, int attempt) {
    return attempt == 1 ? path + ".partial" : path + "." + std::to_string(attempt) + ".partial";
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

std::string LastFileErrorText() {
    char text[256];
    platform::FileErrorText(platform::LastFileError(), text, sizeof text);
    return text;
}

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Fail(OutputProblem problem, const std::string& message) {
    problem_ = problem;
    error_ = message;
    return false;
}

bool OutputFile::Create(const std::string& target, const OutputRules& rules) {
    Discard();
    target_ = target;
    replace_ = rules.replace;
    problem_ = OutputProblem::None;
    error_.clear();
    if (!rules.input.empty() && platform::SameFile(target.c_str(), rules.input.c_str()))
        return Fail(OutputProblem::SameAsInput, target + " is " + rules.input + " itself");
    if (platform::IsFolder(target.c_str()))
        return Fail(OutputProblem::NotAFile, target + " is a folder");
    if (platform::PathExists(target.c_str())) {
        // A device or pipe would be replaced by a plain file: never what the user meant.
        if (!platform::IsRegularFile(target.c_str()))
            return Fail(OutputProblem::NotAFile, target + " is not a plain file");
        if (!rules.replace)
            return Fail(OutputProblem::Exists, target + " already exists");
    }
    for (int attempt = 1; attempt <= kMaxNameTries; ++attempt) {
        const std::string name = PartialName(target, attempt);
        if (file_.CreateNew(name.c_str())) {
            temporary_ = name;
            return true;
        }
        const std::string reason = LastFileErrorText();
        if (!platform::PathExists(name.c_str()))
            return Fail(OutputProblem::System,
                        "cannot create a file in " + FolderOf(target) + ": " + reason);
    }
    return Fail(OutputProblem::System,
                "cannot create a file in " + FolderOf(target) + ": every temporary name is taken");
}

bool OutputFile::Commit() {
    if (temporary_.empty())
        return Fail(OutputProblem::System, "nothing was written to " + target_);
    file_.Close();
    if (platform::RenameFile(temporary_.c_str(), target_.c_str(), replace_)) {
        temporary_.clear();
        return true;
    }
    const std::string reason = LastFileErrorText();
    Discard();
    if (!replace_ && platform::PathExists(target_.c_str()))
        return Fail(OutputProblem::Exists, target_ + " appeared meanwhile; it was left as it is");
    return Fail(OutputProblem::System, "cannot write " + target_ + ": " + reason);
}

void OutputFile::Discard() {
    file_.Close();
    if (!temporary_.empty())
        platform::RemoveFile(temporary_.c_str());
    temporary_.clear();
}

std::string OutputFile::WriteError() const {
    return "cannot write " + target_ + ": " + LastFileErrorText();
}

bool CheckFolderTakesFiles(const std::string& folder, std::string* error) {
    if (!platform::IsFolder(folder.c_str())) {
        const std::string reason = LastFileErrorText();
        *error = "cannot write into " + folder + ": " +
                 (platform::PathExists(folder.c_str()) ? "it is not a folder" : reason);
        return false;
    }
    OutputFile probe;
    if (!probe.Create(folder + "/.fluxmere-write-test", OutputRules{"", true})) {
        *error = probe.error();
        return false;
    }
    return true;  // the probe's file goes with it
}

bool KeepAsPartial(const std::string& path, std::string* kept, std::string* error) {
    for (int attempt = 1; attempt <= kMaxNameTries; ++attempt) {
        const std::string name = PartialName(path, attempt);
        if (platform::RenameFile(path.c_str(), name.c_str(), false)) {
            *kept = name;
            return true;
        }
        if (!platform::PathExists(name.c_str())) {
            *error = "cannot rename " + path + ": " + LastFileErrorText();
            return false;
        }
    }
    *error = "cannot rename " + path + ": every partial name is taken";
    return false;
}

}  // namespace fluxmere::cli
