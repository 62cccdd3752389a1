// fluxmere convert: a recorded .kelo clip into a QuickTime movie.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/output_file.h"
#include "transcode/clip_converter.h"
#include "transcode/movie_sink.h"

namespace fluxmere::cli {

namespace {

const std::vector<FlagSpec> kFlags = {
    {"force", false, "        replace OUT.mov when it exists"},
    {"quiet", false, "        no progress bar"},
    {"help", false, "        show this help"},
};

constexpr size_t kReadSize = 512 * 1024;

// The movie's bytes into the output's temporary file; remembers the system's reason of the first
// write that failed.
class OutputSink final : public transcode::IMovieSink {
public:
    explicit OutputSink(OutputFile* output) : output_(output), sink_(&output->file()) {}

    bool Append(const void* data, size_t size) override { return Note(sink_.Append(data, size)); }
    bool Overwrite(uint64_t offset, const void* data, size_t size) override {
        return Note(sink_.Overwrite(offset, data, size));
    }
    // False when buffered bytes could not be written.
    bool Flush() { return Note(sink_.Flush()); }
    const std::string& error() const { return error_; }

private:
    bool Note(bool written) {
        if (!written && error_.empty())
            error_ = output_->WriteError();
        return written;
    }

    OutputFile* output_;
    transcode::FileMovieSink sink_;
    std::string error_;
};

// A bar on standard error, redrawn when the percentage changes; only on a terminal.
class ProgressBar {
public:
    ProgressBar(uint64_t total, bool show) : total_(total), show_(show && isatty(2) != 0) {}

    void Update(uint64_t done) {
        if (!show_ || total_ == 0) {
            return;
        }
        const int percent = static_cast<int>(done * 100 / total_);
        if (percent == shown_) {
            return;
        }
        shown_ = percent;
        char bar[41];
        for (int i = 0; i < 40; ++i) {
            bar[i] = i < percent * 40 / 100 ? '#' : '.';
        }
        bar[40] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
        std::fflush(stderr);
    }
    void End() {
        if (show_ && shown_ >= 0) {
            std::fputc('\n', stderr);
        }
    }

private:
    uint64_t total_;
    bool show_;
    int shown_ = -1;
};

uint64_t FileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

}  // namespace

int RunConvert(int argc, char** argv) {
    const CommandSpec spec = {
        "convert", "fluxmere convert CLIP.kelo OUT.mov [--force] [--quiet]",
        "Writes the clip's pictures (Motion-JPEG) and sound (16-bit PCM, 48000 Hz,\n"
        "stereo) into a QuickTime movie. Exit status 0 only when the whole clip is in\n"
        "the movie; a clip that was cut still gives a movie of its whole pictures,\n"
        "with status 1. The movie takes its name only once it is written; an existing\n"
        "file is replaced only with --force, and never the clip itself.",
        kFlags};
    Args args;
    int exitStatus = 0;
    if (!StartCommand(spec, argc, argv, &args, &exitStatus))
        return exitStatus;
    if (args.positional().size() != 2)
        return UsageError("convert", "needs a CLIP.kelo and an OUT.mov");
    const std::string& clipPath = args.positional()[0];
    const std::string& moviePath = args.positional()[1];

    platform::File clip;
    if (!clip.OpenForRead(clipPath.c_str())) {
        std::fprintf(stderr, "fluxmere convert: cannot read %s: %s\n", clipPath.c_str(),
                     LastFileErrorText().c_str());
        return 1;
    }
    OutputFile output;
    if (!output.Create(moviePath, OutputRules{clipPath, args.Has("force")})) {
        const OutputProblem problem = output.problem();
        std::fprintf(
            stderr, "fluxmere convert: %s%s%s\n",
            problem == OutputProblem::SameAsInput ? "the movie would replace the clip: " : "",
            output.error().c_str(),
            problem == OutputProblem::Exists ? " (--force replaces it)" : "");
        return 1;
    }
    OutputSink sink(&output);
    transcode::ClipConverter converter(&sink);
    ProgressBar progress(FileSize(clipPath), !args.Has("quiet"));
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadSize]);
    std::string readError;
    for (;;) {
        const int64_t got = clip.Read(buffer.get(), kReadSize);
        if (got < 0)
            readError = "cannot read " + clipPath + ": " + LastFileErrorText();
        if (got <= 0)
            break;
        if (!converter.Feed(buffer.get(), static_cast<size_t>(got)))
            break;
        progress.Update(converter.clipBytes());
    }
    const transcode::ConvertResult result = converter.Finish();
    progress.End();
    const bool flushed = sink.Flush();

    using transcode::ConvertResult;
    if (result == ConvertResult::NotAClip) {
        std::fprintf(stderr, "fluxmere convert: %s is not a kelo clip\n", clipPath.c_str());
        return 1;
    }
    if (result == ConvertResult::WriteFailed || !readError.empty() || !flushed) {
        const std::string& why = !readError.empty() ? readError : sink.error();
        std::fprintf(stderr, "fluxmere convert: %s\n",
                     why.empty() ? ConvertResultText(ConvertResult::WriteFailed) : why.c_str());
        return 1;  // the output's temporary file goes; an existing movie stays as it was
    }
    if (!output.Commit()) {
        std::fprintf(stderr, "fluxmere convert: %s\n", output.error().c_str());
        return 1;
    }
    std::printf("%s: %u pictures, %.2f s\n", moviePath.c_str(), converter.pictures(),
                static_cast<double>(converter.durationMs()) / 1000.0);
    if (result != ConvertResult::Complete) {
        std::fprintf(stderr, "fluxmere convert: %s (%llu of %llu bytes used)\n",
                     ConvertResultText(result),
                     static_cast<unsigned long long>(converter.clipBytesUsed()),
                     static_cast<unsigned long long>(converter.clipBytes()));
        return 1;
    }
    return 0;
}

}  // namespace fluxmere::cli
