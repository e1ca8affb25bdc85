// The part that tessaron-cli export and crop share: checking the output, opening the video, running
// the write with progress and Ctrl+C, and reporting the outcome (defined in cmd_export.cpp).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "output/FrameExport.h"

struct FrameInfo;
class VideoFrameReader;

namespace cli {

struct WriteJob {
    const char* command = "";
    std::string source;
    std::string output;
    bool force = false;
};

// The options export and crop share (-o OUT, --force) filling job, other arguments into positional;
// the command adds its own.
CommandLine WriteJobCommandLine(WriteJob& job, const char* usage, std::vector<std::string>& positional);

// Refuses an existing output without force (and the source itself always), opens the video, lets
// validate refuse bad arguments (its message; empty to go on), runs write and reports on standard
// error. Exit status 0 only when every frame asked for was written and time-stamped.
int RunWriteJob(const WriteJob& job, const std::function<std::string(const FrameInfo&)>& validate,
                const std::function<ExportOutcome(VideoFrameReader&, FrameInfo&, const ExportTarget&,
                                                  const ExportCallbacks&)>& write);

}  // namespace cli
