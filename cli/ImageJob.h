// The image-file output that tessaron-cli pick and export share: the options (--format,
// --jpeg-quality, --name, --box, --tiff-deflate, --deinterlace), the write with its progress line and
// Ctrl+C, and the report.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "output/ImageFiles.h"

namespace cli {

struct ImageJob {
    const char* command = "";
    std::string folder;  // -o
    bool force = false;
    bool haveFormat = false;
    bool haveBox = false;
    bool deinterlace = false;
    int32_t corners[4] = {0, 0, 0, 0};
    ImageExportSettings settings;
};

// Adds the image options to line (not -o and --force, which each command names itself).
void AddImageOptions(CommandLine& line, ImageJob& job);

// Checks the box against the frame; an error message, empty when fine.
std::string CheckImageBox(const ImageJob& job, const FrameInfo& info);

// Writes items from the open video into job.folder and reports on standard error; returns the exit
// status (0 only when every item was written and frames.csv too). sourcePath gives {stem}. The line
// saying how many were written goes to report (pick keeps standard output for its list), unless null.
// *message (when given) receives the first failure told. A batch passes progress false. *writtenItems
// (when given) receives the positions in items whose files were written, after a failure too.
int WriteImages(ImageJob& job, VideoFrameReader& reader, FrameInfo& info, const std::string& sourcePath,
                const std::vector<ImageItem>& items, FILE* report, std::string* message = nullptr, bool progress = true,
                std::vector<int32_t>* writtenItems = nullptr);

}  // namespace cli
