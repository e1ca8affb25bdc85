// Runs a program as a child with a chosen environment variable, an optional file size limit and,
// when the test runs as root, optionally as the unprivileged user 65534 (so a read-only folder is
// read-only for it). Standard output and error are captured.
#pragma once

#include <string>
#include <vector>

namespace robustness {

struct ChildOptions {
    std::vector<std::string> setEnv;  // "NAME=value" entries added to (or replacing in) the environment
    long fileSizeLimit = -1;          // RLIMIT_FSIZE in bytes, SIGXFSZ ignored; -1: none
    bool unprivileged = false;        // drop to uid/gid 65534 when running as root
};

struct ChildResult {
    int status = -1;  // exit status; 128 + signal when killed by one; -1 when it could not run
    std::string out;
    std::string err;
};

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options);

}  // namespace robustness
