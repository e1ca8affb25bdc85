// The part that tessaron-cli export and crop share: checking the output, opening the video, running
// the write with progress and Ctrl+C, and reporting the outcome (defined in cmd_export.cpp).
#pragma once

#include <functional>
#include <string>

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

// Refuses an existing output without force (and the source itself always), opens the video, lets
// validate refuse bad arguments (its message; empty to go on), runs write and reports on standard
// error. Exit status 0 only when every frame asked for was written and time-stamped.
int RunWriteJob(const WriteJob& job, const std::function<std::string(const FrameInfo&)>& validate,
                const std::function<ExportOutcome(VideoFrameReader&, FrameInfo&, const ExportTarget&,
                                                  const ExportCallbacks&)>& write);

}  // namespace cli
