// tessaron-cli pick FILE (--every T|K | --count N | --best N [--min-gap G]) ...: every frame scored as
// rank does, the frames a rule chooses printed in frame order and, with -o DIR, written as images.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "cli/ImageJob.h"
#include "selector/FrameOrder.h"
#include "selector/FramePick.h"
#include "selector/FrameSort.h"
#include "video/VideoFrameReader.h"

namespace {

const char kUsage[] =
    "usage: tessaron-cli pick FILE (--every T|K | --count N | --best N [--min-gap G]) [--min-relative R]\n"
    "                         [--score jpeg|sharpness] [--quality Q] [--box X1,Y1,X2,Y2] [--deinterlace]\n"
    "                         [--json | --csv] [-o DIR [--format png|jpg|tif|bmp] [--jpeg-quality J]\n"
    "                         [--name PATTERN] [--tiff-deflate] [--force]]\n"
    "\n"
    "Scores every frame of FILE as rank does (--score jpeg: JPEG size at quality Q, default 25;\n"
    "--score sharpness: the variance of the Laplacian of the luma), only the box with --box, and\n"
    "chooses frames:\n"
    "  --every T      the best frame of every T seconds (0.5s, 300ms): frames whose time falls in [kT, (k+1)T)\n"
    "  --every K      the best frame of every K frames: frames kK ... kK+K-1\n"
    "  --count N      the best frame of each of N equal windows over the whole video\n"
    "  --best N       the best N frames, none fewer than G frames (--min-gap G) from another\n"
    "  --min-relative R  leaves out frames whose JPEG (or sharpness) is below R x the median of their window\n"
    "The best frame is the first in rank's order (the smallest JPEG score or the highest sharpness, ties\n"
    "to the earlier frame). The chosen frames are printed in frame order: \"frame time score file\" per\n"
    "line, --csv with a header, or --json: {\"rule\", \"quality\", \"scoreKind\", \"frameCount\",\n"
    "\"frames\": [{\"frame\", \"time\", \"score\", \"file\"}]}. For sharpness {score} in names and\n"
    "frames.csv is the variance rounded to a whole number.\n"
    "With -o DIR they are written into the folder DIR as images (default PNG) named by PATTERN\n"
    "({stem} {frame} {time} {rank} {score}; default {stem}_{frame}.png), with frames.csv beside them;\n"
    "existing files are replaced only with --force. A progress line goes to standard error when it is a\n"
    "terminal.\n";

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            out += '\\', out += char(c);
        else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else
            out += char(c);
    }
    return out + "\"";
}

}  // namespace

int CmdPick(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    PickSettings pick;
    int rules = 0;
    bool haveGap = false, json = false, csv = false, haveOutput = false;
    int32_t quality = 25;
    ScoreSettings scoring;
    cli::ImageJob job;
    job.command = "pick";
    cli::CommandLine line{"pick", kUsage, {}, {}};
    const auto count = [&](PickRule rule) {
        return [&, rule](const std::string& value) {
            int32_t n = 0;
            ++rules;
            if (!cli::ParseInt32(value, &n) || n <= 0) return "'" + value + "' is not a positive whole number";
            pick.rule = rule;
            pick.count = n;
            return std::string();
        };
    };
    line.options.push_back({"--every", nullptr, "seconds (0.5s, 300ms) or a frame count", [&](const std::string& v) {
                                ++rules;
                                return ParseEveryValue(v, &pick) ? std::string()
                                                                 : "'" + v + "' is not a time such as 0.5s or a count";
                            }});
    line.options.push_back({"--count", nullptr, "a number of frames", count(PickRule::Count)});
    line.options.push_back({"--best", nullptr, "a number of frames", count(PickRule::Best)});
    line.options.push_back({"--min-gap", nullptr, "a number of frames", [&](const std::string& value) {
                                haveGap = true;
                                return cli::ParseInt32(value, &pick.minGap) && pick.minGap >= 0
                                           ? std::string()
                                           : "'" + value + "' is not a whole number of frames";
                            }});
    line.options.push_back({"--min-relative", nullptr, "a fraction such as 0.8", [&](const std::string& value) {
                                char* end = nullptr;
                                pick.minRelative = std::strtod(value.c_str(), &end);
                                return !value.empty() && !*end && pick.minRelative > 0 && pick.minRelative <= 10
                                           ? std::string()
                                           : "'" + value + "' is not a fraction such as 0.8";
                            }});
    line.options.push_back(cli::QualityOption(&quality));
    line.options.push_back(cli::ScoreOption(&scoring.kind));
    line.options.push_back(cli::Flag("--json", &json));
    line.options.push_back(cli::Flag("--csv", &csv));
    line.options.push_back({"-o", nullptr, "a folder", [&](const std::string& folder) {
                                job.folder = folder;
                                haveOutput = true;
                                return folder.empty() ? std::string("the output folder is empty") : std::string();
                            }});
    line.options.push_back(cli::Flag("--force", &job.force));
    cli::AddImageOptions(line, job);
    line.positional = cli::Collect(&positional);
    if (const std::optional<int> status = cli::ParseCommandLine(line, args)) return *status;
    if (positional.size() != 1) return cli::Fail("pick", "expected one FILE" + cli::TryHelp("pick"));
    if (rules != 1) return cli::Fail("pick", "give exactly one of --every, --count and --best" + cli::TryHelp("pick"));
    if (haveGap && pick.rule != PickRule::Best) return cli::Fail("pick", "--min-gap goes with --best");
    if (json && csv) return cli::Fail("pick", "--json and --csv cannot both be given");
    if (!haveOutput && (job.haveFormat || !job.settings.pattern.empty()))
        return cli::Fail("pick", "image options need an output folder (-o DIR)");
    const std::string& path = positional[0];
    // What can be refused before the scoring pass is refused now.
    if (haveOutput) {
        std::error_code ec;
        if (!std::filesystem::is_directory(job.folder, ec)) return cli::Fail("pick", job.folder + " is not a folder");
        const std::string csv = job.folder + (job.folder.back() == '/' ? "" : "/") + "frames.csv";
        if (!job.force && std::filesystem::exists(std::filesystem::symlink_status(csv, ec)))
            return cli::Fail("pick", csv + " exists; use --force to replace the image set");
    }

    VideoFrameReader reader;
    reader.SetDeinterlace(job.deinterlace ? 1 : 0);
    FrameInfo* info = cli::OpenVideoOrFail("pick", reader, path);
    if (!info) return 1;
    reader.SetDeinterlace(job.deinterlace ? 1 : 0);
    if (const std::string bad = cli::CheckImageBox(job, *info); !bad.empty()) {
        reader.Close(*info);
        return cli::Fail("pick", path + ": " + bad);
    }
    const int32_t frameCount = info->frameCount;
    // The box, when given, is what is scored as well as what is written.
    scoring.quality = quality;
    cli::SetScoreBox(job.haveBox, job.corners, *info, &scoring);
    pick.score = scoring.kind;
    const bool sharpness = scoring.kind == ScoreKind::Sharpness;

    // One scoring pass, as rank: the scores by frame number.
    std::vector<PickScore> scores(size_t(std::max(frameCount, 0)));
    cli::ProgressLine progress("scoring");
    SortCallbacks callbacks;
    callbacks.scored = [&](int32_t frame, const JpegScore& score) {
        if (size_t(frame) >= scores.size()) scores.resize(size_t(frame) + 1);
        scores[size_t(frame)] = {score, true};
        progress.Update(frame + 1, info->frameCount);
    };
    std::vector<std::string> order;
    const SortOutcome outcome = ScoreAndSortFrames(reader, *info, scoring, order, callbacks);
    progress.Clear();
    int status = 0;
    if (outcome.stop == SortStop::Unreadable) {
        cli::Fail("pick", path + ": frame " + std::to_string(outcome.unreadableFrame) +
                              " cannot be read; choosing among the " + std::to_string(outcome.framesScored) +
                              " frames before it");
        status = 1;
    } else if (outcome.stop != SortStop::Done) {
        reader.Close(*info);
        return cli::Fail("pick", path + ": scoring stopped after " + std::to_string(outcome.framesScored) + " frames" +
                                     (outcome.reason.empty() ? "" : ": " + outcome.reason));
    }

    // The rank of a frame: its position in the sort.
    std::vector<int32_t> rankOf(scores.size(), -1);
    for (size_t position = 0; position < order.size(); ++position) {
        int32_t score = 0, frame = 0;
        if (ParseFrameOrderKey(order[position].c_str(), &score, &frame) == 2 && frame >= 0 &&
            size_t(frame) < rankOf.size())
            rankOf[size_t(frame)] = int32_t(position);
    }
    const double period = info->framePeriod > 0       ? info->framePeriod
                          : info->framesPerSecond > 0 ? 1 / info->framesPerSecond
                                                      : 0;
    const std::vector<int32_t> picked = PickFrames(scores, period, pick);
    std::vector<ImageItem> items;
    for (int32_t frame : picked) {
        items.push_back({frame, rankOf[size_t(frame)], WholeScore(scoring.kind, scores[size_t(frame)].score)});
    }

    std::vector<std::string> files(items.size());
    if (haveOutput && !items.empty()) {
        job.settings.folder = job.folder;
        job.settings.stem = FileStem(path);
        std::string error;
        const std::vector<std::string> planned = PlannedImagePaths(*info, items, job.settings, &error);
        for (size_t i = 0; i < items.size() && i < planned.size(); ++i) files[i] = planned[i];
        if (cli::WriteImages(job, reader, *info, path, items, stderr) != 0) status = 1;
    }
    reader.Close(*info);

    const std::string rule = DescribePickRule(pick);
    if (json)
        std::printf("{\"rule\": %s, \"quality\": %d, \"scoreKind\": \"%s\", \"frameCount\": %d, \"frames\": [",
                    JsonString(rule).c_str(), quality, ScoreKindName(scoring.kind), frameCount);
    else if (csv)
        std::printf("frame,time,score,file\n");
    for (size_t i = 0; i < items.size(); ++i) {
        const double seconds = FrameSeconds(*info, items[i].frame);
        // Printed: the JPEG score, or the sharpness exactly.
        const std::string score = sharpness ? cli::FormatDouble(scores[size_t(items[i].frame)].score.sharpness)
                                            : std::to_string(items[i].score);
        if (json)
            std::printf("%s{\"frame\": %d, \"time\": %s, \"score\": %s, \"file\": %s}", i ? ", " : "", items[i].frame,
                        cli::FormatDouble(seconds).c_str(), score.c_str(),
                        files[i].empty() ? "null" : JsonString(files[i]).c_str());
        else
            std::printf(csv ? "%d,%s,%s,%s\n" : "%d %s %s%s%s\n", items[i].frame, cli::FormatDouble(seconds).c_str(),
                        score.c_str(), csv || files[i].empty() ? "" : " ", files[i].c_str());
    }
    if (json) std::printf("]}\n");
    if (std::fflush(stdout) != 0) return cli::Fail("pick", "cannot write the result");
    return status;
}
