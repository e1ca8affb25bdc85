// tessaron-cli rank FILE [--quality Q] [--json]: every frame scored by its JPEG size as the frame
// selector's "Sort" does, printed in sorted order (most detailed frame first).
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "selector/FrameOrder.h"
#include "selector/FrameSort.h"
#include "video/VideoFrameReader.h"

namespace {

const char kUsage[] =
    "usage: tessaron-cli rank FILE [--quality Q] [--json | --csv]\n"
    "\n"
    "JPEG-encodes every frame of FILE in memory at quality Q (1 to 100, default 25) and prints the\n"
    "frames sorted by score, the most detailed first: one line per position with the position, the\n"
    "frame number, the score (uncompressed size - JPEG size + 100) and the JPEG size in bytes.\n"
    "--json prints one object instead:\n"
    "  {\"quality\": Q, \"frameCount\": N, \"frames\": [{\"position\": 0, \"frame\": F, \"score\": S,\n"
    "   \"jpegBytes\": B}, ...]}\n"
    "where frameCount is the video's frame count. --csv prints a header line\n"
    "\"position,frame,score,jpegBytes\" and then one line per frame. A frame that cannot be read while later\n"
    "frames can is left out and named at the end on standard error (and in the JSON as \"unreadable\": [F, ...]\n"
    "after \"frames\"); the exit status stays 0. Frames that cannot be read up to the end of the video end the\n"
    "scoring: what was scored is printed and the exit status is 1.\n";

constexpr int kDefaultQuality = 25;

}  // namespace

int CmdRank(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    int32_t quality = kDefaultQuality;
    bool json = false, csv = false;
    cli::CommandLine line{"rank", kUsage, {}, {}};
    line.options.push_back(cli::QualityOption(&quality));
    line.options.push_back(cli::Flag("--json", &json));
    line.options.push_back(cli::Flag("--csv", &csv));
    line.positional = cli::Collect(&positional);
    if (const std::optional<int> status = cli::ParseCommandLine(line, args)) return *status;
    if (positional.size() != 1) return cli::Fail("rank", "expected one FILE" + cli::TryHelp("rank"));
    if (json && csv) return cli::Fail("rank", "--json and --csv cannot both be given");
    const std::string& path = positional[0];

    VideoFrameReader reader;
    FrameInfo* info = cli::OpenVideoOrFail("rank", reader, path);
    if (!info) return 1;
    const int32_t frameCount = info->frameCount;

    // JPEG sizes by frame number, for the printout (the keys hold the scores).
    std::vector<int32_t> jpegBytes;
    cli::ProgressLine progress("scoring");
    SortCallbacks callbacks;
    callbacks.scored = [&](int32_t frame, const JpegScore& score) {
        if (size_t(frame) >= jpegBytes.size()) jpegBytes.resize(size_t(frame) + 1, 0);
        jpegBytes[size_t(frame)] = score.jpegBytes;
        progress.Update(frame + 1, info->frameCount);
    };
    std::vector<std::string> order;
    const SortOutcome outcome = ScoreAndSortFrames(reader, *info, quality, order, callbacks);
    progress.Clear();
    reader.Close(*info);

    if (json) std::printf("{\"quality\": %d, \"frameCount\": %d, \"frames\": [", quality, frameCount);
    if (csv) std::printf("position,frame,score,jpegBytes\n");
    for (size_t position = 0; position < order.size(); ++position) {
        int32_t score = 0, frame = 0;
        if (ParseFrameOrderKey(order[position].c_str(), &score, &frame) != 2) continue;
        const int32_t bytes = frame >= 0 && size_t(frame) < jpegBytes.size() ? jpegBytes[size_t(frame)] : 0;
        if (json)
            std::printf("%s{\"position\": %zu, \"frame\": %d, \"score\": %d, \"jpegBytes\": %d}", position ? ", " : "",
                        position, frame, score, bytes);
        else
            std::printf(csv ? "%zu,%d,%d,%d\n" : "%zu %d %d %d\n", position, frame, score, bytes);
    }
    if (json) {
        std::printf("]");
        if (!outcome.skipped.empty()) {
            std::printf(", \"unreadable\": [");
            for (size_t i = 0; i < outcome.skipped.size(); ++i) std::printf(i ? ", %d" : "%d", outcome.skipped[i]);
            std::printf("]");
        }
        std::printf("}\n");
    }
    if (std::fflush(stdout) != 0) return cli::Fail("rank", "cannot write the result");

    if (!outcome.skipped.empty()) {
        // Told once, after the scores: the frames that did not decode while later ones did.
        std::string list;
        for (int32_t frame : outcome.skipped) list += (list.empty() ? "" : " ") + std::to_string(frame);
        std::fprintf(stderr, "tessaron-cli rank: %s: frames that could not be read, left out: %s\n", path.c_str(),
                     list.c_str());
    }
    switch (outcome.stop) {
    case SortStop::Done: return 0;
    case SortStop::Unreadable:
        return cli::Fail("rank", path + ": cannot handle frames beyond frame " +
                                     std::to_string(outcome.unreadableFrame) + " (it cannot be read); " +
                                     std::to_string(outcome.framesScored) + " of " + std::to_string(frameCount) +
                                     " frames scored");
    case SortStop::Failed:
        return cli::Fail("rank",
                         path + ": " + outcome.reason + " after " + std::to_string(outcome.framesScored) + " frames");
    case SortStop::Cancelled:
    case SortStop::OutOfMemory: break;
    }
    return cli::Fail("rank", path + ": out of memory after " + std::to_string(outcome.framesScored) + " frames");
}
