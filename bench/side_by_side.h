#pragma once
// Our code and a peer's called in turn, each call timed on its own in CPU time of the thread: on
// a shared machine both meet the same disturbances, and the medians compare them fairly.

#include <time.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fluxmere::bench {

inline double ThreadMicroseconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Calls ours and theirs in turn for about BENCH_SIDE_BY_SIDE_SECONDS (default 1) of CPU time,
// at least 21 times each; returns the median time of each in microseconds.
inline std::pair<double, double> SideBySide(const std::function<void()>& ours,
                                            const std::function<void()>& theirs) {
    const char* setting = std::getenv("BENCH_SIDE_BY_SIDE_SECONDS");
    const double budget = setting != nullptr ? std::atof(setting) : 1.0;
    std::vector<double> a, b;
    for (int warm = 0; warm < 3; ++warm) {
        ours();
        theirs();
    }
    const double start = ThreadMicroseconds();
    while (a.size() < 21 || (ThreadMicroseconds() - start < budget * 1e6 && a.size() < 5000)) {
        const double t0 = ThreadMicroseconds();
        ours();
        const double t1 = ThreadMicroseconds();
        theirs();
        const double t2 = ThreadMicroseconds();
        a.push_back(t1 - t0);
        b.push_back(t2 - t1);
    }
    return {Median(a), Median(b)};
}

// How far two 8-bit images of rows x rowBytes apart lie, sample by sample.
struct Difference {
    int largest = 0;        // the largest difference of one sample
    double mean = 0.0;      // the mean difference
    double overFour = 0.0;  // the share of samples more than 4 apart
};

inline Difference Compare(const uint8_t* ours, ptrdiff_t ourStride, const uint8_t* theirs,
                          ptrdiff_t theirStride, int rowBytes, int rows) {
    Difference d;
    int64_t total = 0, over = 0;
    for (int r = 0; r < rows; ++r) {
        for (int i = 0; i < rowBytes; ++i) {
            const int v = std::abs(ours[r * ourStride + i] - theirs[r * theirStride + i]);
            d.largest = std::max(d.largest, v);
            total += v;
            over += v > 4;
        }
    }
    const double samples = static_cast<double>(rowBytes) * rows;
    d.mean = samples > 0 ? static_cast<double>(total) / samples : 0.0;
    d.overFour = samples > 0 ? static_cast<double>(over) / samples : 0.0;
    return d;
}

inline std::string Describe(const Difference& d) {
    char text[120];
    std::snprintf(text, sizeof text, "largest difference %d, mean %.2f, %.2f%% more than 4 apart",
                  d.largest, d.mean, 100.0 * d.overFour);
    return text;
}

// What a line says about the outputs: empty when they agree within the tolerance (and then
// *agreement describes how closely), else how far they lie apart.
inline std::string Disagreement(const Difference& d, int largestAllowed, double meanAllowed,
                                double overFourAllowed, std::string* agreement) {
    const bool agree =
        d.largest <= largestAllowed && d.mean <= meanAllowed && d.overFour <= overFourAllowed;
    *agreement = Describe(d);
    return agree ? std::string() : Describe(d);
}

// One line of the summary: "<label>: fluxmere <us> µs, <peer> <us> µs, ratio <peer / ours>",
// followed by how the outputs compare. check runs after the timing, on the outputs of the last
// calls, and returns why they disagree, or an empty text when they agree: a line whose outputs
// disagree prints its times but no ratio.
inline void PrintSideBySide(const std::string& label, const std::string& peer,
                            const std::function<void()>& ours, const std::function<void()>& theirs,
                            const std::function<std::string(std::string*)>& check) {
    const auto [ourTime, theirTime] = SideBySide(ours, theirs);
    std::string agreement;
    const std::string disagreement = check(&agreement);
    if (disagreement.empty()) {
        std::printf(
            "%s: fluxmere %.0f \xC2\xB5s, %s %.0f \xC2\xB5s, ratio %.2f (outputs agree: %s)\n",
            label.c_str(), ourTime, peer.c_str(), theirTime, theirTime / ourTime,
            agreement.c_str());
    } else {
        std::printf(
            "%s: fluxmere %.0f \xC2\xB5s, %s %.0f \xC2\xB5s, NO RATIO: outputs differ (%s)\n",
            label.c_str(), ourTime, peer.c_str(), theirTime, disagreement.c_str());
    }
    std::fflush(stdout);
}

}  // namespace fluxmere::bench
