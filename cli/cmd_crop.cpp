// tessaron-cli crop FILE --box X1,Y1,X2,Y2 -o OUT.avi [--force]: the box of every frame written to a
// new uncompressed AVI file, as "Crop and Save" does.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "cli/WriteJob.h"
#include "output/FrameExport.h"
#include "video/VideoFrameReader.h"

namespace {

const char kUsage[] =
    "usage: tessaron-cli crop FILE --box X1,Y1,X2,Y2 -o OUT.avi [--force]\n"
    "\n"
    "Writes the box with corners (X1,Y1) and (X2,Y2) of every frame of FILE to OUT.avi as uncompressed\n"
    "24-bit frames at the source's frame rate. Corners are pixel positions counted from the top left\n"
    "of the picture, in either order; the right and bottom edges are not part of the box, so 0,0,W,H is\n"
    "the whole frame. OUT.avi gets FILE's modification time. An existing OUT.avi is replaced only with\n"
    "--force; FILE itself never is. Frames that cannot be read are left out and listed on standard\n"
    "error (exit status 1). Ctrl+C (or SIGTERM, SIGHUP) stops and leaves a complete file with the frames\n"
    "written so far; a file that was to be replaced stays as it was then.\n";

}  // namespace

int CmdCrop(const std::vector<std::string>& args) {
    cli::WriteJob job;
    job.command = "crop";
    std::vector<std::string> positional;
    int32_t corners[4] = {0, 0, 0, 0};
    bool haveBox = false;
    cli::CommandLine line = cli::WriteJobCommandLine(job, kUsage, positional);
    line.options.push_back({"--box", nullptr, "X1,Y1,X2,Y2", [&](const std::string& box) {
                                haveBox = cli::ParseBox(box, corners);
                                return haveBox ? std::string() : "'" + box + "' is not a box X1,Y1,X2,Y2";
                            }});
    if (const std::optional<int> status = cli::ParseCommandLine(line, args)) return *status;
    if (positional.size() != 1) return cli::Usage("crop", "expected one FILE" + cli::TryHelp("crop"));
    if (!haveBox) return cli::Usage("crop", "no box given (--box X1,Y1,X2,Y2)");
    job.source = positional[0];

    const CropRect box = NormalizeCropBox(corners[0], corners[1], corners[2], corners[3]);
    const auto validate = [&box](const FrameInfo& info) -> std::string {
        const std::string frame = std::to_string(info.width) + "x" + std::to_string(info.height);
        if (box.Empty()) return "the box is empty (it needs a width and a height)";
        if (box.left < 0 || box.top < 0 || box.right > info.width || box.bottom > info.height)
            return "the box " + std::to_string(box.left) + "," + std::to_string(box.top) + "," +
                   std::to_string(box.right) + "," + std::to_string(box.bottom) + " is not inside the " + frame +
                   " frame";
        return std::string();
    };
    const auto write = [&corners](VideoFrameReader& reader, FrameInfo& info, const ExportTarget& target,
                                  const ExportCallbacks& callbacks) {
        return CropAndSave(reader, info, corners[0], corners[1], corners[2], corners[3], target, callbacks);
    };
    return cli::RunWriteJob(job, validate, write);
}
