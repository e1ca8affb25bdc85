// Timing a command for the benchmarks: it runs with standard input and output on /dev/null, and its
// wall time, its own processor time and peak resident size come back (through wait4).
#pragma once

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

}  // namespace bench
