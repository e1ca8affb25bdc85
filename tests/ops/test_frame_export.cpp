// Export of chosen frames and Crop and Save, with ffmpeg and ffprobe as referees: frames bit for bit,
// frame count and rate, box geometry, stops (cancel, unreadable frames, no file, full disk, a callback
// that throws, in the image set's loop too), time stamps, and the source left untouched. Also the pure
// helpers (names, report, period).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "image/dib.h"
#include "output/AviOutput.h"
#include "output/FrameExport.h"
#include "output/ImageFiles.h"
#include "video/MediaDetector.h"
#include "tests/ops/OpsTestSupport.h"
#include "tests/support/TestVideos.h"

using namespace opstest;
using testsupport::TestVideo;
using testsupport::TestVideoPath;
namespace fs = std::filesystem;

namespace {

struct Opened {
    VideoFrameReader reader;
    FrameInfo* info = nullptr;
};

// The source frames as ffmpeg decodes the source.
std::vector<Bytes> SourceFrames(const std::string& path) {
    const ProbeInfo p = Probe(path);
    return FfmpegFrames(path, p.width, p.height);
}

ExportTarget TargetFor(const std::string& out, const std::string& source, const timespec* mtime) {
    ExportTarget t;
    t.path = out.c_str();
    t.sourcePath = source.c_str();
    t.sourceModified = mtime;
    return t;
}

class Export : public ::testing::TestWithParam<bool> {
protected:
    bool Media() const { return GetParam(); }
};

TEST_P(Export, ChosenFramesInListOrderBitForBit) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    const uint64_t sourceHash = FileHash(source);
    const timespec sourceTime = ModificationTime(source);
    Opened v;
    ASSERT_TRUE(OpenReader(v.reader, source, Media(), &v.info));
    const std::string out = Scratch(std::string("export-") + (Media() ? "media" : "avi") + ".avi");
    const std::vector<int32_t> frames{7, 2, 5};
    std::vector<std::string> events;
    ExportCallbacks callbacks;
    callbacks.keepGoing = [&] {
        events.push_back("check");
        return true;
    };
    callbacks.progress = [&](int32_t position, int32_t frame) {
        events.push_back("progress " + std::to_string(position) + " " + std::to_string(frame));
    };
    callbacks.frameRead = [&](int32_t frame, const uint8_t*, int32_t length) {
        EXPECT_EQ(length, FrameBlockSize(65, 48));
        events.push_back("read " + std::to_string(frame));
    };
    const ExportOutcome outcome = ExportCheckedFrames(v.reader, *v.info, frames.data(), 3,
                                                      TargetFor(out, source, &sourceTime), callbacks);
    EXPECT_EQ(outcome.stop, ExportStop::Done) << outcome.reason;
    EXPECT_EQ(outcome.framesWritten, 3);
    EXPECT_TRUE(outcome.omitted.empty());
    EXPECT_TRUE(outcome.stampError.empty()) << outcome.stampError;
    // Decoded in ascending order; progress counts the list's positions done.
    EXPECT_EQ(events, (std::vector<std::string>{"check", "progress 0 2", "read 2", "check", "progress 1 5", "read 5",
                                                "check", "progress 2 7", "read 7"}));

    const ProbeInfo p = Probe(out);
    EXPECT_EQ(p.width, 65);
    EXPECT_EQ(p.height, 48);
    EXPECT_EQ(p.rate, "25/1");
    EXPECT_EQ(p.decodedFrames, 3);
    const std::vector<Bytes> src = SourceFrames(source);
    const std::vector<Bytes> got = FfmpegFrames(out, 65, 48);
    ASSERT_EQ(src.size(), 24u);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(got[0] == src[7]);
    EXPECT_TRUE(got[1] == src[2]);
    EXPECT_TRUE(got[2] == src[5]);

    EXPECT_TRUE(SameTime(ModificationTime(out), sourceTime));
    EXPECT_EQ(FileHash(source), sourceHash);
}

TEST_P(Export, CropBoxEitherWayGivesTheSameFile) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    const uint64_t sourceHash = FileHash(source);
    const timespec sourceTime = ModificationTime(source);
    Opened v;
    ASSERT_TRUE(OpenReader(v.reader, source, Media(), &v.info));
    const std::string tag = Media() ? "media" : "avi";
    const std::string forward = Scratch("crop-forward-" + tag + ".avi");
    const std::string backward = Scratch("crop-backward-" + tag + ".avi");
    std::vector<int32_t> progress;
    ExportCallbacks callbacks;
    callbacks.progress = [&](int32_t position, int32_t frame) {
        EXPECT_EQ(position, frame);
        progress.push_back(frame);
    };
    ExportOutcome a = CropAndSave(v.reader, *v.info, 10, 20, 17, 25, TargetFor(forward, source, &sourceTime),
                                  callbacks);
    EXPECT_EQ(a.stop, ExportStop::Done) << a.reason;
    EXPECT_EQ(a.framesWritten, 24);
    EXPECT_EQ(progress.size(), 24u);
    ExportOutcome b = CropAndSave(v.reader, *v.info, 17, 25, 10, 20, TargetFor(backward, source, &sourceTime), {});
    EXPECT_EQ(b.stop, ExportStop::Done) << b.reason;
    EXPECT_EQ(ReadFileBytes(forward), ReadFileBytes(backward));

    // 7 x 5 pixels, rows of 24 bytes (21 rounded up), so 120 bytes a frame.
    const ProbeInfo p = Probe(forward);
    EXPECT_EQ(p.width, 7);
    EXPECT_EQ(p.height, 5);
    EXPECT_EQ(p.rate, "25/1");
    EXPECT_EQ(p.decodedFrames, 24);
    const CommandRun packets = RunCapture(
        "ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 " +
        testsupport::ShellQuote(forward));
    ASSERT_EQ(packets.status, 0);
    EXPECT_EQ(packets.out.substr(0, 4), "120\n");
    // The padding bytes are zero: the first packet's data ends each row with 3 zero bytes.
    const Bytes file = ReadFileBytes(forward);
    const std::string id = "00db";
    auto chunk = std::search(file.begin(), file.end(), id.begin(), id.end());
    ASSERT_NE(chunk, file.end());
    const uint8_t* data = &*chunk + 8;
    for (int row = 0; row < 5; ++row)
        for (int pad = 21; pad < 24; ++pad) EXPECT_EQ(data[row * 24 + pad], 0) << row;

    const std::vector<Bytes> src = SourceFrames(source);
    const std::vector<Bytes> got = FfmpegFrames(forward, 7, 5);
    ASSERT_EQ(got.size(), 24u);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == BoxOf(src[i], 65, 10, 20, 17, 25)) << "frame " << i;
    EXPECT_TRUE(SameTime(ModificationTime(forward), sourceTime));
    EXPECT_EQ(FileHash(source), sourceHash);
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, Export, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Media" : "Avi"; });

TEST(ExportLossless, LosslessSourceCropsBitForBit) {
    testsupport::TestVideoRecipe recipe;
    recipe.name = "ops-ffv1";
    recipe.width = 80;
    recipe.height = 60;
    recipe.frames = 6;
    recipe.outputArgs = "-c:v ffv1 -pix_fmt bgr0";
    recipe.extension = "mkv";
    const std::string source = testsupport::MakeTestVideo(recipe);
    ASSERT_FALSE(source.empty());
    Opened v;
    ASSERT_TRUE(OpenReader(v.reader, source, true, &v.info));
    const std::string out = Scratch("ffv1-crop.avi");
    const ExportOutcome outcome = CropAndSave(v.reader, *v.info, 79, 59, 3, 1, TargetFor(out, source, nullptr), {});
    ASSERT_EQ(outcome.stop, ExportStop::Done) << outcome.reason;
    const std::vector<Bytes> src = SourceFrames(source);
    const std::vector<Bytes> got = FfmpegFrames(out, 76, 58);
    ASSERT_EQ(src.size(), 6u);
    ASSERT_EQ(got.size(), 6u);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == BoxOf(src[i], 80, 3, 1, 79, 59)) << i;
}

TEST(ExportStops, TerminatedExportIsAValidShorterFile) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    const timespec sourceTime = ModificationTime(source);
    Opened v;
    ASSERT_TRUE(OpenReader(v.reader, source, false, &v.info));
    const std::string out = Scratch("terminated.avi");
    // Frames are decoded in ascending order: after 8 rounds frames 0 to 7 are done, and the list up to
    // its first position not written (23) is 0, 1, 2, 3.
    std::vector<int32_t> frames{0, 1, 2, 3};
    for (int32_t i = 23; i >= 4; --i) frames.push_back(i);
    int rounds = 0;
    ExportCallbacks callbacks;
    callbacks.keepGoing = [&] { return rounds++ < 8; };
    const ExportOutcome outcome = ExportCheckedFrames(v.reader, *v.info, frames.data(), int32_t(frames.size()),
                                                      TargetFor(out, source, &sourceTime), callbacks);
    EXPECT_EQ(outcome.stop, ExportStop::Cancelled);
    EXPECT_EQ(outcome.framesWritten, 4);
    EXPECT_EQ(rounds, 9);
    const ProbeInfo p = Probe(out);
    EXPECT_EQ(p.decodedFrames, 4);
    const std::vector<Bytes> src = SourceFrames(source);
    const std::vector<Bytes> got = FfmpegFrames(out, 65, 48);
    ASSERT_EQ(got.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(got[size_t(i)] == src[size_t(i)]) << i;
    EXPECT_TRUE(SameTime(ModificationTime(out), sourceTime));
    EXPECT_EQ(ExportOutcomeText(outcome, out), "Terminated: " + out + " holds the 4 frames written before.");
}

// Lists of every shape on a long-GOP H.264 clip (50 frames, one key frame): the file is byte for byte
// what appending the frames, each read alone, in list order gives; no seek back; frames past the end
// left out in list order; a stop after k reads keeps the list up to its first position not written.
TEST(ExportStops, AnyListOrderGivesTheInOrderFile) {
    struct Row {
        const char* shape;
        std::vector<int32_t> frames;
        int reads;  // rounds before the stop; -1: none
    };
    const std::vector<Row> rows{
        {"ascending", {3, 10, 20, 33, 47}, -1},
        {"descending", {47, 33, 20, 10, 3}, -1},
        {"shuffled", {20, 3, 47, 10, 33}, -1},
        {"repeats", {10, 3, 10, 47, 3}, -1},
        {"unreadable in the middle, backwards", {40, 30, 70, 20, 10}, -1},
        {"stopped after 3 reads", {5, 8, 40, 3}, 3},
        {"stopped before the first position", {40, 30, 20, 10}, 2},
    };
    const std::string source = TestVideoPath(TestVideo::H264Mp4);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shape);
        // What the list keeps: positions up to the first whose frame was not read, unreadable ones left out.
        std::vector<int32_t> sorted = row.frames;
        std::sort(sorted.begin(), sorted.end());
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        const size_t reads = row.reads < 0 ? sorted.size() : size_t(row.reads);
        std::vector<int32_t> kept, omitted;
        for (int32_t frame : row.frames) {
            if (std::find(sorted.begin(), sorted.begin() + long(reads), frame) == sorted.begin() + long(reads)) break;
            (frame < 50 ? kept : omitted).push_back(frame);
        }

        Opened v;
        ASSERT_TRUE(OpenReader(v.reader, source, true, &v.info));
        const std::string out = Scratch("order.avi");
        std::filesystem::remove(out);  // a stopped export leaves a file it was to replace as it was
        int rounds = 0;
        ExportCallbacks callbacks;
        callbacks.keepGoing = [&] { return row.reads < 0 || rounds++ < row.reads; };
        const int64_t seeks = v.reader.Detector()->GetCounters().seeks;
        const ExportOutcome outcome = ExportCheckedFrames(v.reader, *v.info, row.frames.data(),
                                                          int32_t(row.frames.size()), TargetFor(out, source, nullptr),
                                                          callbacks);
        EXPECT_LE(v.reader.Detector()->GetCounters().seeks - seeks, 1);
        EXPECT_EQ(outcome.stop, row.reads < 0 ? ExportStop::Done : ExportStop::Cancelled) << outcome.reason;
        EXPECT_EQ(outcome.omitted, omitted);
        ASSERT_EQ(outcome.framesWritten, int32_t(kept.size()));
        EXPECT_EQ(outcome.written, !kept.empty());
        if (kept.empty()) continue;
        EXPECT_EQ(outcome.lastWrittenFrame, kept.back());

        // The reference: each frame read alone by a reader of its own, appended in list order.
        const std::string reference = Scratch("order-reference.avi");
        AviOutput* file = AviOutputOpen(reference.c_str(), OutputFramePeriodMs(v.info->framesPerSecond), nullptr);
        ASSERT_NE(file, nullptr);
        for (int32_t frame : kept) {
            Opened alone;
            ASSERT_TRUE(OpenReader(alone.reader, source, true, &alone.info));
            FrameBlockPtr block(alone.reader.ReadFrame(*alone.info, frame));
            ASSERT_TRUE(block);
            BITMAPINFOHEADER header;
            std::memcpy(&header, block.get(), sizeof header);
            header.biSizeImage = uint32_t(alone.info->frameBlockSize - kDibHeaderSize);
            EXPECT_EQ(AviOutputAddFrame(file, block.get() + kDibHeaderSize, alone.info->frameBlockSize - kDibHeaderSize,
                                        &header),
                      AVIERR_OK);
        }
        ASSERT_EQ(AviOutputClose(file), AVIERR_OK);
        EXPECT_TRUE(ReadFileBytes(out) == ReadFileBytes(reference));
    }
}

TEST(ExportStops, UnreadableFramesAreOmittedAndReported) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    Opened v;
    ASSERT_TRUE(OpenReader(v.reader, source, true, &v.info));
    const std::string out = Scratch("omitted.avi");
    const std::vector<int32_t> frames{7, 40, 5, 99};  // 40 and 99 lie past the stream's end
    std::vector<std::string> events;
    ExportCallbacks callbacks;
    callbacks.progress = [&](int32_t position, int32_t frame) {
        events.push_back("progress " + std::to_string(position) + " " + std::to_string(frame));
    };
    callbacks.omitted = [&](int32_t position, int32_t frame) {
        events.push_back("omitted " + std::to_string(position) + " " + std::to_string(frame));
    };
    const ExportOutcome outcome = ExportCheckedFrames(v.reader, *v.info, frames.data(), 4,
                                                      TargetFor(out, source, nullptr), callbacks);
    EXPECT_EQ(outcome.stop, ExportStop::Done) << outcome.reason;
    EXPECT_EQ(outcome.framesWritten, 2);
    EXPECT_EQ(outcome.omitted, (std::vector<int32_t>{40, 99}));
    EXPECT_EQ(events, (std::vector<std::string>{"progress 0 5", "progress 1 7", "omitted 1 40", "omitted 3 99"}));
    EXPECT_EQ(OmittedFramesReport(outcome.omitted), "Frames that could not be read:\n40\n99\n");
    const std::vector<Bytes> src = SourceFrames(source);
    const std::vector<Bytes> got = FfmpegFrames(out, 65, 48);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0] == src[7]);
    EXPECT_TRUE(got[1] == src[5]);

    // A reader that delivers none of the listed frames: all reported, and no file without video in place
    // of what the user had at that path.
    const std::string kept = Scratch("none.avi");
    std::ofstream(kept) << "the user's file";
    const std::vector<int32_t> missing{30, 31};
    const ExportOutcome none = ExportCheckedFrames(v.reader, *v.info, missing.data(), 2,
                                                   TargetFor(kept, source, nullptr), {});
    EXPECT_EQ(none.framesWritten, 0);
    EXPECT_FALSE(none.written);
    EXPECT_EQ(none.omitted, missing);
    EXPECT_EQ(ReadFileText(kept), "the user's file");
    EXPECT_EQ(ExportOutcomeText(none, kept), "Nothing was written to " + kept + ": no frame could be read.");
    for (const auto& entry : fs::directory_iterator(fs::path(kept).parent_path()))
        EXPECT_NE(entry.path().filename().string().rfind("none.avi.", 0), 0u) << "left behind: " << entry.path();
}

TEST(ExportStops, OutputThatCannotBeCreatedStopsAtOnce) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    Opened v;
    ASSERT_TRUE(OpenReader(v.reader, source, false, &v.info));
    const std::string out = Scratch("no-such-folder/out.avi");
    int calls = 0;
    ExportCallbacks callbacks;
    callbacks.keepGoing = [&] { return ++calls > 0; };
    callbacks.progress = [&](int32_t, int32_t) { ++calls; };
    const timespec t{};
    const ExportOutcome outcome = CropAndSave(v.reader, *v.info, 0, 0, 10, 10, TargetFor(out, source, &t), callbacks);
    EXPECT_EQ(outcome.stop, ExportStop::CreateFailed);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(outcome.framesWritten, 0);
    EXPECT_NE(outcome.reason.find("No such file or directory"), std::string::npos) << outcome.reason;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(ExportOutcomeText(outcome, out), "Cannot create " + out + ": " + outcome.reason + ".");

    // The video being read is never the output; it stays as it was.
    const uint64_t hash = FileHash(source);
    const std::vector<int32_t> frames{1};
    const ExportOutcome self = ExportCheckedFrames(v.reader, *v.info, frames.data(), 1, TargetFor(source, source, &t),
                                                   {});
    EXPECT_EQ(self.stop, ExportStop::Refused);
    EXPECT_EQ(FileHash(source), hash);
}

TEST(ExportStops, EmptyOrOutsideBoxIsRefused) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    Opened v;
    ASSERT_TRUE(OpenReader(v.reader, source, false, &v.info));
    const std::string out = Scratch("refused.avi");
    for (auto box :
         std::vector<std::vector<int32_t>>{{5, 5, 5, 20}, {5, 5, 20, 5}, {70, 0, 90, 10}, {-9, -9, -1, -1}}) {
        const ExportOutcome outcome = CropAndSave(v.reader, *v.info, box[0], box[1], box[2], box[3],
                                                  TargetFor(out, source, nullptr), {});
        EXPECT_EQ(outcome.stop, ExportStop::Refused) << box[0] << "," << box[1] << "," << box[2] << "," << box[3];
        EXPECT_FALSE(fs::exists(out));
    }
    // A box reaching past the frame is cut to it.
    const ExportOutcome clamped = CropAndSave(v.reader, *v.info, 60, 40, 100, -10, TargetFor(out, source, nullptr), {});
    EXPECT_EQ(clamped.stop, ExportStop::Done);
    const ProbeInfo p = Probe(out);
    EXPECT_EQ(p.width, 5);
    EXPECT_EQ(p.height, 40);
}

// Writes in a child process under a file size limit; the outcome comes back through shared memory.
TEST(ExportStops, FullDiskStopsAndKeepsTheFramesWritten) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    const std::string out = Scratch("full.avi");
    const timespec sourceTime = ModificationTime(source);
    struct Outcome {
        int32_t stop = -1, framesWritten = -1, omitted = 0;
        char reason[200] = {};
    } outcome;
    // Room for the headers and a few 9,408-byte frames, not for 24.
    ASSERT_EQ(RunInChild(outcome, 60000,
                         [&](Outcome& shared) {
                             VideoFrameReader reader;
                             FrameInfo* info = nullptr;
                             if (!OpenReader(reader, source, false, &info)) return;
                             const ExportOutcome o = CropAndSave(reader, *info, 0, 0, 65, 48,
                                                                 TargetFor(out, source, &sourceTime), {});
                             shared.stop = int32_t(o.stop);
                             shared.framesWritten = o.framesWritten;
                             shared.omitted = int32_t(o.omitted.size());
                             std::snprintf(shared.reason, sizeof shared.reason, "%s", o.reason.c_str());
                         }),
              0);
    EXPECT_EQ(outcome.stop, int32_t(ExportStop::WriteFailed)) << outcome.reason;
    EXPECT_GT(outcome.framesWritten, 0);
    EXPECT_LT(outcome.framesWritten, 24);
    EXPECT_EQ(outcome.omitted, 0);
    EXPECT_NE(std::string(outcome.reason).find("File too large"), std::string::npos) << outcome.reason;
    // What the outcome claims is what a reader finds: that many frames, each the source's.
    const ProbeInfo p = Probe(out);
    EXPECT_EQ(p.decodedFrames, outcome.framesWritten);
    const std::vector<Bytes> src = SourceFrames(source);
    const std::vector<Bytes> got = FfmpegFrames(out, 65, 48);
    ASSERT_EQ(got.size(), size_t(outcome.framesWritten));
    for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == src[i]) << i;
    EXPECT_TRUE(SameTime(ModificationTime(out), sourceTime));
}

TEST(ExportHelpers, FramePeriodKeepsTheSourceSpeed) {
    EXPECT_EQ(OutputFramePeriodMs(25.0), 40);
    EXPECT_EQ(OutputFramePeriodMs(30000.0 / 1001.0), 33);
    EXPECT_EQ(OutputFramePeriodMs(1000.0), 1);
    EXPECT_EQ(OutputFramePeriodMs(5000.0), 1);
    EXPECT_EQ(OutputFramePeriodMs(0.5), 2000);
    EXPECT_EQ(OutputFramePeriodMs(1e-12), INT32_MAX);
    EXPECT_EQ(OutputFramePeriodMs(0.0), 40);
    EXPECT_EQ(OutputFramePeriodMs(-25.0), 40);
    EXPECT_EQ(OutputFramePeriodMs(std::nan("")), 40);
}

TEST(ExportHelpers, OmittedReportListsTwentyNumbersEachOnItsLine) {
    EXPECT_EQ(OmittedFramesReport({}), "");
    EXPECT_EQ(OmittedFramesReport({2}), "Frames that could not be read:\n2\n");
    std::vector<int32_t> many;
    for (int32_t i = 100; i < 125; ++i) many.push_back(i);
    std::string expected = "Frames that could not be read:\n";
    for (int32_t i = 100; i < 120; ++i) expected += std::to_string(i) + "\n";
    EXPECT_EQ(OmittedFramesReport(many), expected + "... and 5 more");
    many.resize(20);
    EXPECT_EQ(OmittedFramesReport(many), expected);
}

TEST(ExportHelpers, ProposedNames) {
    EXPECT_EQ(CropProposedName(""), "Untitled.avi");
    EXPECT_EQ(CropProposedName("/clips/run.avi"), "/clips/runx.avi");
    EXPECT_EQ(CropProposedName("/V/a.AVI"), "/V/ax.avi");
    EXPECT_EQ(CropProposedName("/v/a.mpg"), "");
    EXPECT_EQ(CropProposedName("/v/avi"), "");
    EXPECT_EQ(CropProposedName(".avi"), "x.avi");
    EXPECT_EQ(CropProposedName(".AvI"), "x.avi");

    EXPECT_EQ(BmpProposedName("/clips/run.avi", 12), "/clips/run-12.bmp");
    EXPECT_EQ(BmpProposedName("/v/a.AVI", 0), "/v/a-0.bmp");
    EXPECT_EQ(BmpProposedName("/v/movie.mpeg", 7), "/v/movie.-7.bmp");
    EXPECT_EQ(BmpProposedName("ab", 3), "-3.bmp");
    EXPECT_EQ(BmpProposedName("", 3), "-3.bmp");
    // Characters, not bytes: "é" is two bytes and goes as one.
    EXPECT_EQ(BmpProposedName("/v/caf\xC3\xA9.m4v", 1), "/v/caf\xC3\xA9-1.bmp");
    EXPECT_EQ(BmpProposedName("/v/x.\xC3\xA9\xC3\xA9\xC3\xA9", 1), "/v/x-1.bmp");
}

TEST(ExportHelpers, ModificationTimeSetAccessTimeKept) {
    const std::string path = Scratch("stamp.bin");
    ASSERT_TRUE(WriteFileBytes(path, Bytes{1, 2, 3}));
    timespec times[2] = {{1000000000, 123}, {1000000000, 456}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    const timespec mtime{1234567890, 987654321};
    std::string error;
    ASSERT_TRUE(SetModificationTime(path.c_str(), mtime, &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(SameTime(st.st_mtim, mtime));
    EXPECT_TRUE(SameTime(st.st_atim, times[0]));
    EXPECT_FALSE(SetModificationTime(Scratch("missing").c_str(), mtime, &error));
    EXPECT_EQ(error, "No such file or directory");
}

}  // namespace

// A callback that throws (in the GUI a failed allocation is enough) ends every loop as a failed write
// with the exception's text: what was written before stays whole, no temporary file is left, the image
// set's encoder threads are joined and the process goes on.
TEST(ExportStops, ACallbackThatThrowsEndsEachLoopWithItsReason) {
    // The raw AVI with frame 5's index entry pointing past the end: that frame cannot be read.
    const std::string whole = TestVideoPath(TestVideo::RawAviOddWidth);
    Bytes bytes = ReadFileBytes(whole);
    size_t idx1 = 0;
    for (size_t at = bytes.size() - 8; at > 0 && !idx1; --at)
        if (std::memcmp(&bytes[at], "idx1", 4) == 0) idx1 = at;
    ASSERT_GT(idx1, 0u);
    const size_t entry5 = idx1 + 8 + 5 * 16;
    for (int b = 0; b < 4; ++b) bytes[entry5 + 8 + size_t(b)] = 0x7f;
    const std::string source = Scratch("hole.avi");
    ASSERT_TRUE(WriteFileBytes(source, bytes));

    enum Callback { kKeepGoing, kProgress, kWantFrame, kFrameRead, kOmitted, kCallbacks };
    const char* const callbackNames[] = {"keepGoing", "progress", "wantFrame", "frameRead", "omitted"};
    const std::vector<int32_t> frames{2, 4, 5, 6, 8, 10, 12, 14};
    for (const char* loop : {"export", "crop", "images"}) {
        for (int thrower = 0; thrower < kCallbacks; ++thrower) {
            SCOPED_TRACE(std::string(loop) + ", " + callbackNames[thrower]);
            Opened v;
            ASSERT_TRUE(OpenReader(v.reader, source, false, &v.info));
            int calls = 0;
            // The omitted frame is met once; every other callback throws on its third call.
            const auto call = [&](int which) {
                if (which == thrower && ++calls == (which == kOmitted ? 1 : 3))
                    throw std::runtime_error("the callback gave up");
            };
            ExportCallbacks callbacks;
            callbacks.keepGoing = [&] { return call(kKeepGoing), true; };
            callbacks.progress = [&](int32_t, int32_t) { call(kProgress); };
            callbacks.wantFrame = [&](int32_t) { return call(kWantFrame), true; };
            callbacks.frameRead = [&](int32_t, const uint8_t*, int32_t) { call(kFrameRead); };
            callbacks.omitted = [&](int32_t, int32_t) { call(kOmitted); };

            const std::string dir = Scratch(std::string("throw-") + loop + "-" + callbackNames[thrower]);
            ASSERT_TRUE(fs::create_directories(dir));
            const std::string out = dir + "/out.avi";
            ExportOutcome outcome;
            std::vector<std::string> expected;
            if (std::string(loop) == "images") {
                std::vector<ImageItem> items;
                for (int32_t f : frames) items.push_back({f, int32_t(items.size()), 0});
                ImageExportSettings settings;
                settings.folder = dir;
                settings.stem = "v";
                settings.encoding.format = ImageFormat::Bmp;
                outcome = ExportImageFiles(v.reader, *v.info, items, settings, callbacks);
                // Exactly the files it names, each whole, and frames.csv listing them.
                std::string csv = "file,frame,time,score,width,height\n";
                for (int32_t i : outcome.writtenItems) {
                    const std::string name = "v_" + std::string(frames[size_t(i)] < 10 ? "0" : "") +
                                             std::to_string(frames[size_t(i)]) + ".bmp";
                    expected.push_back(name);
                    EXPECT_EQ(ReadFileBytes(dir + "/" + name).size(), 54u + 48u * 196u) << name;
                    csv += name + ",";
                }
                EXPECT_EQ(int32_t(outcome.writtenItems.size()), outcome.framesWritten);
                if (outcome.written) {
                    expected.push_back("frames.csv");
                    const std::string got = ReadFileText(dir + "/frames.csv");
                    EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), outcome.framesWritten + 1) << got;
                }
            } else {
                outcome = std::string(loop) == "export"
                              ? ExportCheckedFrames(v.reader, *v.info, frames.data(), int32_t(frames.size()),
                                                    TargetFor(out, source, nullptr), callbacks)
                              : CropAndSave(v.reader, *v.info, 1, 2, 40, 30, TargetFor(out, source, nullptr),
                                            callbacks);
                // What the outcome claims is what ffprobe finds.
                if (outcome.written) {
                    expected.push_back("out.avi");
                    EXPECT_EQ(Probe(out).decodedFrames, outcome.framesWritten);
                }
            }
            EXPECT_EQ(calls, thrower == kOmitted ? 1 : 3);
            EXPECT_EQ(outcome.stop, ExportStop::WriteFailed);
            EXPECT_EQ(outcome.reason, "the callback gave up");
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(FilesIn(dir), expected);
        }
    }
}
