// Shell commands for tests: reference tools (ffmpeg, ffprobe, cjpeg, Python) and the command-line
// program run as processes, with their exit status and output.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace testsupport {

// Quotes a string as one shell word.
std::string ShellQuote(const std::string& s);

// Runs a shell command; its exit status (-1 when it could not run or was killed).
int RunCommand(const std::string& command);
// The same with its standard output and error discarded; true on exit status 0.
bool RunQuiet(const std::string& command);

struct CommandRun {
    int status = -1;  // as RunCommand gives it
    std::string out;
    std::string err;  // only filled by RunCaptureAll
};
// Runs a shell command; its exit status and standard output (standard error goes to the test log).
CommandRun RunCapture(const std::string& command);
// Runs a shell command with no input; its exit status, standard output and standard error.
CommandRun RunCaptureAll(const std::string& command);

// Runs body in a forked child (so limits and identity changes stay there) whose files may grow to
// fileSizeLimit bytes only, with SIGXFSZ ignored (no limit when negative). result is copied in and back
// through shared memory, so it must be trivially copyable. The child's exit status (0 when body
// returns; -1 when it did not exit normally).
int RunInChildRaw(void* result, size_t size, long fileSizeLimit, const std::function<void(void*)>& body);
template <class Result, class Body>
int RunInChild(Result& result, long fileSizeLimit, Body body) {
    return RunInChildRaw(&result, sizeof result, fileSizeLimit,
                         [&](void* shared) { body(*static_cast<Result*>(shared)); });
}

}  // namespace testsupport
