// One video of tessaron-cli batch: its work done in a folder of its own beside the final one, the
// scores.csv and result.json written there last, and the folder put in place in one rename, so that a
// video is either done whole or not at all.
#pragma once

#include <string>

#include "cli/BatchPlan.h"
#include "cli/Json.h"
#include "cli/PickJob.h"

namespace cli {

// The folder a video is made in: "<root>/.<name>.part"; removed before a video is run and after it
// failed, so one left by a run that was killed never outlives the next run.
std::string StagingFolder(const std::string& root, const std::string& name);

// Removes a folder and everything in it; true when it is gone.
bool RemoveTree(const std::string& path);

// The standard output line for a video: {"path", "id", "status", "error", "frames", "unreadable",
// "picked", "seconds"}.
Json VideoLine(const BatchVideo& video, const char* status, const Json& error, const Json& frames,
               const Json& unreadable, const Json& picked, double seconds);

// The line for a video skipped because its result stands.
Json SkippedLine(const BatchVideo& video, const Json& recorded, double seconds);

// Runs job on video into <root>/<video.name>/ (pick, or rank when rank is set): the images,
// frames.csv, scores.csv and result.json. Failures that another run would not mend (kExitFailed,
// kExitUsage) are recorded in result.json as "failed"; those worth another run (kExitTempFail) leave
// nothing. *line is the video's standard output line. The video's exit status.
int RunBatchVideo(PickJob job, bool rank, const BatchVideo& video, const std::string& root, Json* line);

// Records a failure of video that happened outside RunBatchVideo (the process running it died of
// error) as its result, in the same way; false when that could not be written.
bool RecordBatchFailure(const PickJob& job, bool rank, const BatchVideo& video, const std::string& root,
                        const std::string& error);

}  // namespace cli
