#pragma once
// Our code and a peer's called in turn, each call timed on its own in CPU time of the thread: on
// a shared machine both meet the same disturbances, and the medians compare them fairly.

#include <time.h>

#include <algorithm>
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

// One line of the summary: "<label>: fluxmere <us> µs, <peer> <us> µs, ratio <peer / ours>".
inline void PrintSideBySide(const std::string& label, const std::string& peer,
                            const std::function<void()>& ours,
                            const std::function<void()>& theirs) {
    const auto [ourTime, theirTime] = SideBySide(ours, theirs);
    std::printf("%s: fluxmere %.0f \xC2\xB5s, %s %.0f \xC2\xB5s, ratio %.2f\n", label.c_str(),
                ourTime, peer.c_str(), theirTime, theirTime / ourTime);
    std::fflush(stdout);
}

}  // namespace fluxmere::bench
