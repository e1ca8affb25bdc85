// Image files out through tessaron-cli export and pick: every format decodes (Pillow) to the pixels of
// tessaron-cli frame for that frame, crop box and deinterlace included; JPEG sizes equal cjpeg's with
// the same sampling; names, frames.csv, refusal without --force, a write that fails part way, and a
// disk that fills up part way through a set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "output/ImageFiles.h"
#include "tests/ops/OpsTestSupport.h"
#include "tests/support/TestCli.h"

using namespace opstest;

namespace {

const std::string kCli = TESSARON_CLI;

// The picture of an image file as top-down BGR rows, decoded by Pillow.
Bytes DecodeWithPillow(const std::string& path) {
    const CommandRun r = RunCapture(
        "/usr/bin/python3 -c 'import sys; from PIL import Image; "
        "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert(\"RGB\").tobytes())' " +
        ShellQuote(path));
    Bytes bgr(r.out.begin(), r.out.end());
    for (size_t i = 0; i + 2 < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
    return bgr;
}

// tessaron-cli frame's picture of frame as top-down BGR rows.
Bytes CliFrame(const std::string& video, int frame, bool deinterlace, int width, int height) {
    const std::string bmp = Scratch("ref-" + std::to_string(frame) + (deinterlace ? "-d" : "") + ".bmp");
    if (RunCli(kCli,
               "frame " + ShellQuote(video) + " " + std::to_string(frame) + " --force -o " + ShellQuote(bmp) +
                   (deinterlace ? " --deinterlace" : ""),
               true)
            .status != 0)
        return {};
    const Bytes file = ReadFileBytes(bmp);
    return file.size() >= 54 + size_t(height) * ((3 * width + 3) & ~3) ? PictureOf(file.data() + 14, width, height)
                                                                       : Bytes();
}

// The size of a JPEG file without its APP1 segments (the EXIF and XMP of the frame's origin): what
// cjpeg makes of the same pixels.
long JpegSizeWithoutMetadata(const Bytes& jpeg) {
    long size = long(jpeg.size());
    for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA;) {
        const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (jpeg[at + 1] == 0xE1) size -= long(2 + length);
        at += 2 + length;
    }
    return size;
}

}  // namespace

TEST(ImageFiles, EveryFormatHoldsTheFramesPixels) {
    TestVideoRecipe recipe;
    recipe.name = "image-files-combed";
    recipe.width = 66;  // rows not a multiple of 4 bytes
    recipe.height = 40;
    recipe.frames = 10;
    recipe.combed = true;
    const std::string video = MakeTestVideo(recipe);
    ASSERT_FALSE(video.empty());
    struct Row {
        const char* args;
        const char* extension;
        int jpegQuality;  // > 0: compare the size with cjpeg instead of the pixels
        bool deinterlace;
        bool box;
    };
    const Row rows[] = {
        {"--format png", "png", 0, false, false},
        {"--format png --deinterlace --box 50,3,7,31", "png", 0, true, true},
        {"--format tif", "tif", 0, false, false},
        {"--format tif --tiff-deflate --box 7,31,50,3", "tif", 0, false, true},
        {"--format bmp --deinterlace", "bmp", 0, true, false},
        {"--format jpg --jpeg-quality 50", "jpg", 50, false, false},
        {"--format jpg --jpeg-quality 95 --box 50,3,7,31", "jpg", 95, false, true},
    };
    const int frames[] = {7, 2};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        const std::string dir = Scratch(std::string("images-") + row.args);
        ASSERT_EQ(RunCommand("rm -rf " + ShellQuote(dir) + " && mkdir -p " + ShellQuote(dir)), 0);
        const CommandRun r = RunCli(
            kCli, "export " + ShellQuote(video) + " --frames 7,2 -o " + ShellQuote(dir + "/") + " " + row.args, true);
        ASSERT_EQ(r.status, 0) << r.err;
        const int left = row.box ? 7 : 0, top = row.box ? 3 : 0;
        const int right = row.box ? 50 : recipe.width, bottom = row.box ? 31 : recipe.height;
        std::string csv = "file,frame,time,score,width,height,source,make,model,recorded,latitude,longitude,altitude\n";
        for (int frame : frames) {
            const std::string name = FileStem(video) + "_" + std::to_string(frame) + "." + row.extension;
            const Bytes whole = CliFrame(video, frame, row.deinterlace, recipe.width, recipe.height);
            const Bytes expected = BoxOf(whole, recipe.width, left, top, right, bottom);
            ASSERT_FALSE(expected.empty());
            if (row.jpegQuality > 0) {
                EXPECT_EQ(JpegSizeWithoutMetadata(ReadFileBytes(dir + "/" + name)),
                          CjpegSize(expected, right - left, bottom - top, row.jpegQuality,
                                    row.jpegQuality >= 90 ? "-sample 1x1" : ""));
            } else {
                EXPECT_TRUE(DecodeWithPillow(dir + "/" + name) == expected) << name;
            }
            char line[128];
            std::snprintf(line, sizeof line, ",%d,%.6f,0,%d,%d,", frame, frame * 0.04, right - left, bottom - top);
            csv += name + line + video.substr(video.rfind('/') + 1) + ",,,,,,\n";
        }
        EXPECT_EQ(ReadFileText(dir + "/frames.csv"), csv);
        EXPECT_EQ(FilesIn(dir).size(), 3u);
    }
}

TEST(ImageFiles, NamesRefusalsAndAFailedWrite) {
    EXPECT_EQ(FormatFrameTime(3723.4567), "01-02-03.457");
    ImageNameFields fields{"clip", 7, 1000, 62.345, 3, 4711};
    EXPECT_EQ(ExpandImageName("{stem}_{frame}_{time}_{rank}_{score}{x}.png", fields),
              "clip_007_00-01-02.345_3_4711{x}.png");
    EXPECT_EQ(FileStem("/a.b/clip.final.mp4"), "clip.final");

    const std::string video = MakeTestVideo("image-files-plain", 320, 240, 6);
    ASSERT_FALSE(video.empty());
    const std::string dir = Scratch("images-again");
    ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(dir)), 0);
    const std::string args = "pick " + ShellQuote(video) + " --count 2 --csv -o " + ShellQuote(dir) +
                             " --name f{rank}.bmp";
    CommandRun r = RunCli(kCli, args, true);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesIn(dir).size(), 3u);
    const uint64_t before = FileHash(dir + "/frames.csv");
    // A second run refuses before writing anything; --force replaces.
    r = RunCli(kCli, args, true);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("exists"), std::string::npos) << r.err;
    EXPECT_EQ(FileHash(dir + "/frames.csv"), before);
    EXPECT_EQ(RunCli(kCli, args + " --force", true).status, 0);
    // Two frames to one name are refused.
    ExpectOneLineError(RunCli(kCli,
                              "export " + ShellQuote(video) + " --frames 1,2 -o " + ShellQuote(dir) +
                                  "/ --name same.png --force",
                              true),
                       "same.png");

    // A file system that takes no more than 100 KB a file: the 230 KB BMP fails with the file and the
    // reason, nothing half-written stays.
    const std::string full = Scratch("images-full");
    ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(full)), 0);
    struct Result {
        int stop = -1, written = -1;
        char reason[200] = {};
    } result;
    RunInChild(result, 100000, [&](Result& out) {
        VideoFrameReader reader;
        FrameInfo& info = reader.Open(video.c_str());
        ImageExportSettings settings;
        settings.folder = full;
        settings.stem = "v";
        settings.encoding.format = ImageFormat::Bmp;
        const ExportOutcome outcome = ExportImageFiles(reader, info, {{1, 0, 0}, {2, 1, 0}}, settings, {});
        out.stop = int(outcome.stop);
        out.written = outcome.framesWritten;
        std::snprintf(out.reason, sizeof out.reason, "%s", outcome.reason.c_str());
        reader.Close(info);
    });
    EXPECT_EQ(result.stop, int(ExportStop::WriteFailed));
    EXPECT_EQ(result.written, 0);
    EXPECT_NE(std::string(result.reason).find(full + "/v_1.bmp: File too large"), std::string::npos) << result.reason;
    EXPECT_TRUE(FilesIn(full).empty());
}

// A clip whose frames carry a noise strip of known width: more noise, a bigger JPEG, a better frame.
// tessaron-cli pick must choose what the rules give on those known detail levels.
TEST(ImageFiles, PickChoosesTheFramesOfKnownDetail) {
    const int width = 320, height = 240, frames = 40;
    std::vector<int> detail(frames);
    for (int f = 0; f < frames; ++f) detail[f] = (f * 17 + 5) % frames;  // a permutation: no ties
    std::vector<Bytes> pictures;
    uint32_t noise = 1;
    for (int f = 0; f < frames; ++f) {
        Bytes picture = DrawFramePicture(f, width, height);
        for (int y = height / 2; y < height; ++y)
            for (int x = 0; x < 3 + 7 * detail[f]; ++x)
                for (int c = 0; c < 3; ++c)
                    picture[size_t(3 * (y * width + x) + c)] = uint8_t((noise = noise * 1103515245 + 12345) >> 24);
        pictures.push_back(std::move(picture));
    }
    const std::string video = MakeVideo("pick-detail", width, height, pictures);
    ASSERT_FALSE(video.empty());
    const auto bestOf = [&](int begin, int end) {
        int best = begin;
        for (int f = begin; f < end; ++f) best = detail[f] > detail[best] ? f : best;
        return best;
    };
    std::vector<std::pair<std::string, std::vector<int>>> rows;
    std::vector<int> expected;
    for (int k = 0; k * 25 < frames * 2; ++k)
        expected.push_back(bestOf((k * 25 + 1) / 2, std::min(frames, ((k + 1) * 25 + 1) / 2)));
    rows.push_back({"--every 0.5s", expected});
    expected.clear();
    for (int k = 0; k * 7 < frames; ++k) expected.push_back(bestOf(k * 7, std::min(frames, k * 7 + 7)));
    rows.push_back({"--every 7", expected});
    expected.clear();
    for (int k = 0; k < 6; ++k) expected.push_back(bestOf(k * frames / 6, (k + 1) * frames / 6));
    rows.push_back({"--count 6", expected});
    expected.clear();
    std::vector<int> byDetail(frames);
    for (int f = 0; f < frames; ++f) byDetail[size_t(frames - 1 - detail[f])] = f;
    for (int f : byDetail) {
        bool near = false;
        for (int t : expected) near = near || std::abs(f - t) < 4;
        if (!near && expected.size() < 5) expected.push_back(f);
    }
    std::sort(expected.begin(), expected.end());
    rows.push_back({"--best 5 --min-gap 4", expected});
    for (const auto& [args, want] : rows) {
        const CommandRun r = RunCli(kCli, "pick " + ShellQuote(video) + " --quality 90 " + args, true);
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<int> got;
        for (size_t at = 0; at < r.out.size(); at = r.out.find('\n', at) + 1)
            got.push_back(std::atoi(r.out.c_str() + at));
        EXPECT_EQ(got, want) << args;
    }
}

// A disk that fills up part way through a set: a 1 MiB file system of the test's own (tmpfs in a mount
// namespace) holds four of the ten 230 KB BMPs. The files before the failure are whole, printed by pick
// and listed in frames.csv; the rest are absent, and no temporary file is left.
TEST(ImageFiles, AFullDiskKeepsAndListsOnlyTheFilesWritten) {
    const int frames = 10;
    const std::string video = MakeTestVideo("image-files-fill", 320, 240, frames);
    ASSERT_FALSE(video.empty());
    const std::string mount = Scratch("fill-mount"), copy = Scratch("fill-copy");
    ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(mount) + " " + ShellQuote(copy)), 0);
    // What the file system held is copied out before it goes with the namespace.
    const std::string script =
        "mount -t tmpfs -o size=1m tessaron-test \"$1\" || exit 99; "
        "TESSARON_MEDIA_DETECTOR=1 \"$3\" pick \"$4\" --every 1 --format bmp -o \"$1\"; s=$?; "
        "cp -a \"$1\"/. \"$2\"/; exit $s";
    const CommandRun r = RunCaptureAll("unshare -rm sh -c " + ShellQuote(script) + " sh " + ShellQuote(mount) + " " +
                                       ShellQuote(copy) + " " + ShellQuote(kCli) + " " + ShellQuote(video));
    ASSERT_NE(r.status, 99) << "no file system of the test's own: " << r.err;
    EXPECT_EQ(r.status, 75) << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;

    // Every frame is printed; a file only with the frames written, and those come first.
    std::vector<std::string> printed;
    std::istringstream lines(r.out);
    std::string line;
    for (int frame = 0; std::getline(lines, line); ++frame) {
        std::istringstream fields(line);
        int number = -1;
        std::string time, score, file;
        fields >> number >> time >> score >> file;
        EXPECT_EQ(number, frame) << line;
        if (!file.empty()) {
            EXPECT_EQ(printed.size(), size_t(frame)) << "a file after a frame without one: " << line;
            EXPECT_EQ(file.rfind(mount + "/", 0), 0u) << file;
            printed.push_back(file.substr(mount.size() + 1));
        }
    }
    ASSERT_GT(printed.size(), 0u) << r.out;
    EXPECT_LT(printed.size(), size_t(frames)) << r.out;

    for (const std::string& name : printed) {
        EXPECT_EQ(ReadFileBytes(copy + "/" + name).size(), 54u + 240u * 960u) << name;
        EXPECT_EQ(DecodeWithPillow(copy + "/" + name).size(), 240u * 960u) << name;
    }
    const std::string listed = ReadFileText(copy + "/frames.csv");
    std::vector<std::string> inCsv;
    std::istringstream rows(listed);
    std::getline(rows, line);
    EXPECT_EQ(line.rfind("file,frame,time,score,width,height", 0), 0u) << line;
    while (std::getline(rows, line)) inCsv.push_back(line.substr(0, line.find(',')));
    EXPECT_EQ(inCsv, printed) << listed;
    std::vector<std::string> expected = printed;
    expected.push_back("frames.csv");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesIn(copy), expected);
}
