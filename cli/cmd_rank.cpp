// tessaron-cli rank FILE [--score jpeg|sharpness|local-sharpness] [--quality Q] [--box X1,Y1,X2,Y2] [--json | --csv]:
// every frame scored as the frame selector's "Sort" does, printed in sorted order (best frame first).
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "cli/Json.h"
#include "cli/PickJob.h"
#include "selector/FrameOrder.h"
#include "selector/FrameSort.h"
#include "video/VideoFrameReader.h"

namespace {

const char kUsage[] =
    "usage: tessaron-cli rank FILE [--score jpeg|sharpness|local-sharpness] [--quality Q] [--box X1,Y1,X2,Y2] [--from "
    "T|F]\n"
    "                         [--to T|F] [--json | --csv]\n"
    "\n"
    "Scores every frame of FILE and prints the frames sorted by score, the best first: one line per\n"
    "position with the position, the frame number and the score, and for the JPEG score the JPEG size.\n"
    "  --score jpeg       (the default) JPEG-encodes every frame in memory at quality Q (1 to 100, default\n"
    "                     25); the score is uncompressed size - JPEG size + 100, the smallest (the most\n"
    "                     detailed frame) first\n"
    "  --score sharpness  the variance of the 3x3 Laplacian of the frame's luma, the sharpest (highest)\n"
    "                     first\n"
    "  --score local-sharpness  the highest such variance among square windows of 200/720 of the frame's\n"
    "                     height: a sharp subject on a blurred background scores as sharp; the highest\n"
    "                     first; equal scores go to the earlier frame\n"
    "  --box X1,Y1,X2,Y2  scores only the box with these corners (right and bottom edges not in it)\n"
    "  --from, --to       only the frames from F (a frame number) or T (4.5s, 300ms) up to, not including,\n"
    "                     the end given\n"
    "--json prints one object instead:\n"
    "  {\"quality\": Q, \"scoreKind\": \"jpeg\", \"frameCount\": N, \"frames\": [{\"position\": 0, \"frame\": F,\n"
    "   \"score\": S, \"jpegBytes\": B, \"time\": T, \"change\": C, \"thumbnail\": \"...\"}, ...]}\n"
    "where frameCount is the video's frame count; for the sharpness scores scoreKind is \"sharpness\" or\n"
    "\"local-sharpness\", score the variance\n"
    "and jpegBytes is left out. time is the frame's time in seconds; change is how much its picture differs\n"
    "from the frame scored before it (the mean absolute difference of 32x18 luma thumbnails, 0 to 255;\n"
    "null for the first), what pick --min-change compares; thumbnail is that thumbnail in base64, so that\n"
    "pick --scores can read the output back. --csv prints a header line\n"
    "\"position,frame,score,jpegBytes,time,change,thumbnail\" (for sharpness without jpegBytes) and then one\n"
    "line per frame. A frame that cannot be read while later\n"
    "frames can is left out and named at the end on standard error (and in the JSON as \"unreadable\": [F, ...]\n"
    "after \"frames\"); the exit status stays 0. Frames that cannot be read up to the end of the video end the\n"
    "scoring: what was scored is printed and the exit status is 1.\n";

constexpr int kDefaultQuality = 25;

}  // namespace

int CmdRank(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    int32_t quality = kDefaultQuality;
    bool json = false, csv = false, haveBox = false;
    ScoreSettings settings;
    int32_t corners[4] = {0, 0, 0, 0};
    cli::CommandLine line{"rank", kUsage, {}, {}};
    line.options.push_back(cli::QualityOption(&quality));
    line.options.push_back(cli::ScoreOption(&settings.kind));
    line.options.push_back({"--box", nullptr, "X1,Y1,X2,Y2", [&](const std::string& box) {
                                haveBox = cli::ParseBox(box, corners);
                                return haveBox ? std::string() : "'" + box + "' is not a box X1,Y1,X2,Y2";
                            }});
    cli::FrameRange range;
    cli::AddRangeOptions(line, range);
    line.options.push_back(cli::Flag("--json", &json));
    line.options.push_back(cli::Flag("--csv", &csv));
    line.positional = cli::Collect(&positional);
    if (const std::optional<int> status = cli::ParseCommandLine(line, args)) return *status;
    if (positional.size() != 1) return cli::Usage("rank", "expected one FILE" + cli::TryHelp("rank"));
    if (json && csv) return cli::Usage("rank", "--json and --csv cannot both be given");
    const std::string& path = positional[0];

    VideoFrameReader reader;
    FrameInfo* info = cli::OpenVideoOrFail("rank", reader, path);
    if (!info) return 1;
    const int32_t frameCount = info->frameCount;
    settings.quality = quality;
    if (const std::string bad = cli::SetScoreBox(haveBox, corners, *info, &settings); !bad.empty()) {
        reader.Close(*info);
        return cli::Fail("rank", path + ": " + bad);
    }
    const bool sharpness = settings.kind != ScoreKind::Jpeg;
    const std::vector<double> times = reader.FrameTimes();
    FrameSpan span;
    if (const std::string bad = cli::ResolveRange(range, times, frameCount, &span.begin, &span.end); !bad.empty()) {
        reader.Close(*info);
        return cli::Fail("rank", path + ": " + bad);
    }

    // The scores (and for --json and --csv the thumbnails) by frame number, for the printout.
    std::vector<JpegScore> scores;
    std::vector<Thumbnail> thumbnails;
    std::vector<bool> scored;
    const bool saved = json || csv;
    cli::ProgressLine progress("scoring");
    SortCallbacks callbacks;
    callbacks.scored = [&](int32_t frame, const JpegScore& score) {
        if (size_t(frame) >= scores.size()) {
            scores.resize(size_t(frame) + 1);
            scored.resize(size_t(frame) + 1);
        }
        scores[size_t(frame)] = score;
        scored[size_t(frame)] = true;
        progress.Update(frame - span.begin + 1, std::min(info->frameCount, span.end) - span.begin);
    };
    if (saved)
        callbacks.thumbnail = [&](int32_t frame, const Thumbnail& thumbnail) {
            if (size_t(frame) >= thumbnails.size()) thumbnails.resize(size_t(frame) + 1);
            thumbnails[size_t(frame)] = thumbnail;
        };
    std::vector<std::string> order;
    const SortOutcome outcome = ScoreAndSortFrames(reader, *info, settings, span, order, callbacks);
    progress.Clear();
    reader.Close(*info);

    // Each frame's change from the frame scored before it.
    std::vector<double> change(scores.size(), -1);
    for (size_t f = 0, previous = SIZE_MAX; saved && f < scores.size() && f < thumbnails.size(); ++f) {
        if (!scored[f]) continue;
        if (previous != SIZE_MAX) change[f] = ThumbnailChange(thumbnails[previous], thumbnails[f]);
        previous = f;
    }
    cli::Json frames = cli::Json::array();
    if (csv)
        std::printf(sharpness ? "position,frame,score,time,change,thumbnail\n"
                              : "position,frame,score,jpegBytes,time,change,thumbnail\n");
    for (size_t position = 0; position < order.size(); ++position) {
        int32_t frame = 0;
        if (ParseFrameOrderKey(order[position].c_str(), nullptr, &frame) != 2) continue;
        const bool known = frame >= 0 && size_t(frame) < scores.size();
        const JpegScore score = known ? scores[size_t(frame)] : JpegScore();
        const double time = frame >= 0 && size_t(frame) < times.size() ? times[size_t(frame)] : 0.0;
        const double changed = known ? change[size_t(frame)] : -1;
        const std::string thumbnail = saved && frame >= 0 && size_t(frame) < thumbnails.size()
                                          ? ThumbnailText(thumbnails[size_t(frame)])
                                          : "";
        if (json) {
            cli::Json item = {{"position", position}, {"frame", frame}};
            if (sharpness) {
                item["score"] = score.sharpness;
            } else {
                item["score"] = score.score;
                item["jpegBytes"] = score.jpegBytes;
            }
            item["time"] = time;
            item["change"] = changed < 0 ? cli::Json() : cli::Json(changed);
            item["thumbnail"] = thumbnail;
            frames.push_back(std::move(item));
        } else if (csv) {
            const std::string value = sharpness ? cli::FormatDouble(score.sharpness)
                                                : std::to_string(score.score) + "," + std::to_string(score.jpegBytes);
            std::printf("%zu,%d,%s,%s,%s,%s\n", position, frame, value.c_str(), cli::FormatDouble(time).c_str(),
                        changed < 0 ? "" : cli::FormatDouble(changed).c_str(), thumbnail.c_str());
        } else if (sharpness) {
            std::printf("%zu %d %s\n", position, frame, cli::FormatDouble(score.sharpness).c_str());
        } else {
            std::printf("%zu %d %d %d\n", position, frame, score.score, score.jpegBytes);
        }
    }
    if (json) {
        cli::Json result;
        result["quality"] = quality;
        result["scoreKind"] = ScoreKindName(settings.kind);
        result["frameCount"] = frameCount;
        result["frames"] = std::move(frames);
        if (!outcome.skipped.empty()) result["unreadable"] = outcome.skipped;
        std::printf("%s\n", cli::JsonText(result, cli::JsonLayout::Spaced).c_str());
    }
    if (std::fflush(stdout) != 0) return cli::Fail("rank", "cannot write the result", cli::kExitTempFail);

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
    return cli::Fail("rank", path + ": out of memory after " + std::to_string(outcome.framesScored) + " frames",
                     cli::kExitTempFail);
}
