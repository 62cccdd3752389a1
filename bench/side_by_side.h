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

// One line of the summary, "<label>: fluxmere <ours> <unit>, <peer> <theirs> <unit>, ratio
// <theirs / ours>" followed by how the outputs compare; when they disagree (disagreement not
// empty) the line gives no ratio. ./run bench collects every line of this form.
inline void PrintLine(const std::string& label, const std::string& peer, double ours, double theirs,
                      const char* unit, const std::string& disagreement,
                      const std::string& agreement) {
    if (disagreement.empty()) {
        std::printf("%s: fluxmere %.0f %s, %s %.0f %s, ratio %.2f (outputs agree: %s)\n",
                    label.c_str(), ours, unit, peer.c_str(), theirs, unit, theirs / ours,
                    agreement.c_str());
    } else {
        std::printf("%s: fluxmere %.0f %s, %s %.0f %s, NO RATIO: outputs differ (%s)\n",
                    label.c_str(), ours, unit, peer.c_str(), theirs, unit, disagreement.c_str());
    }
    std::fflush(stdout);
}

// Times ours and the peer's calls in turn: check runs after the timing, on the outputs of the
// last calls, and returns why they disagree, or an empty text when they agree (and then says how
// closely in *agreement).
inline void PrintSideBySide(const std::string& label, const std::string& peer,
                            const std::function<void()>& ours, const std::function<void()>& theirs,
                            const std::function<std::string(std::string*)>& check) {
    const auto [ourTime, theirTime] = SideBySide(ours, theirs);
    std::string agreement;
    const std::string disagreement = check(&agreement);
    PrintLine(label, peer, ourTime, theirTime, "\xC2\xB5s", disagreement, agreement);
}

// For work that waits on the system (sockets, files, other processes): rounds runs of ours and
// the peer's in turn, each timed in wall-clock milliseconds by the callee (a run returns its time,
// or a negative value when it failed); the medians, or a negative value when any run failed.
inline std::pair<double, double> WallSideBySide(const std::function<double()>& ours,
                                                const std::function<double()>& theirs, int rounds) {
    std::vector<double> a, b;
    bool failed = false;
    for (int round = 0; round < rounds; ++round) {
        const double x = ours();
        const double y = theirs();
        failed = failed || x < 0 || y < 0;
        a.push_back(x);
        b.push_back(y);
    }
    return failed ? std::make_pair(-1.0, -1.0) : std::make_pair(Median(a), Median(b));
}

}  // namespace fluxmere::bench
