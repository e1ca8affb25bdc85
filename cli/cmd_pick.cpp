// tessaron-cli pick FILE (--every T|K | --count N | --best N [--min-gap G]) ...: every frame scored as
// rank does, the frames a rule chooses printed in frame order and, with -o DIR, written as images.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "cli/Json.h"
#include "cli/PickJob.h"

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
    "With -o DIR they are written into the folder DIR (made when missing) as images (default PNG) named by PATTERN\n"
    "({stem} {frame} {time} {rank} {score}; default {stem}_{frame}.png), with frames.csv beside them;\n"
    "existing files are replaced only with --force. A progress line goes to standard error when it is a\n"
    "terminal. Exit status: 0 done; 1 the video cannot be used (a frame that cannot be read up to its end\n"
    "still has its picks printed); 2 a wrong command line; 75 the images could not be written, or a\n"
    "signal stopped it: worth running again. tessaron-cli batch runs the same pick over many videos.\n";

}  // namespace

int CmdPick(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    cli::PickJob job;
    job.image.command = "pick";
    bool json = false, csv = false, haveOutput = false;
    cli::CommandLine line{"pick", kUsage, {}, {}};
    cli::AddPickOptions(line, job);
    line.options.push_back(cli::Flag("--json", &json));
    line.options.push_back(cli::Flag("--csv", &csv));
    line.options.push_back({"-o", nullptr, "a folder", [&](const std::string& folder) {
                                job.image.folder = folder;
                                haveOutput = true;
                                return folder.empty() ? std::string("the output folder is empty") : std::string();
                            }});
    line.options.push_back(cli::Flag("--force", &job.image.force));
    line.positional = cli::Collect(&positional);
    if (const std::optional<int> status = cli::ParseCommandLine(line, args)) return *status;
    if (positional.size() != 1) return cli::Usage("pick", "expected one FILE" + cli::TryHelp("pick"));
    if (const std::string bad = cli::CheckPickOptions(job, false); !bad.empty())
        return cli::Usage("pick", bad + (job.rules != 1 ? cli::TryHelp("pick") : std::string()));
    if (json && csv) return cli::Usage("pick", "--json and --csv cannot both be given");
    if (!haveOutput && (job.image.haveFormat || !job.image.settings.pattern.empty()))
        return cli::Usage("pick", "image options need an output folder (-o DIR)");
    const std::string& path = positional[0];
    // What can be refused before the scoring pass is refused now; a missing folder is made.
    if (haveOutput) {
        if (const int status = cli::MakeFolders("pick", job.image.folder)) return status;
        std::error_code ec;
        const std::string csv = job.image.folder + (job.image.folder.back() == '/' ? "" : "/") + "frames.csv";
        if (!job.image.force && std::filesystem::exists(std::filesystem::symlink_status(csv, ec)))
            return cli::Usage("pick", csv + " exists; use --force to replace the image set");
    }

    const cli::PickOutcome outcome = cli::RunPick(job, path, cli::PickRun{});
    if (!outcome.chosen) return outcome.status;

    if (json) {
        cli::Json frames = cli::Json::array();
        for (size_t i = 0; i < outcome.picked.size(); ++i) {
            const cli::ScoredFrame& f = outcome.scored[outcome.picked[i]];
            cli::Json item;
            item["frame"] = f.frame;
            item["time"] = f.seconds;
            // Printed: the JPEG score, or the sharpness exactly.
            if (job.scoring.kind == ScoreKind::Sharpness)
                item["score"] = f.score.sharpness;
            else
                item["score"] = f.score.score;
            item["file"] = outcome.files[i].empty() ? cli::Json() : cli::Json(outcome.files[i]);
            frames.push_back(std::move(item));
        }
        cli::Json result;
        result["rule"] = outcome.rule;
        result["quality"] = job.quality;
        result["scoreKind"] = ScoreKindName(job.scoring.kind);
        result["frameCount"] = outcome.frameCount;
        result["frames"] = std::move(frames);
        std::printf("%s\n", cli::JsonText(result, cli::JsonLayout::Spaced).c_str());
    } else {
        if (csv) std::printf("frame,time,score,file\n");
        for (size_t i = 0; i < outcome.picked.size(); ++i) {
            const cli::ScoredFrame& f = outcome.scored[outcome.picked[i]];
            const std::string score = cli::ScoreText(job.scoring.kind, f.score);
            const std::string& file = outcome.files[i];
            std::printf(csv ? "%d,%s,%s,%s\n" : "%d %s %s%s%s\n", f.frame, cli::FormatDouble(f.seconds).c_str(),
                        score.c_str(), csv || file.empty() ? "" : " ", file.c_str());
        }
    }
    if (std::fflush(stdout) != 0) return cli::Fail("pick", "cannot write the result", cli::kExitTempFail);
    return outcome.status;
}
