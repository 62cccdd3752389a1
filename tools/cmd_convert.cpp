// fluxmere convert: a recorded .kelo clip into a QuickTime movie or an MXF file.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/output_file.h"
#include "transcode/clip_conversion.h"
#include "transcode/movie_sink.h"
#include "transcode/mxf_writer.h"

namespace fluxmere::cli {

namespace {

const std::vector<FlagSpec> kFlags = {
    {"codec", true, "C       mjpeg, dv, dvcpro, imx30, imx40 or imx50"},
    {"force", false, "        replace OUT when it exists"},
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

// The output of a path and --codec: ".mxf" files are MXF, DVCPRO25 by default; anything else is
// a QuickTime movie, by default of the clip's own Motion-JPEG pictures.
bool ChooseOutput(const std::string& path, const Args& args, transcode::OutputChoice* choice,
                  std::string* error) {
    using transcode::PictureCodec;
    const bool mxf = path.size() >= 4 && (path.compare(path.size() - 4, 4, ".mxf") == 0 ||
                                          path.compare(path.size() - 4, 4, ".MXF") == 0);
    choice->container =
        mxf ? transcode::OutputContainer::Mxf : transcode::OutputContainer::QuickTime;
    choice->codec = mxf ? PictureCodec::Dvcpro25 : PictureCodec::MotionJpeg;
    if (args.Has("codec")) {
        static const struct {
            const char* name;
            PictureCodec codec;
        } kCodecs[] = {{"mjpeg", PictureCodec::MotionJpeg}, {"dv", PictureCodec::Dvcpro25},
                       {"dvcpro", PictureCodec::Dvcpro25},  {"imx30", PictureCodec::Imx30},
                       {"imx40", PictureCodec::Imx40},      {"imx50", PictureCodec::Imx50}};
        const std::string name = args.Get("codec");
        bool known = false;
        for (const auto& c : kCodecs) {
            if (name == c.name) {
                choice->codec = c.codec;
                known = true;
            }
        }
        if (!known) {
            *error = "unknown codec " + name + " (mjpeg, dv, dvcpro, imx30, imx40, imx50)";
            return false;
        }
    }
    if (!transcode::IsWritable(*choice)) {
        *error = "MXF cannot carry Motion-JPEG pictures: choose --codec dv, dvcpro or imx30..50";
        return false;
    }
    return true;
}

// Makes an MXF file's identifiers unique: time and process.
uint64_t FileIdentity() {
    return static_cast<uint64_t>(std::time(nullptr)) << 24 ^ static_cast<uint64_t>(getpid());
}

uint64_t FileTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    if (gmtime_r(&now, &utc) == nullptr)
        return 0;
    return transcode::MxfTimestamp(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                                   utc.tm_min, utc.tm_sec);
}

uint64_t FileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

}  // namespace

int RunConvert(int argc, char** argv) {
    const CommandSpec spec = {
        "convert", "fluxmere convert CLIP.kelo OUT.mov|OUT.mxf [--codec C] [--force] [--quiet]",
        "Writes the clip into a QuickTime movie or (.mxf) an MXF file. mjpeg, the\n"
        "default for .mov, keeps the clip's own pictures and its stereo 16-bit PCM;\n"
        "dv/dvcpro (DVCPRO25, the default for .mxf) and imx30/40/50 (D-10) encode\n"
        "the pictures at 720x576 with eight channels of 48000 Hz sound (the clip's\n"
        "two, six silent). Exit status 0 only when the whole clip is in the output;\n"
        "a clip that was cut still gives a file of its whole pictures, with status 1.\n"
        "The output takes its name only once it is written; an existing file is\n"
        "replaced only with --force, and never the clip itself.",
        kFlags};
    Args args;
    int exitStatus = 0;
    if (!StartCommand(spec, argc, argv, &args, &exitStatus))
        return exitStatus;
    if (args.positional().size() != 2)
        return UsageError("convert", "needs a CLIP.kelo and an OUT.mov or OUT.mxf");
    const std::string& clipPath = args.positional()[0];
    const std::string& moviePath = args.positional()[1];
    transcode::OutputChoice choice;
    std::string choiceError;
    if (!ChooseOutput(moviePath, args, &choice, &choiceError))
        return UsageError("convert", choiceError);

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
    const std::unique_ptr<transcode::IClipConversion> conversion = transcode::MakeClipConversion(
        choice, &sink, transcode::MakePictureEncoder, FileIdentity(), FileTimestamp());
    if (conversion == nullptr) {
        std::fprintf(stderr, "fluxmere convert: out of memory\n");
        return 1;
    }
    transcode::IClipConversion& converter = *conversion;
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
