#include "tools/cli_args.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fluxmere::cli {

bool Args::Parse(int argc, char** argv, int first, const std::vector<FlagSpec>& specs) {
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            positional_.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::string inlineValue;
        bool hasInline = false;
        const size_t eq = name.find('=');
        if (eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
            hasInline = true;
        }
        const FlagSpec* flag = nullptr;
        for (const FlagSpec& s : specs) {
            if (name == s.name)
                flag = &s;
        }
        if (!flag) {
            error_ = "unknown flag --" + name;
            return false;
        }
        if (!flag->takesValue) {
            if (hasInline) {
                error_ = "--" + name + " takes no value";
                return false;
            }
            values_[name] = "";
            continue;
        }
        if (hasInline) {
            values_[name] = inlineValue;
        } else if (i + 1 < argc) {
            values_[name] = argv[++i];
        } else {
            error_ = "--" + name + " needs a value";
            return false;
        }
        repeated_[name].push_back(values_[name]);
    }
    return true;
}

std::string Args::Get(const std::string& name, const std::string& fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

std::vector<std::string> Args::GetAll(const std::string& name) const {
    auto it = repeated_.find(name);
    return it == repeated_.end() ? std::vector<std::string>() : it->second;
}

namespace {

// A whole decimal number and nothing else.
bool ParseWhole(const std::string& text, long long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0;
}

}  // namespace

namespace {

// A bound as a person writes it: 0.1, 86400.
std::string BoundText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

bool Args::GetInt(const std::string& name, long long minimum, long long maximum, long long* value) {
    long long parsed = 0;
    if (!ParseWhole(Get(name), &parsed) || parsed < minimum || parsed > maximum) {
        error_ = "--" + name + " needs a whole number from " + std::to_string(minimum) + " to " +
                 std::to_string(maximum) + ", not '" + Get(name) + "'";
        return false;
    }
    *value = parsed;
    return true;
}

bool Args::GetDouble(const std::string& name, double minimum, double maximum, double* value) {
    const std::string text = Get(name);
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !(parsed >= minimum && parsed <= maximum)) {
        error_ = "--" + name + " needs a number from " + BoundText(minimum) + " to " +
                 BoundText(maximum) + ", not '" + text + "'";
        return false;
    }
    *value = parsed;
    return true;
}

bool Args::GetSize(const std::string& name, int maximum, int* width, int* height) {
    const std::string text = Get(name);
    const size_t x = text.find('x');
    long long w = 0, h = 0;
    const bool ok = x != std::string::npos && ParseWhole(text.substr(0, x), &w) &&
                    ParseWhole(text.substr(x + 1), &h);
    if (!ok || w < 1 || h < 1 || w > maximum || h > maximum) {
        error_ = "--" + name + " needs WIDTHxHEIGHT, each from 1 to " + std::to_string(maximum) +
                 ", not '" + text + "'";
        return false;
    }
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

void PrintHelp(const char* usage, const char* summary, const std::vector<FlagSpec>& specs) {
    std::printf("usage: %s\n\n%s\n", usage, summary);
    if (!specs.empty())
        std::printf("\n");
    for (const FlagSpec& s : specs) {
        std::printf("  --%-14s %s\n", s.name, s.help);
    }
}

int UsageError(const char* command, const std::string& message) {
    std::fprintf(stderr, "fluxmere %s: %s (see fluxmere %s --help)\n", command, message.c_str(),
                 command);
    return 2;
}

bool StartCommand(const CommandSpec& command, int argc, char** argv, Args* args, int* status) {
    if (!args->Parse(argc, argv, 1, command.flags)) {
        *status = UsageError(command.name, args->error());
        return false;
    }
    if (args->Has("help")) {
        PrintHelp(command.usage, command.summary, command.flags);
        *status = 0;
        return false;
    }
    return true;
}

}  // namespace fluxmere::cli
