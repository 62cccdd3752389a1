// Converting a recorded clip into a movie, next to copying it: the fluxmere tool's convert
// (read the .kelo file, write the .mov with its pictures and sound) and cp of the same file, each
// a process of its own started the same way, in turn. The copy is the least any conversion must
// cost (the same bytes read and about as many written). Afterwards the copy must equal the clip
// and the conversion must report the whole clip in its movie; then one line:
//   convert 64 MiB clip: fluxmere <ms> ms, cp <ms> ms, ratio <cp / ours>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "device/clip.h"

namespace {

namespace fs = std::filesystem;
constexpr uint64_t kClipBytes = 64ull << 20;

// Runs a shell command; its wall time in milliseconds, or a negative value when it failed.
double Timed(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1.0;
}

bool SameFile(const fs::path& a, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(a.string().c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    std::vector<uint8_t> read(bytes.size() + 1);
    const size_t n = std::fread(read.data(), 1, read.size(), f);
    std::fclose(f);
    return n == bytes.size() && std::equal(bytes.begin(), bytes.end(), read.begin());
}

}  // namespace

int main() {
    using namespace fluxmere;
    const fs::path folder = fs::temp_directory_path() / "fluxmere-convert-bench";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path clip = folder / "clip.kelo", movie = folder / "clip.mov",
                   copy = folder / "copy.kelo";
    const std::vector<uint8_t> bytes = device::GenerateClip("bench", kClipBytes, 5);
    std::FILE* out = std::fopen(clip.string().c_str(), "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
        std::fprintf(stderr, "convert_bench: cannot write %s\n", clip.string().c_str());
        return 1;
    }
    std::fclose(out);

    const std::string convert = std::string("'") + FLUXMERE_BENCH_TOOL + "' convert '" +
                                clip.string() + "' '" + movie.string() + "' --quiet >/dev/null";
    const std::string cp = "cp '" + clip.string() + "' '" + copy.string() + "'";
    const auto [ours, theirs] =
        bench::WallSideBySide([&] { return Timed(convert); }, [&] { return Timed(cp); }, 5);
    std::string disagreement;
    if (ours < 0) {
        disagreement = "the conversion failed or left part of the clip out";
    } else if (!SameFile(copy, bytes)) {
        disagreement = "the copy differs from the clip";
    } else if (!fs::exists(movie) || fs::file_size(movie) < kClipBytes / 2) {
        disagreement = "the movie is missing or too small";
    }
    std::printf("Side by side, median wall time per run:\n");
    bench::PrintLine("convert 64 MiB clip", "cp", ours, theirs, "ms", disagreement,
                     "the whole clip is in the movie, the copy equals the clip");
    fs::remove_all(folder);
    return 0;
}
