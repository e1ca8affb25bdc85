#include "cli/ImageJob.h"

#include <cstdio>

#include <unistd.h>

#include "fileio/OutputCheck.h"
#include "output/FrameExport.h"
#include "video/VideoFrameReader.h"

namespace cli {

void AddImageOptions(CommandLine& line, ImageJob& job) {
    line.options.push_back({"--format", nullptr, "png, jpg, tif or bmp", [&job](const std::string& value) {
                                job.haveFormat = ParseImageFormat(value, &job.settings.encoding.format);
                                return job.haveFormat ? std::string() : "unknown image format '" + value + "'";
                            }});
    line.options.push_back({"--jpeg-quality", nullptr, "a value from 1 to 100", [&job](const std::string& value) {
                                int32_t q = 0;
                                if (ParseInt32(value, &q) && q >= 1 && q <= 100) {
                                    job.settings.encoding.jpegQuality = q;
                                    return std::string();
                                }
                                return "JPEG quality '" + value + "' is not a whole number from 1 to 100";
                            }});
    line.options.push_back({"--name", nullptr, "a pattern such as {stem}_{frame}.png", [&job](const std::string& v) {
                                job.settings.pattern = v;
                                return v.empty() ? std::string("the name pattern is empty") : std::string();
                            }});
    line.options.push_back({"--box", nullptr, "X1,Y1,X2,Y2", [&job](const std::string& box) {
                                job.haveBox = cli::ParseBox(box, job.corners);
                                return job.haveBox ? std::string() : "'" + box + "' is not a box X1,Y1,X2,Y2";
                            }});
    line.options.push_back(Flag("--tiff-deflate", &job.settings.encoding.tiffDeflate));
    line.options.push_back({"--no-origin", nullptr, nullptr, [&job](const std::string&) {
                                job.settings.origin = false;
                                return std::string();
                            }});
    line.options.push_back(Flag("--deinterlace", &job.deinterlace));
}

std::string CheckImageBox(const ImageJob& job, const FrameInfo& info) {
    if (!job.haveBox) return std::string();
    const CropRect box = NormalizeCropBox(job.corners[0], job.corners[1], job.corners[2], job.corners[3]);
    if (box.Empty()) return "the box is empty (it needs a width and a height)";
    if (box.left < 0 || box.top < 0 || box.right > info.width || box.bottom > info.height)
        return "the box is not inside the " + std::to_string(info.width) + "x" + std::to_string(info.height) + " frame";
    return std::string();
}

int WriteImages(ImageJob& job, VideoFrameReader& reader, FrameInfo& info, const std::string& sourcePath,
                const std::vector<ImageItem>& items, FILE* report, std::string* message, bool progress,
                std::vector<int32_t>* writtenItems) {
    const std::string command = job.command;
    job.settings.folder = job.folder;
    job.settings.stem = FileStem(sourcePath);
    job.settings.source = sourcePath;
    job.settings.replace = job.force;
    job.settings.useBox = job.haveBox;
    if (job.haveBox)
        job.settings.box = NormalizeCropBox(job.corners[0], job.corners[1], job.corners[2], job.corners[3]);

    // Every file is checked before a frame is decoded: a name the file system cannot take, anything but
    // a regular file in the way, the video itself (an existing file without --force the export refuses).
    std::string planError;
    for (const std::string& path : PlannedImagePaths(reader, info, items, job.settings, &planError)) {
        const std::string problem = OutputPathProblem(path, sourcePath, true);
        if (!problem.empty()) {
            if (message) *message = problem;
            return Fail(command, problem, OutputProblemStatus(path));
        }
    }

    ProgressLine progressLine("writing", progress);
    int64_t done = 0;
    ExportCallbacks callbacks;
    callbacks.keepGoing = [] { return !StopSignals::Requested(); };
    callbacks.progress = [&](int32_t, int32_t) { progressLine.Update(++done, int64_t(items.size())); };
    ExportOutcome outcome;
    {
        StopSignals stopSignals;
        outcome = ExportImageFiles(reader, info, items, job.settings, callbacks);
    }
    progressLine.Clear();
    if (writtenItems) *writtenItems = outcome.writtenItems;

    const int status = ReportExportStop(command, outcome, job.folder, message);
    if (outcome.written && report)
        std::fprintf(report, "%s: %d %s written\n", job.folder.c_str(), outcome.framesWritten,
                     outcome.framesWritten == 1 ? "image" : "images");
    return status;
}

}  // namespace cli
