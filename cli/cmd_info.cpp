// tessaron-cli info FILE [--json]: what the reader learns when it opens a video.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "cli/Json.h"
#include "video/VideoFrameReader.h"

namespace {

const char kUsage[] =
    "usage: tessaron-cli info FILE [--json]\n"
    "\n"
    "Opens FILE as the program does and prints the back end (media or avi), the frame width and\n"
    "height (upright), the frame count (the pictures of the video), the frames per second, the first\n"
    "frame, the rotation (degrees clockwise that turn the stored pictures upright) and whether they\n"
    "are mirrored. --json prints one JSON object with the keys backend, width, height, frameCount,\n"
    "framesPerSecond, firstFrame, rotation and mirrored.\n";

}  // namespace

int CmdInfo(const std::vector<std::string>& args) {
    std::string path;
    bool json = false;
    cli::CommandLine line{"info", kUsage, {}, {}};
    line.options.push_back(cli::Flag("--json", &json));
    line.positional = [&](const std::string& arg) {
        if (!path.empty()) return std::string("more than one file given");
        path = arg;
        return std::string();
    };
    if (const std::optional<int> status = cli::ParseCommandLine(line, args)) return *status;
    if (path.empty()) return cli::Usage("info", "no file given" + cli::TryHelp("info"));

    VideoFrameReader reader;
    FrameInfo* info = cli::OpenVideoOrFail("info", reader, path);
    if (!info) return 1;

    const char* backend = info->useMediaDetector ? "media" : "avi";
    std::string fps = cli::FormatDouble(info->framesPerSecond);
    if (json) {
        cli::Json out;
        out["backend"] = backend;
        out["width"] = info->width;
        out["height"] = info->height;
        out["frameCount"] = info->frameCount;
        out["framesPerSecond"] = info->framesPerSecond;
        out["firstFrame"] = info->firstFrame;
        out["rotation"] = info->rotation;
        out["mirrored"] = info->mirrored;
        std::printf("%s\n", cli::JsonText(out, cli::JsonLayout::Compact).c_str());
    } else {
        std::printf(
            "backend: %s\nwidth: %d\nheight: %d\nframeCount: %d\nframesPerSecond: %s\nfirstFrame: %d\nrotation: %d\n"
            "mirrored: %s\n",
            backend, info->width, info->height, info->frameCount, fps.c_str(), info->firstFrame, info->rotation,
            info->mirrored ? "yes" : "no");
    }
    reader.Close(*info);
    return std::fflush(stdout) == 0 ? 0 : cli::Fail("info", "cannot write to standard output", cli::kExitTempFail);
}
