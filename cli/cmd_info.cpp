// tessaron-cli info FILE [--json]: what the reader learns when it opens a video.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "video/VideoFrameReader.h"

namespace {

const char kUsage[] =
    "usage: tessaron-cli info FILE [--json]\n"
    "\n"
    "Opens FILE as the program does and prints the back end (media or avi), the frame width and\n"
    "height, the frame count, the frames per second and the first frame. --json prints one JSON\n"
    "object with the keys backend, width, height, frameCount, framesPerSecond and firstFrame.\n";

}  // namespace

int CmdInfo(const std::vector<std::string>& args)
{
    if (cli::WantsHelp(args)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string path;
    bool json = false;
    for (const std::string& a : args) {
        if (a == "--json") {
            json = true;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return cli::Fail("info", "unknown option '" + a + "'; try 'tessaron-cli info --help'");
        } else if (path.empty()) {
            path = a;
        } else {
            return cli::Fail("info", "more than one file given");
        }
    }
    if (path.empty()) return cli::Fail("info", "no file given; try 'tessaron-cli info --help'");

    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    std::string reason;
    if (!cli::OpenVideo(reader, path, &info, &reason)) return cli::Fail("info", path + ": " + reason);

    const char* backend = info->useMediaDetector ? "media" : "avi";
    std::string fps = cli::FormatDouble(info->framesPerSecond);
    if (json) {
        std::printf("{\"backend\":\"%s\",\"width\":%d,\"height\":%d,\"frameCount\":%d,\"framesPerSecond\":%s,"
                    "\"firstFrame\":%d}\n",
                    backend, info->width, info->height, info->frameCount, fps.c_str(), info->firstFrame);
    } else {
        std::printf("backend: %s\nwidth: %d\nheight: %d\nframeCount: %d\nframesPerSecond: %s\nfirstFrame: %d\n",
                    backend, info->width, info->height, info->frameCount, fps.c_str(), info->firstFrame);
    }
    reader.Close(*info);
    return std::fflush(stdout) == 0 ? 0 : cli::Fail("info", "cannot write to standard output");
}
