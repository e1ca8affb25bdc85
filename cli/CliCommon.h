// Helpers shared by the tessaron-cli commands.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <csignal>

#include "selector/FrameScore.h"
#include "video/VideoFrameReader.h"

struct ExportOutcome;

namespace cli {

// The exit statuses of every command. kExitFailed: the video cannot be used (unreadable, damaged,
// without the frame or the room for the box asked for); running again gives the same. kExitUsage: the
// command line is wrong in itself. kExitTempFail (sysexits' EX_TEMPFAIL): the output could not be
// written (a full disk, a folder not writable) or a signal stopped the run; worth running again.
enum ExitStatus : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitTempFail = 75 };

// Prints "tessaron-cli <command>: <message>" as one line on standard error; returns status.
int Fail(const std::string& command, const std::string& message, int status = kExitFailed);
// Fail with kExitUsage.
int Usage(const std::string& command, const std::string& message);

// True when args asks for help (-h or --help anywhere).
bool WantsHelp(const std::vector<std::string>& args);

// "; try 'tessaron-cli <command> --help'", the end of messages about a badly formed command line.
std::string TryHelp(const std::string& command);

// Handlers of a command line's parts return an error message, empty when the part is fine.
using ArgHandler = std::function<std::string(const std::string&)>;

struct Option {
    const char* name;
    const char* alias = nullptr;  // a second spelling, or null
    const char* needs = nullptr;  // its value, for "<option> needs <needs>"; null: the option takes none
    ArgHandler take;              // called with the value (empty for an option without one)
};

// An option without a value that sets *on.
Option Flag(const char* name, bool* on);
// A positional handler that collects the arguments into *into.
ArgHandler Collect(std::vector<std::string>* into);

// What a command accepts and how it describes itself.
struct CommandLine {
    const char* command;
    const char* usage;  // printed for -h or --help
    std::vector<Option> options;
    ArgHandler positional;         // every argument that is no option, in order
    bool negativeNumbers = false;  // "-5" is an argument, not an unknown option
};

// The opening every command shares: prints the usage for -h or --help anywhere (status 0), else walks
// the arguments left to right and stops at the first bad one with its message (kExitUsage). Nothing
// when the command goes on.
std::optional<int> ParseCommandLine(const CommandLine& line, const std::vector<std::string>& args);

// A whole decimal integer that fits in 32 bits, nothing else.
bool ParseInt32(const std::string& text, int32_t* value);

// "X1,Y1,X2,Y2": four whole numbers, separated by commas, nothing else.
bool ParseBox(const std::string& text, int32_t corners[4]);

// --quality / -q with a value from 1 to 100 into *quality.
Option QualityOption(int32_t* quality);

// --score jpeg|sharpness|local-sharpness into *kind.
Option ScoreOption(ScoreKind* kind);

// With haveBox, the box with corners (X1,Y1), (X2,Y2) (right and bottom edges outside, either order)
// becomes the box settings scores; an error message when it is empty or not inside the frame.
std::string SetScoreBox(bool haveBox, const int32_t corners[4], const FrameInfo& info, ScoreSettings* settings);

// How a writing loop to path ended, on standard error: an early stop or a file not made, and the
// frames it left out. The exit status: kExitTempFail for a write that failed or was stopped,
// kExitFailed for frames left out, else 0. *message (when given) receives the first line told.
int ReportExportStop(const std::string& command, const ExportOutcome& outcome, const std::string& path,
                     std::string* message = nullptr);

// Makes the folder and any missing folders above it (as mkdir -p) for command; 0 when it is there now,
// else the message told and its status: kExitUsage when a file is in the way, else kExitTempFail.
int MakeFolders(const std::string& command, const std::string& folder);

// The exit status for OutputPathProblem's refusal of path (not empty): kExitTempFail when the folder
// is there but cannot be written to (worth trying again once it can), else kExitUsage (an existing file
// without --force, the source itself, a directory or device in the way, a name too long).
int OutputProblemStatus(const std::string& path);

// Shortest text that reads back as the same double.
std::string FormatDouble(double value);

// Opens path with the back end the environment selects (TESSARON_MEDIA_DETECTOR=0: our AVI reader).
// On failure *reason says why in a few words, naming no file.
bool OpenVideo(VideoFrameReader& reader, const std::string& path, FrameInfo** info, std::string* reason);

// OpenVideo for command: on failure "<path>: <reason>" is reported and the result is null.
FrameInfo* OpenVideoOrFail(const std::string& command, VideoFrameReader& reader, const std::string& path);

// While one lives, SIGINT, SIGTERM and SIGHUP only set a flag, so that a writing loop stops between two
// frames and cleans up as it does for Ctrl+C; the handlers before it come back at its end.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    // True once one of the signals came.
    static bool Requested();

private:
    struct sigaction previous_[3];
};

// A line on standard error, "frame N of M, F fps, S s left", rewritten in place; only when standard
// error is a terminal.
class ProgressLine {
public:
    // allowed false: never shown (a batch shows its own line instead).
    explicit ProgressLine(const char* what, bool allowed = true);
    void Update(int64_t done, int64_t total);
    void Clear();

private:
    const char* what_;
    bool on_;
    double start_;
    double lastShown_ = -1;
};

}  // namespace cli
