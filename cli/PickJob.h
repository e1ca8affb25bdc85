// The work of tessaron-cli pick on one video, shared by pick and batch: its options (every option that
// decides what is scored, picked or written is added here, so batch takes it as well), the checks of
// their combinations, and the run itself: one scoring pass over the video (or over a range of it), the
// picking rule, and the images with frames.csv.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/CliCommon.h"
#include "cli/ImageJob.h"
#include "selector/FramePick.h"
#include "selector/FrameScore.h"

namespace cli {

// One end of a range of frames: a frame number, or a time in seconds that becomes the first frame
// starting at or after it.
struct RangeEnd {
    bool set = false;
    bool isTime = false;
    double value = 0;  // a frame number (whole) or seconds
};

// "120" (a frame), "4.5s", "300ms" (a time); false for anything else (negative values included).
bool ParseRangeEnd(const std::string& text, RangeEnd* end);

// The frames from `from` up to, not including, `to`; unset ends are the video's.
struct FrameRange {
    RangeEnd from, to;
};

// The frames [*begin, *end) of range in a video of frameCount frames with these times (frame times in
// order; a time is the first frame at or after it); an error message when the range holds no frame.
std::string ResolveRange(const FrameRange& range, const std::vector<double>& times, int32_t frameCount, int32_t* begin,
                         int32_t* end);

// --from and --to into range.
void AddRangeOptions(CommandLine& line, FrameRange& range);

struct PickJob {
    PickSettings pick;
    int rules = 0;  // rule options given: pick needs one; batch takes none for rank
    bool haveGap = false;
    int32_t quality = 25;
    ScoreSettings scoring;
    ImageJob image;  // the folder (-o) and --force are set by the command that runs the job
    FrameRange range;
    std::string scoresFile;  // pick --scores: the scores come from this file, not from decoding
    // The options given, by their main name, with their values, in the order given: what the job was
    // asked to do, for the record a batch keeps.
    std::vector<std::pair<std::string, std::string>> given;
};

// Adds every option that decides pick's work (the rule, scores, box, range, images; not -o, --force,
// --json, --csv and --scores) to line, each noted in job.given when it is taken.
void AddPickOptions(CommandLine& line, PickJob& job);

// The combinations of options a job cannot take; empty when fine. rankOnly: no rule, no image options
// (batch's rank).
std::string CheckPickOptions(const PickJob& job, bool rankOnly);

// A frame as scored, in frame order.
struct ScoredFrame {
    int32_t frame = 0;
    double seconds = 0;
    int32_t rank = 0;  // its position in the sort, best first
    JpegScore score;
};

struct PickOutcome {
    int status = kExitOk;    // the exit status pick would give
    std::string error;       // the first thing told on standard error, empty when nothing was
    bool opened = false;     // the video opened
    int32_t frameCount = 0;  // the video's
    std::vector<ScoredFrame> scored;
    std::vector<int32_t> unreadable;  // frames of the range that could not be read, ascending
    std::vector<size_t> picked;       // indices into scored, in frame order
    std::vector<std::string> files;   // for each picked frame, the image written (planned path), or empty
    std::string rule;                 // DescribePickRule, empty for rank
    bool chosen = false;              // the rule ran: its picks stand, even after a frame that could
                                      // not be read or images that could not be written
};

// How RunPick runs.
struct PickRun {
    const char* command = "pick";  // names its messages on standard error
    bool rankOnly = false;         // scores only: no rule, no images
    bool progress = true;          // the progress line on a terminal
};

// Scores path's frames in job.range as rank does (or reads job.scoresFile instead), picks by the rule
// and, when job.image.folder is set, writes the picked frames there as images with frames.csv (the
// folder must exist). With saved scores and no folder, path may be empty: nothing is opened. Messages
// go to standard error as "tessaron-cli <command>: ...".
PickOutcome RunPick(PickJob& job, const std::string& path, const PickRun& run);

// The number printed for a frame's score: the JPEG score, or the sharpness exactly.
std::string ScoreText(ScoreKind kind, const JpegScore& score);

}  // namespace cli
