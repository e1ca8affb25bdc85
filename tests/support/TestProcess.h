// Shell commands for tests: reference tools (ffmpeg, ffprobe, cjpeg, Python) and the command-line
// program run as processes, with their exit status and output.
#pragma once

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

}  // namespace testsupport
