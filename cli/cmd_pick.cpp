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
    "                         [--min-change D] [--max N] [--from T|F] [--to T|F]\n"
    "                         [--score jpeg|sharpness|local-sharpness] [--quality Q] [--box X1,Y1,X2,Y2] "
    "[--deinterlace]\n"
    "                         [--json | --csv] [-o DIR [--format png|jpg|tif|bmp] [--jpeg-quality J]\n"
    "                         [--name PATTERN] [--tiff-deflate] [--no-origin] [--force]]\n"
    "       tessaron-cli pick [FILE] --scores SCORES RULE... (FILE needed with -o)\n"
    "\n"
    "Scores every frame of FILE as rank does (--score jpeg: JPEG size at quality Q, default 25;\n"
    "--score sharpness: the variance of the Laplacian of the luma; --score local-sharpness: its highest\n"
    "value among windows of the picture), only the box with --box, and\n"
    "chooses frames:\n"
    "  --every T      the best frame of every T seconds (0.5s, 300ms): frames whose time falls in [kT, (k+1)T)\n"
    "  --every K      the best frame of every K frames: frames kK ... kK+K-1\n"
    "  --count N      the best frame of each of N equal windows over the whole video\n"
    "  --best N       the best N frames, none fewer than G frames (--min-gap G) from another\n"
    "  --min-relative R  leaves out frames whose JPEG (or sharpness) is below R x the median of their window\n"
    "  --min-change D    leaves out a frame whose picture differs from the last one picked by less than D:\n"
    "                    the mean absolute difference of 32x18 luma thumbnails, 0 to 255 (rank --json\n"
    "                    shows it between neighbours as \"change\"); a window takes its best frame that\n"
    "                    differs enough, or none; --best compares with the picks next to it in time\n"
    "  --max N           thins the picks to the best one in each of N equal spans of time\n"
    "  --from, --to      only the frames from F (a frame number) or T (4.5s, 300ms) up to, not including,\n"
    "                    the end given; the rule works as if the video began at --from\n"
    "  --scores SCORES   takes the scores from rank --csv or --json output (or a batch's scores.csv)\n"
    "                    instead of decoding; with -o only the frames written are decoded\n"
    "The best frame is the first in rank's order (the smallest JPEG score or the highest sharpness, ties\n"
    "to the earlier frame). The chosen frames are printed in frame order: \"frame time score file\" per\n"
    "line, --csv with a header, or --json: {\"rule\", \"quality\", \"scoreKind\", \"frameCount\",\n"
    "\"frames\": [{\"frame\", \"time\", \"score\", \"file\"}]}. For sharpness {score} in names and\n"
    "frames.csv is the variance rounded to a whole number.\n"
    "With -o DIR they are written into the folder DIR (made when missing) as images (default PNG) named by PATTERN\n"
    "({stem} {frame} {time} {rank} {score}; default {stem}_{frame}.png), with frames.csv beside them;\n"
    "existing files are replaced only with --force. Every PNG, JPEG and TIFF carries the video's name, the\n"
    "frame and its time, and the camera, recording time and GPS place the video holds (EXIF/XMP; not with\n"
    "--no-origin); frames.csv lists the same. A progress line goes to standard error when it is a\n"
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
    line.options.push_back({"--scores", nullptr, "a file of rank --csv or --json output", [&](const std::string& f) {
                                job.scoresFile = f;
                                return f.empty() ? std::string("the scores file name is empty") : std::string();
                            }});
    line.positional = cli::Collect(&positional);
    if (const std::optional<int> status = cli::ParseCommandLine(line, args)) return *status;
    const bool saved = !job.scoresFile.empty();
    if (positional.size() > 1 || (positional.empty() && !saved))
        return cli::Usage("pick", "expected one FILE" + cli::TryHelp("pick"));
    if (positional.empty() && haveOutput) return cli::Usage("pick", "-o needs the video FILE to write from");
    if (const std::string bad = cli::CheckPickOptions(job, false); !bad.empty())
        return cli::Usage("pick", bad + (job.rules != 1 ? cli::TryHelp("pick") : std::string()));
    if (json && csv) return cli::Usage("pick", "--json and --csv cannot both be given");
    if (!haveOutput && (job.image.haveFormat || !job.image.settings.pattern.empty()))
        return cli::Usage("pick", "image options need an output folder (-o DIR)");
    const std::string path = positional.empty() ? std::string() : positional[0];
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
            if (IsSharpnessKind(job.scoring.kind))
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
