// tessaron-cli frame FILE N -o OUT.bmp [--deinterlace] [--force]: one frame, read as the view reads
// it, saved as a BMP file.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "fileio/OutputCheck.h"
#include "image/dib.h"
#include "video/FrameBitmap.h"
#include "video/VideoFrameReader.h"

namespace {

const char kUsage[] =
    "usage: tessaron-cli frame FILE N -o OUT.bmp [--deinterlace] [--force]\n"
    "\n"
    "Reads frame N (0-based) of FILE and saves it as a 24-bit BMP file. --deinterlace\n"
    "line-interpolates the frame as the \"Deinterlace images\" preference does (frames from the\n"
    "media detector only). An existing OUT.bmp is replaced only with --force; FILE itself never is.\n";

}  // namespace

int CmdFrame(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::string output;
    bool haveOutput = false;
    bool deinterlace = false;
    bool force = false;
    cli::CommandLine line{"frame", kUsage, {}, {}, true};
    line.options.push_back({"-o", nullptr, "a file name", [&](const std::string& name) {
                                output = name;
                                haveOutput = true;
                                return std::string();
                            }});
    line.options.push_back(cli::Flag("--deinterlace", &deinterlace));
    line.options.push_back(cli::Flag("--force", &force));
    line.positional = cli::Collect(&positional);
    if (const std::optional<int> status = cli::ParseCommandLine(line, args)) return *status;
    if (positional.size() != 2) return cli::Usage("frame", "expected FILE and N" + cli::TryHelp("frame"));
    if (!haveOutput || output.empty()) return cli::Usage("frame", "no output file given (-o OUT.bmp)");
    const std::string& path = positional[0];
    int32_t index = 0;
    if (!cli::ParseInt32(positional[1], &index))
        return cli::Usage("frame", "'" + positional[1] + "' is not a frame number");
    // The output is checked before anything is decoded; a missing folder is made.
    if (const int status = cli::MakeFolders("frame", FolderOfPath(output))) return status;
    const std::string problem = OutputPathProblem(output, path, force);
    if (!problem.empty()) return cli::Fail("frame", problem, cli::OutputProblemStatus(output));
    cli::StopSignals stopSignals;

    VideoFrameReader reader;
    reader.SetDeinterlace(deinterlace ? 1 : 0);
    FrameInfo* info = cli::OpenVideoOrFail("frame", reader, path);
    if (!info) return 1;
    if (index < 0 || index >= info->frameCount) {
        reader.Close(*info);
        return cli::Fail("frame", path + ": no frame " + std::to_string(index) + "; the video has " +
                                      std::to_string(info->frameCount) + " frames (0.." +
                                      std::to_string(info->frameCount - 1) + ")");
    }

    reader.SetDeinterlace(deinterlace ? 1 : 0);
    FrameBlockPtr block(reader.ReadFrame(*info, index));
    if (!block) {
        reader.Close(*info);
        return cli::Fail("frame", path + ": frame " + std::to_string(index) + " cannot be decoded");
    }
    if (cli::StopSignals::Requested()) {
        reader.Close(*info);
        return cli::Fail("frame", "terminated before the frame was saved: nothing was written to " + output,
                         cli::kExitTempFail);
    }
    FrameBitmap bitmap;
    bitmap.Attach(block.get(), info->frameBlockSize);
    bool saved = bitmap.SaveAsBmp(output.c_str());
    reader.Close(*info);
    if (!saved) {
        std::string why = bitmap.LastSaveError();
        return cli::Fail("frame", "cannot write " + output + (why.empty() ? std::string() : ": " + why),
                         cli::kExitTempFail);
    }
    return 0;
}
