// Timing a command for the benchmarks: it runs with standard input and output on /dev/null, and its
// wall time, its own processor time and peak resident size come back (through wait4).
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

namespace bench {

struct Measure {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds
    long peakKb = 0;  // peak resident size
    bool ok = false;  // ran and exited 0
};

inline double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// argv[0] is looked up on PATH.
inline Measure RunTimed(const std::vector<std::string>& argv) {
    Measure m;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const double start = Now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return m;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return m;
    m.wall = Now() - start;
    m.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    m.peakKb = usage.ru_maxrss;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

// The rounds every benchmark takes: each side once a round, in turn, for rounds rounds, so a change in
// the machine's load hits the sides alike. results[s][r] is side s in round r; empty when one failed
// (ok false).
inline std::vector<std::vector<Measure>> AlternateSides(const std::vector<std::function<Measure()>>& sides,
                                                        int rounds) {
    std::vector<std::vector<Measure>> results(sides.size());
    for (int r = 0; r < rounds; ++r)
        for (size_t s = 0; s < sides.size(); ++s) {
            const Measure m = sides[s]();
            if (!m.ok) return {};
            results[s].push_back(m);
        }
    return results;
}

// The same for commands, each spawned and timed with RunTimed.
inline std::vector<std::vector<Measure>> Alternate(const std::vector<std::vector<std::string>>& commands, int rounds) {
    std::vector<std::function<Measure()>> sides;
    for (const std::vector<std::string>& command : commands) sides.push_back([&command] { return RunTimed(command); });
    return AlternateSides(sides, rounds);
}

// Work done in this process (and any children it waits for), timed: wall time and processor time;
// ok is what work returned.
inline Measure TimeCall(const std::function<bool()>& work) {
    const auto processorTime = [] {
        double seconds = 0;
        for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
            rusage u{};
            getrusage(who, &u);
            seconds += double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                       1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
        }
        return seconds;
    };
    Measure m;
    const double cpu = processorTime(), start = Now();
    m.ok = work();
    m.wall = Now() - start;
    m.cpu = processorTime() - cpu;
    return m;
}

// Median and range of a set of figures (one per round).
struct Spread {
    double median = 0, low = 0, high = 0;
};
inline Spread SpreadOf(std::vector<double> v) {
    Spread s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    s.low = v.front();
    s.high = v.back();
    return s;
}
// "1.23 (1.10-1.31)": median and range.
inline std::string Text(const Spread& s) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f (%.2f-%.2f)", s.median, s.low, s.high);
    return buffer;
}
// Per-round ratio of a to b, by wall time or by processor time.
inline Spread Ratio(const std::vector<Measure>& a, const std::vector<Measure>& b, bool cpu) {
    std::vector<double> v;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        v.push_back(cpu ? a[i].cpu / b[i].cpu : a[i].wall / b[i].wall);
    return SpreadOf(v);
}

// The 1-minute load average, for the record of what else the machine was doing.
inline double LoadAverage() {
    double load = -1;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1;
        std::fclose(f);
    }
    return load;
}

// One row of the README's benchmark table; scripts/bench.sh gathers them into the table.
inline void ReadmeRow(const std::string& benchmark, const std::string& figure) {
    std::printf("README| `%s` | %s |\n", benchmark.c_str(), figure.c_str());
}

}  // namespace bench
