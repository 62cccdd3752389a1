#pragma once
// A small flag reader for the fluxmere tool and the Windows tools: positional arguments and
// "--name value" or "--name" flags, each flag known in advance. Errors are one line of text, for
// exit status 2, that quote what the user wrote.

#include <map>
#include <string>
#include <vector>

namespace fluxmere::cli {

struct FlagSpec {
    const char* name;  // without the leading "--"
    bool takesValue;
    const char* help;  // "VALUE  what it does"
};

class Args {
public:
    // Parses argv[first..argc). False with error() set on an unknown flag or a missing value.
    bool Parse(int argc, char** argv, int first, const std::vector<FlagSpec>& specs);

    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    // A flag given more than once: Get gives its last value, GetAll every value in order.
    std::string Get(const std::string& name, const std::string& fallback = "") const;
    std::vector<std::string> GetAll(const std::string& name) const;
    const std::vector<std::string>& positional() const { return positional_; }
    const std::string& error() const { return error_; }
    // Records a problem found by the caller; returns false.
    bool Fail(const std::string& message) {
        error_ = message;
        return false;
    }

    // Typed readers; false (and error() set, quoting the text) when the text is not of that form.
    bool GetInt(const std::string& name, long long minimum, long long maximum, long long* value);
    bool GetDouble(const std::string& name, double minimum, double maximum, double* value);
    // "WxH" with both sides in 1..maximum.
    bool GetSize(const std::string& name, int maximum, int* width, int* height);

private:
    std::map<std::string, std::string> values_;
    std::map<std::string, std::vector<std::string>> repeated_;
    std::vector<std::string> positional_;
    std::string error_;
};

// Prints "usage" and one line per flag.
void PrintHelp(const char* usage, const char* summary, const std::vector<FlagSpec>& specs);

// "fluxmere SUB: message" on standard error, then status 2.
int UsageError(const char* command, const std::string& message);

// What a subcommand says of itself in its help and its errors.
struct CommandSpec {
    const char* name;  // "view", as typed after "fluxmere"
    const char* usage;
    const char* summary;
    const std::vector<FlagSpec>& flags;
};

// The prologue every subcommand shares: parses argv[1..argc) by the command's flags and answers
// --help. True when the command goes on; otherwise false with *status the exit status (0 after
// the help, 2 after a usage error, which is printed).
bool StartCommand(const CommandSpec& command, int argc, char** argv, Args* args, int* status);

}  // namespace fluxmere::cli
