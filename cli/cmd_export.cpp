// tessaron-cli export FILE --frames 7,2,5 -o OUT.avi [--force]: the chosen frames, whole and in the
// order given (decoded in ascending order), written to a new uncompressed AVI file, as "Create AVI video file from
// checked frames" does. Also the part that tessaron-cli crop shares: checking the output and running the write.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "cli/CliCommon.h"
#include "cli/ImageJob.h"
#include "cli/PickJob.h"
#include "cli/WriteJob.h"
#include "fileio/OutputCheck.h"
#include "output/FrameExport.h"
#include "video/VideoFrameReader.h"

namespace {

const char kUsage[] =
    "usage: tessaron-cli export FILE (--frames N[,N...] | --from T|F | --to T|F) -o OUT.avi [--force]\n"
    "       tessaron-cli export FILE (--frames N[,N...] | --from T|F | --to T|F) -o DIR/ [--format png|jpg|tif|bmp]\n"
    "                           [--jpeg-quality J] [--name PATTERN] [--box X1,Y1,X2,Y2] [--tiff-deflate]\n"
    "                           [--deinterlace] [--no-origin] [--force]\n"
    "\n"
    "--from and --to (a frame number F or a time T such as 4.5s; --to not included) limit the export to a\n"
    "range: every frame of it, or with --frames the listed frames that lie in it.\n"
    "\n"
    "With --format, or an -o that ends in / or names a folder, the frames are written into that folder\n"
    "as image files instead, as tessaron-cli pick -o writes them ({rank} is the position in the list,\n"
    "{score} is 0), with frames.csv beside them.\n"
    "\n"
    "Writes the listed frames of FILE (0-based numbers, in the order given, repeats allowed) whole to\n"
    "OUT.avi as uncompressed 24-bit frames at the source's frame rate. OUT.avi gets FILE's modification\n"
    "time. An existing OUT.avi is replaced only with --force; FILE itself never is. Frames that cannot\n"
    "be read are left out and listed on standard error (exit status 1). Each frame is decoded once, in\n"
    "ascending order, whatever the order of the list. Ctrl+C (or SIGTERM, SIGHUP) stops the export and\n"
    "leaves a complete file with the listed frames up to the first one not yet written; a file that was\n"
    "to be replaced stays as it was then, as it does when the writing fails.\n";

bool ParseFrameList(const std::string& text, std::vector<int32_t>* frames) {
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int32_t frame = 0;
        if (!cli::ParseInt32(item, &frame)) return false;
        frames->push_back(frame);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

}  // namespace

namespace cli {

CommandLine WriteJobCommandLine(WriteJob& job, const char* usage, std::vector<std::string>& positional) {
    CommandLine line{job.command, usage, {}, {}};
    line.options.push_back({"-o", nullptr, "a file name", [&job](const std::string& name) {
                                job.output = name;
                                return std::string();
                            }});
    line.options.push_back(Flag("--force", &job.force));
    line.positional = Collect(&positional);
    return line;
}

int RunWriteJob(const WriteJob& job, const std::function<std::string(const FrameInfo&)>& validate,
                const std::function<ExportOutcome(VideoFrameReader&, FrameInfo&, const ExportTarget&,
                                                  const ExportCallbacks&)>& write) {
    const std::string command = job.command;
    if (job.output.empty()) return Usage(command, "no output file given (-o OUT.avi)");

    // Before anything is decoded: the source, a file there without --force, anything but a regular
    // file, a link loop, a name too long. A missing folder is made.
    if (const int status = MakeFolders(command, FolderOfPath(job.output))) return status;
    const std::string problem = OutputPathProblem(job.output, job.source, job.force);
    if (!problem.empty()) return Fail(command, problem, OutputProblemStatus(job.output));

    struct stat sourceStat {};
    VideoFrameReader reader;
    FrameInfo* info = OpenVideoOrFail(command, reader, job.source);
    if (!info) return 1;
    if (::stat(job.source.c_str(), &sourceStat) != 0) {
        reader.Close(*info);
        return Fail(command, job.source + ": cannot read its modification time");
    }
    const std::string refusal = validate(*info);
    if (!refusal.empty()) {
        reader.Close(*info);
        return Fail(command, job.source + ": " + refusal);
    }

    ExportTarget target;
    target.path = job.output.c_str();
    target.sourcePath = job.source.c_str();
    target.sourceModified = &sourceStat.st_mtim;

    const bool progress = ::isatty(STDERR_FILENO) == 1;
    ExportCallbacks callbacks;
    callbacks.keepGoing = [] { return !StopSignals::Requested(); };
    if (progress)
        callbacks.progress = [](int32_t position, int32_t frame) {
            std::fprintf(stderr, "\rwriting frame %d (output frame %d)", frame, position);
        };
    ExportOutcome outcome;
    {
        StopSignals stopSignals;
        outcome = write(reader, *info, target, callbacks);
    }
    if (progress) std::fputs("\r\033[K", stderr);
    reader.Close(*info);

    int status = ReportExportStop(command, outcome, job.output);
    if (!outcome.stampError.empty() && outcome.written) {
        Fail(command, "cannot give " + job.output + " the source's modification time: " + outcome.stampError);
        if (status == kExitOk) status = kExitTempFail;
    }
    if (outcome.written)
        std::printf("%s: %d %s written\n", job.output.c_str(), outcome.framesWritten,
                    outcome.framesWritten == 1 ? "frame" : "frames");
    return status;
}

}  // namespace cli

int CmdExport(const std::vector<std::string>& args) {
    cli::WriteJob job;
    job.command = "export";
    std::vector<std::string> positional;
    std::vector<int32_t> frames;
    bool haveFrames = false;
    cli::CommandLine line = cli::WriteJobCommandLine(job, kUsage, positional);
    line.options.push_back({"--frames", nullptr, "a list such as 7,2,5", [&](const std::string& list) {
                                haveFrames = ParseFrameList(list, &frames);
                                return haveFrames ? std::string()
                                                  : "'" + list + "' is not a list of frame numbers such as 7,2,5";
                            }});
    cli::ImageJob images;
    images.command = "export";
    cli::AddImageOptions(line, images);
    cli::FrameRange range;
    cli::AddRangeOptions(line, range);
    if (const std::optional<int> status = cli::ParseCommandLine(line, args)) return *status;
    if (positional.size() != 1) return cli::Usage("export", "expected one FILE" + cli::TryHelp("export"));
    const bool haveRange = range.from.set || range.to.set;
    if (!haveFrames && !haveRange) return cli::Usage("export", "no frames given (--frames 7,2,5, or --from and --to)");
    job.source = positional[0];
    if (haveRange) {
        // The range becomes a list: its frames, or the listed frames inside it.
        VideoFrameReader reader;
        FrameInfo* info = cli::OpenVideoOrFail("export", reader, job.source);
        if (!info) return 1;
        int32_t begin = 0, end = 0;
        const std::string bad = cli::ResolveRange(range, reader.FrameTimes(), info->frameCount, &begin, &end);
        end = std::min(end, info->frameCount);
        reader.Close(*info);
        if (!bad.empty()) return cli::Fail("export", job.source + ": " + bad);
        if (haveFrames) {
            std::erase_if(frames, [&](int32_t frame) { return frame < begin || frame >= end; });
            if (frames.empty()) return cli::Fail("export", job.source + ": none of the frames listed is in the range");
        } else {
            for (int32_t frame = begin; frame < end; ++frame) frames.push_back(frame);
        }
    }
    std::error_code ec;
    if (images.haveFormat || (!job.output.empty() && job.output.back() == '/') ||
        std::filesystem::is_directory(job.output, ec)) {
        if (job.output.empty()) return cli::Usage("export", "no output folder given (-o DIR/)");
        images.folder = job.output;
        if (const int status = cli::MakeFolders("export", images.folder)) return status;
        images.force = job.force;
        VideoFrameReader reader;
        reader.SetDeinterlace(images.deinterlace ? 1 : 0);
        FrameInfo* info = cli::OpenVideoOrFail("export", reader, job.source);
        if (!info) return 1;
        reader.SetDeinterlace(images.deinterlace ? 1 : 0);
        std::string refusal = cli::CheckImageBox(images, *info);
        std::vector<ImageItem> items;
        for (size_t i = 0; i < frames.size() && refusal.empty(); ++i) {
            if (frames[i] < 0 || frames[i] >= info->frameCount)
                refusal = "frame " + std::to_string(frames[i]) + " is outside the video (frames 0 to " +
                          std::to_string(info->frameCount - 1) + ")";
            items.push_back({frames[i], int32_t(i), 0});
        }
        if (!refusal.empty()) {
            reader.Close(*info);
            return cli::Fail("export", job.source + ": " + refusal);
        }
        const int status = cli::WriteImages(images, reader, *info, job.source, items, stdout);
        reader.Close(*info);
        return status;
    }
    if (images.haveBox || images.deinterlace || !images.settings.pattern.empty())
        return cli::Usage("export", "--box, --deinterlace and --name go with image output (--format)");

    const auto validate = [&frames](const FrameInfo& info) -> std::string {
        for (int32_t frame : frames) {
            if (frame < 0 || frame >= info.frameCount)
                return "frame " + std::to_string(frame) + " is outside the video (frames 0 to " +
                       std::to_string(info.frameCount - 1) + ")";
        }
        return std::string();
    };
    const auto write = [&frames](VideoFrameReader& reader, FrameInfo& info, const ExportTarget& target,
                                 const ExportCallbacks& callbacks) {
        return ExportCheckedFrames(reader, info, frames.data(), static_cast<int32_t>(frames.size()), target, callbacks);
    };
    return cli::RunWriteJob(job, validate, write);
}
