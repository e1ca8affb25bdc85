// Image sets for photogrammetry and datasets through tessaron-cli: near-duplicates left out of a
// clip that stands still, picks from saved scores equal to picks from the video, ranges, and the
// origin of every image as exiftool reads it back.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "output/ImageFiles.h"
#include "tests/ops/OpsTestSupport.h"
#include "tests/support/TestCli.h"

using namespace opstest;

namespace {

CommandRun Cli(const std::string& args) { return RunCli(TESSARON_CLI, args, true); }

// The frame numbers of pick --csv output.
std::vector<int> PickedFrames(const CommandRun& r) {
    std::vector<int> frames;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) frames.push_back(std::stoi(line));
    return frames;
}

// A moving test picture that stands still (one picture repeated, with fresh grain on each copy) from
// frame 19 to 49, H.264 as a camera would give it.
std::string StillStretchClip() {
    return MakeCachedFile("still-stretch", "mp4", "mp4",
                          "-f lavfi -i testsrc2=s=320x180:r=25:d=3 -vf loop=loop=30:size=1:start=20,setpts=N/25/TB,"
                          "noise=alls=6:allf=t -frames:v 75 -c:v libx264 -crf 23 -preset veryfast -pix_fmt yuv420p");
}

}  // namespace

// Every frame is a candidate (--every 1): with --min-change the still stretch gives one frame at most,
// the moving parts keep every frame; a clip that moves all the time picks as it did without it.
TEST(ImageSets, NearDuplicatesOfAStillStretchAreLeftOut) {
    const std::string clip = StillStretchClip();
    ASSERT_FALSE(clip.empty());
    const CommandRun all = Cli("pick --csv --every 1 " + ShellQuote(clip));
    const CommandRun distinct = Cli("pick --csv --every 1 --min-change 1.5 " + ShellQuote(clip));
    ASSERT_EQ(all.status, 0) << all.err;
    ASSERT_EQ(distinct.status, 0) << distinct.err;
    ASSERT_EQ(PickedFrames(all).size(), 75u);
    int inStill = 0, moving = 0;
    for (int f : PickedFrames(distinct)) (f >= 19 && f <= 49 ? inStill : moving)++;
    EXPECT_LE(inStill, 1) << distinct.out;
    EXPECT_EQ(moving, 75 - 31) << distinct.out;

    const std::string moves = MakeCachedFile("always-moving", "mp4", "mp4",
                                             "-f lavfi -i testsrc2=s=320x180:r=25:d=3 -c:v libx264 -crf 23 "
                                             "-preset veryfast -pix_fmt yuv420p");
    for (const char* rule : {"--every 0.2s", "--best 10 --min-gap 3", "--every 1"}) {
        const CommandRun plain = Cli("pick --csv " + std::string(rule) + " " + ShellQuote(moves));
        const CommandRun changed = Cli("pick --csv --min-change 1.5 " + std::string(rule) + " " + ShellQuote(moves));
        EXPECT_EQ(changed.out, plain.out) << rule;
    }
}

// rank --csv and --json read back by pick --scores give the picks of the video itself, for rules with
// every new option; the range of rank and export is that of pick.
TEST(ImageSets, SavedScoresPickAsTheVideoDoes) {
    const std::string clip = StillStretchClip();
    ASSERT_FALSE(clip.empty());
    for (const char* score : {"jpeg", "sharpness", "local-sharpness"}) {
        SCOPED_TRACE(score);
        const std::string kind = std::string(" --score ") + score;
        const CommandRun csv = Cli("rank --csv" + kind + " " + ShellQuote(clip));
        const CommandRun json = Cli("rank --json" + kind + " " + ShellQuote(clip));
        ASSERT_EQ(csv.status, 0) << csv.err;
        const std::string csvPath = Scratch(std::string("scores-") + score + ".csv");
        const std::string jsonPath = Scratch(std::string("scores-") + score + ".json");
        ASSERT_TRUE(WriteFileText(csvPath, csv.out));
        ASSERT_TRUE(WriteFileText(jsonPath, json.out));
        for (const char* rule :
             {"--every 0.5s --min-change 2", "--count 7 --max 4", "--best 9 --min-gap 4",
              "--every 3 --from 0.5s --to 60 --min-change 1 --max 8", "--every 1 --min-relative 1"}) {
            SCOPED_TRACE(rule);
            const CommandRun video = Cli("pick --csv " + std::string(rule) + kind + " " + ShellQuote(clip));
            ASSERT_EQ(video.status, 0) << video.err;
            EXPECT_FALSE(PickedFrames(video).empty());
            // A CSV file does not name a sharpness score; --score does.
            const std::string csvKind = std::string(score) == "jpeg" ? "" : kind;
            EXPECT_EQ(Cli("pick --csv " + std::string(rule) + csvKind + " --scores " + ShellQuote(csvPath)).out,
                      video.out);
            EXPECT_EQ(Cli("pick --csv " + std::string(rule) + " --scores " + ShellQuote(jsonPath)).out, video.out);
        }
    }
    // Images from saved scores: the same files as from the video.
    const std::string a = Scratch("saved-a"), b = Scratch("saved-b");
    ASSERT_EQ(RunCommand("rm -rf " + ShellQuote(a) + " " + ShellQuote(b)), 0);
    ASSERT_EQ(Cli("pick --count 3 -o " + ShellQuote(a) + " " + ShellQuote(clip)).status, 0);
    const CommandRun fromScores = Cli("pick --count 3 -o " + ShellQuote(b) + " --scores " +
                                      ShellQuote(Scratch("scores-jpeg.csv")) + " " + ShellQuote(clip));
    ASSERT_EQ(fromScores.status, 0) << fromScores.err;
    ASSERT_EQ(FilesIn(a), FilesIn(b));
    for (const std::string& name : FilesIn(a)) EXPECT_EQ(FileHash(a + "/" + name), FileHash(b + "/" + name)) << name;

    // Ranges by frame and by time, alike in rank and export.
    const CommandRun ranked = Cli("rank --csv --from 10 --to 0.8s " + ShellQuote(clip));
    ASSERT_EQ(ranked.status, 0) << ranked.err;
    EXPECT_EQ(std::count(ranked.out.begin(), ranked.out.end(), '\n'), 1 + 10);
    const std::string range = Scratch("range-export");
    ASSERT_EQ(RunCommand("rm -rf " + ShellQuote(range)), 0);
    ASSERT_EQ(
        Cli("export --from 0.4s --to 13 --format png -o " + ShellQuote(range + "/") + " " + ShellQuote(clip)).status,
        0);
    EXPECT_EQ(FilesIn(range).size(), 3u + 1);

    // What saved scores cannot give, and files that are not scores.
    const std::string bad = Scratch("bad-scores.csv");
    ASSERT_TRUE(WriteFileText(bad, "position,frame,score\n0,2147483000,5\n"));
    ExpectOneLineError(Cli("pick --count 2 --scores " + ShellQuote(bad)), "beyond", 1);
    ASSERT_TRUE(WriteFileText(bad, "position,frame,score\n0,1,5\n1,1,6\n"));
    ExpectOneLineError(Cli("pick --count 2 --scores " + ShellQuote(bad)), "twice", 1);
    ASSERT_TRUE(WriteFileText(bad, "position,frame,score\n0,1,5\n"));
    ExpectOneLineError(Cli("pick --count 2 --min-change 1 --scores " + ShellQuote(bad)), "thumbnails", 2);
    ExpectOneLineError(Cli("pick --every 1s --scores " + ShellQuote(bad)), "times", 2);
    ASSERT_TRUE(WriteFileText(bad, "{\"frames\": [{\"frame\": -1, \"score\": 2}]}"));
    ExpectOneLineError(Cli("pick --count 2 --scores " + ShellQuote(bad)), "frame entry 1", 1);
    ExpectOneLineError(Cli("pick --count 2 -o " + ShellQuote(a) + " --scores " + ShellQuote(bad)), "FILE");
}

// A phone's MOV (QuickTime keys) and a plain one (udta tags): exiftool reads the source, frame, time,
// camera, recording time and GPS back from JPEG, PNG and TIFF, and frames.csv holds the same.
TEST(ImageSets, EveryImageCarriesItsOrigin) {
    struct Source {
        const char* name;
        const char* tags;
        const char* recorded;  // frame 10 (0.4 s in), as EXIF writes it, and its milliseconds and zone
        const char* subSecond;
    };
    const Source sources[] = {
        {"phone-tags",
         "-movflags use_metadata_tags -metadata com.apple.quicktime.make=Apple "
         "-metadata com.apple.quicktime.model='iPhone 12 Pro' "
         "-metadata com.apple.quicktime.creationdate=2024-05-01T12:20:30+0200 "
         "-metadata com.apple.quicktime.location.ISO6709=+48.8584+002.2945+035.000/",
         "2024:05:01 12:20:30", ".400+02:00"},
        {"udta-tags",
         "-metadata make=Apple -metadata model='iPhone 12 Pro' -metadata creation_time=2024-05-01T10:20:30Z "
         "-metadata location=+48.8584+002.2945+035.000/",
         "2024:05:01 10:20:30", ".400+00:00"},
    };
    for (const Source& source : sources) {
        SCOPED_TRACE(source.name);
        const std::string clip = MakeCachedFile(
            source.name, "mov", "mov",
            "-f lavfi -i testsrc2=s=160x90:r=25:d=1 -c:v libx264 -pix_fmt yuv420p " + std::string(source.tags));
        ASSERT_FALSE(clip.empty());
        for (const char* format : {"jpg", "png", "tif"}) {
            SCOPED_TRACE(format);
            const std::string dir = Scratch(std::string("origin-") + source.name + "-" + format);
            ASSERT_EQ(RunCommand("rm -rf " + ShellQuote(dir)), 0);
            const CommandRun r = Cli("export --frames 10 --format " + std::string(format) + " -o " +
                                     ShellQuote(dir + "/") + " " + ShellQuote(clip));
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string image = dir + "/" + FileStem(clip) + "_10." + format;
            const CommandRun tags = RunCapture(
                "exiftool -n -s3 -f -Make -Model -DateTimeOriginal -SubSecDateTimeOriginal -GPSLatitude -GPSLongitude "
                "-GPSAltitude -SourceFrame -SourceVideo -Source " +
                ShellQuote(image));
            ASSERT_EQ(tags.status, 0) << tags.err;
            std::istringstream lines(tags.out);
            std::vector<std::string> v;
            for (std::string line; std::getline(lines, line);) v.push_back(line);
            ASSERT_EQ(v.size(), 10u) << tags.out;
            EXPECT_EQ(v[0], "Apple");
            EXPECT_EQ(v[1], "iPhone 12 Pro");
            // PNG has the XMP date with its fraction and zone; JPEG and TIFF EXIF's, whole, with both beside.
            EXPECT_EQ(v[2].substr(0, 19), source.recorded) << v[2];
            EXPECT_NE((v[2] + " " + v[3]).find(source.recorded + std::string(source.subSecond)), std::string::npos)
                << v[2] << " " << v[3];
            EXPECT_NEAR(std::stod(v[4]), 48.8584, 1e-5);
            EXPECT_NEAR(std::stod(v[5]), 2.2945, 1e-5);
            EXPECT_NEAR(std::stod(v[6]), 35.0, 1e-3);
            EXPECT_EQ(v[7], "10");
            EXPECT_EQ(v[8], FileStem(clip) + ".mov");
            EXPECT_EQ(v[9], FileStem(clip) + ".mov");
            const std::string csv = ReadFileText(dir + "/frames.csv");
            EXPECT_NE(csv.find(",Apple,iPhone 12 Pro,2024-05-01T"), std::string::npos) << csv;
            EXPECT_NE(csv.find(",48.858400,2.294500,35.000\n"), std::string::npos) << csv;
        }
    }
}
