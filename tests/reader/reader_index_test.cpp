// Frame N is picture N of the decoder's own sequence, on footage with irregular timing: for every file
// of the table, the frame count is ffprobe's and every frame is pixel for pixel the picture
// `ffmpeg -fps_mode passthrough` gives, read in ascending, descending and shuffled order. (ffmpeg runs
// on one thread: a damaged picture is concealed alike then, as the reader conceals it.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <sstream>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "tests/support/TestReader.h"
#include "tests/support/TestVideos.h"

using namespace testsupport;

namespace {

struct Row {
    const char* name;
    const char* extension;
    const char* script;  // writes $OUT
    bool checkTimes;     // frame times are ffprobe's presentation times from the first picture
};

#define SRC30 "-f lavfi -i testsrc2=size=160x120:rate=30"
#define FF "ffmpeg -nostdin -v error -y "
#define X264 "-c:v libx264 -preset veryfast -bf 2 "
// Two pieces of MPEG-TS whose clocks start at $1 and $2 seconds, joined.
#define TS_JOIN(a, b)                                                                      \
    FF SRC30 " -frames:v 40 " X264 "-g 15 -output_ts_offset " a " $WORK/a.ts && " FF SRC30 \
             " -frames:v 40 -vf hflip " X264 "-g 15 -output_ts_offset " b                  \
             " $WORK/b.ts && cat $WORK/a.ts "                                              \
             "$WORK/b.ts > $OUT"

const Row kRows[] = {
    {"h264-bframes-mp4", "mp4", FF SRC30 " -frames:v 60 " X264 "-g 12 $OUT", true},
    {"h264-one-gop-mp4", "mp4", FF SRC30 " -frames:v 50 " X264 "-bf 3 -g 250 $OUT", true},
    {"mpeg4-bframes-avi", "avi", FF SRC30 " -frames:v 60 -c:v mpeg4 -vtag XVID -bf 2 -g 12 $OUT", false},
    {"xvid-packed-bframes-avi", "avi",
     FF SRC30 " -frames:v 60 -c:v mpeg4 -bf 1 -g 12 -f m4v $WORK/es.m4v && /usr/bin/python3 " TESSARON_SOURCE_DIR
              "/tests/support/pack_bframes.py $WORK/es.m4v $OUT 160 120",
     false},
    {"mjpeg-avi", "avi", FF SRC30 " -frames:v 30 -c:v mjpeg $OUT", true},
    {"vp9-webm", "webm", FF "-f lavfi -i testsrc2=size=160x120:rate=30000/1001 -frames:v 40 -c:v libvpx-vp9 -g 20 $OUT",
     true},
    {"late-start-mp4", "mp4", FF SRC30 " -frames:v 40 -vf setpts=PTS+12 -fps_mode passthrough " X264 "-g 12 $OUT",
     true},
    {"audio-first-mp4", "mp4",
     FF "-f lavfi -i anullsrc=r=8000:cl=mono " SRC30 " -map 0:a -map 1:v -t 1.5 -c:a aac " X264 "$OUT", true},
    {"interlaced-mpeg2-ts", "ts", FF SRC30 " -frames:v 40 -c:v mpeg2video -flags +ilme+ildct -top 1 -g 12 -bf 2 $OUT",
     false},
    {"vfr-drops-mp4", "mp4",
     FF SRC30 " -frames:v 70 -vf \"select='not(between(n,20,24))*not(eq(mod(n,7),3))'\" -fps_mode passthrough " X264
              "$OUT",
     true},
    {"vfr-drops-mkv", "mkv",
     FF SRC30 " -frames:v 70 -vf \"select='not(between(n,20,24))*not(eq(mod(n,7),3))'\" -fps_mode passthrough " X264
              "$OUT",
     true},
    {"avi-empty-chunks", "avi",
     FF SRC30 " -frames:v 50 -vf \"select='not(eq(mod(n,5),2))'\" -fps_mode passthrough -c:v mpeg4 $OUT", false},
    {"ts-cut-mid-gop", "ts",
     FF SRC30 " -frames:v 90 " X264 "-g 30 $WORK/a.ts && tail -c $((188 * 180)) $WORK/a.ts > $OUT", false},
    {"mp4-edit-list-trim", "mp4",
     FF SRC30 " -frames:v 90 " X264 "-g 30 $WORK/a.mp4 && " FF "-ss 1.3 -i $WORK/a.mp4 -c copy $OUT", true},
    {"mkv-copied-from-mid-gop", "mkv",
     FF SRC30 " -frames:v 90 " X264 "-g 30 $WORK/a.mp4 && " FF "-ss 1.3 -i $WORK/a.mp4 -c copy $OUT", false},
    {"h264-raw", "h264", FF SRC30 " -frames:v 50 " X264 "-g 20 $OUT", false},
    {"hevc-raw", "hevc", FF SRC30 " -frames:v 40 -c:v libx265 -x265-params log-level=none:bframes=2:keyint=15 $OUT",
     false},
    {"mpeg2-raw", "m2v", FF SRC30 " -frames:v 40 -c:v mpeg2video -bf 2 -g 12 $OUT", false},
    {"rotate-90-mp4", "mp4",
     FF SRC30 " -frames:v 30 " X264 "$WORK/a.mp4 && " FF "-i $WORK/a.mp4 -c copy -metadata:s:v:0 rotate=90 $OUT", true},
    {"rotate-270-mov", "mov",
     FF SRC30 " -frames:v 30 " X264 "$WORK/a.mov && " FF "-i $WORK/a.mov -c copy -metadata:s:v:0 rotate=270 $OUT",
     true},
    {"rotate-180-mp4", "mp4",
     FF SRC30 " -frames:v 30 " X264 "$WORK/a.mp4 && " FF "-i $WORK/a.mp4 -c copy -metadata:s:v:0 rotate=180 $OUT",
     true},
    {"jitter-2ms-mp4", "mp4",
     FF SRC30 " -frames:v 90 -vf \"settb=1/90000,setpts='(N/30+0.002*sin(N*1.7))/TB'\" -fps_mode passthrough "
              "-enc_time_base 1/90000 -video_track_timescale 90000 " X264 "$OUT",
     true},
    {"slow-30-to-20-mp4", "mp4",
     FF SRC30 " -frames:v 70 -vf \"settb=1/90000,setpts='if(lt(N,35),N/30,35/30+(N-35)/20)/TB'\" -fps_mode passthrough "
              "-enc_time_base 1/90000 " X264 "$OUT",
     true},
    {"slow-30-to-10-mkv", "mkv",
     FF SRC30
     " -frames:v 70 -vf \"settb=1/90000,setpts='if(lt(N,35),N/30,35/30+(N-35)/10)/TB'\" -fps_mode passthrough " X264
     "$OUT",
     true},
    {"burst-mp4", "mp4",
     FF SRC30 " -frames:v 60 -vf \"settb=1/90000,setpts='if(between(N,20,29),20/30+(N-20)/300,N/30)/TB'\" "
              "-fps_mode passthrough -enc_time_base 1/90000 " X264 "$OUT",
     true},
    {"vfr-screen-webm", "webm",
     FF "-f lavfi -i testsrc=size=160x120:rate=1000 -vf \"setpts=(round(N*1000/60)+1000*floor(N/75))/1000/TB\" "
        "-fps_mode vfr -frames:v 160 -c:v libvpx-vp9 -deadline realtime -b:v 300k $OUT",
     true},
    {"vfr-screen-mkv", "mkv",
     FF "-f lavfi -i testsrc=size=160x120:rate=1000 -vf \"setpts=(round(N*1000/60)+1000*floor(N/75))/1000/TB\" "
        "-fps_mode vfr -frames:v 160 " X264 "$OUT",
     true},
    {"mpeg2-program-stream-vob", "vob", FF SRC30 " -frames:v 60 -c:v mpeg2video -bf 2 -g 12 -f vob $OUT", false},
    {"h264-flv", "flv", FF SRC30 " -frames:v 50 " X264 "-g 25 $OUT", true},
    {"h264-open-gop-mp4", "mp4", FF SRC30 " -frames:v 60 " X264 "-bf 3 -g 25 -x264-params open-gop=1 $OUT", true},
    {"h264-open-gop-ts", "ts", FF SRC30 " -frames:v 60 " X264 "-bf 3 -g 25 -x264-params open-gop=1 $OUT", false},
    {"hevc-open-gop-mp4", "mp4",
     FF SRC30 " -frames:v 50 -c:v libx265 -x265-params log-level=none:keyint=20:open-gop=1 $OUT", true},
    {"wmv-asf", "wmv", FF SRC30 " -frames:v 50 -c:v wmv2 -f asf $OUT", true},
    {"vp8-webm", "webm", FF SRC30 " -frames:v 50 -c:v libvpx -g 15 $OUT", true},
    {"mp4-negative-cts", "mp4", FF SRC30 " -frames:v 50 " X264 "-movflags negative_cts_offsets $OUT", true},
    {"mov-timescale-600-vfr", "mov",
     FF SRC30 " -frames:v 50 -vf \"setpts='N/30/TB+if(gt(N,30),0.5/TB,0)'\" -fps_mode passthrough "
              "-video_track_timescale 600 " X264 "$OUT",
     true},
    {"mjpeg-avi-drops", "avi",
     FF SRC30 " -frames:v 40 -vf \"select='not(eq(mod(n,4),1))'\" -fps_mode passthrough -c:v mjpeg $OUT", false},
    {"ts-clock-wraps", "ts", FF SRC30 " -frames:v 50 " X264 "-g 20 -output_ts_offset 95442.5 $OUT", false},
    {"ts-cut-at-the-end", "ts",
     FF SRC30 " -frames:v 90 " X264 "-g 30 $WORK/a.ts && head -c $((188 * 150)) $WORK/a.ts > $OUT", false},
    {"ts-join-clock-back", "ts", TS_JOIN("20", "3"), false},
    {"ts-join-clock-restart", "ts", TS_JOIN("0", "0"), false},
    {"ts-join-clock-forward", "ts", TS_JOIN("3", "60"), false},
};

std::string RowName(const testing::TestParamInfo<Row>& p) {
    std::string name = p.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

std::string Probe(const std::string& path, const std::string& entries) {
    return RunCapture("ffprobe -v error -select_streams v:0 " + entries + " -of csv=p=0 " + ShellQuote(path)).out;
}

// The pictures of ffmpeg's own decoding, as Y planes, or as BGR rows for pictures without one.
struct Reference {
    std::vector<Bytes> pictures;
    bool luma = true;
};

Reference ReferencePictures(const std::string& path, int width, int height) {
    // MPEG-TS lists the stream once more under its program: the first line is the one.
    std::string format = Probe(path, "-show_entries stream=pix_fmt");
    format = format.substr(0, format.find_first_of(",\n"));
    const AVPixelFormat pixelFormat = av_get_pix_fmt(format.c_str());
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixelFormat);
    Reference ref;
    ref.luma = desc && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && desc->comp[0].plane == 0 &&
               desc->comp[0].step <= 2;
    if (!ref.luma) format = "bgr24";
    const int frameBytes = av_image_get_buffer_size(av_get_pix_fmt(format.c_str()), width, height, 1);
    const size_t keep = ref.luma ? size_t(width) * height * (desc->comp[0].depth > 8 ? 2 : 1)
                                 : size_t(width) * height * 3;
    const std::string raw = Scratch("reference.raw");
    Bytes all;
    if (RunCommand("ffmpeg -nostdin -v error -y -threads 1 -i " + ShellQuote(path) +
                   " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt " + format + " " + ShellQuote(raw)) == 0)
        all = ReadFileBytes(raw);
    for (size_t at = 0; frameBytes > 0 && at + size_t(frameBytes) <= all.size(); at += size_t(frameBytes))
        ref.pictures.emplace_back(all.begin() + std::ptrdiff_t(at), all.begin() + std::ptrdiff_t(at + keep));
    return ref;
}

// Frame n as the reference holds it: its luma rows, or its BGR rows top-down.
Bytes OurPicture(VideoFrameReader& reader, FrameInfo& info, int32_t n, bool luma) {
    Bytes out;
    if (luma) {
        LumaPlane plane;
        if (reader.PeekLuma(info, n, 0, 0, info.width, info.height, &plane) != LumaRead::Plane) return out;
        const size_t row = size_t(plane.width) * (plane.depth > 8 ? 2 : 1);
        for (int32_t y = 0; y < plane.height; ++y)
            out.insert(out.end(), plane.data + y * plane.stride, plane.data + y * plane.stride + row);
        return out;
    }
    const Bytes block = ReadBlock(reader, info, n);
    if (block.empty()) return out;
    for (int y = 0; y < info.height; ++y) {
        const uint8_t* row = PictureRow(block, info.width, info.height, y);
        out.insert(out.end(), row, row + 3 * info.width);
    }
    return out;
}

class PictureIndex : public testing::TestWithParam<Row> {};

TEST_P(PictureIndex, EveryPictureOnceInOrderWhateverTheAccessOrder) {
    const Row& row = GetParam();
    const std::string path = MakeScriptedFile(std::string("index-") + row.name, row.extension, row.script);
    ASSERT_FALSE(path.empty()) << "could not make " << row.name;
    UseMediaDetector(true);

    const int expected = std::atoi(Probe(path, "-count_frames -show_entries stream=nb_read_frames").c_str());
    ASSERT_GT(expected, 0);
    VideoFrameReader probe;
    FrameInfo& info = probe.Open(path.c_str());
    ASSERT_TRUE(info.succeeded) << probe.LastError();
    EXPECT_EQ(info.frameCount, expected);
    const Reference ref = ReferencePictures(path, info.width, info.height);
    ASSERT_EQ(ref.pictures.size(), size_t(expected));

    if (row.checkTimes) {
        std::istringstream lines(Probe(path, "-show_entries frame=best_effort_timestamp_time"));
        std::vector<double> times;
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line[0] != 'N') times.push_back(std::atof(line.c_str()));
        ASSERT_EQ(times.size(), size_t(expected));
        for (int n = 0; n < expected; ++n)
            EXPECT_NEAR(probe.FrameTime(n), times[size_t(n)] - times[0], 1e-6) << "time of frame " << n;
        EXPECT_GT(info.framesPerSecond, 0.5 * expected / (times.back() - times[0] + 1e-9));
        EXPECT_LT(info.framesPerSecond, 300.0) << "a guessed rate";
    }
    probe.Close(info);

    std::vector<int32_t> ascending(static_cast<size_t>(expected));
    std::iota(ascending.begin(), ascending.end(), 0);
    std::vector<int32_t> descending(ascending.rbegin(), ascending.rend());
    std::vector<int32_t> shuffled = ascending;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    for (const auto* order : {&ascending, &descending, &shuffled}) {
        VideoFrameReader reader;
        FrameInfo& opened = reader.Open(path.c_str());
        ASSERT_TRUE(opened.succeeded);
        int wrong = 0;
        for (int32_t n : *order) {
            const Bytes ours = OurPicture(reader, opened, n, ref.luma);
            if (ours != ref.pictures[size_t(n)] && ++wrong <= 3)
                ADD_FAILURE() << "frame " << n << " differs from ffmpeg's picture "
                              << (order == &ascending    ? "(ascending)"
                                  : order == &descending ? "(descending)"
                                                         : "(shuffled)");
        }
        EXPECT_EQ(wrong, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, PictureIndex, testing::ValuesIn(kRows), RowName);

// The file with its track matrix (ISO BMFF tkhd) set to a, b, c, d (each -1, 0 or 1).
std::string WithTrackMatrix(const std::string& path, int a, int b, int c, int d, const std::string& out) {
    Bytes bytes = ReadFileBytes(path);
    const std::string tag = "tkhd";
    const auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    if (at == bytes.end()) return {};
    size_t matrix = size_t(at - bytes.begin()) + (at[4] == 1 ? 56 : 44);
    for (int value : {a << 16, b << 16, 0, c << 16, d << 16, 0, 0, 0, 1 << 30}) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes[matrix++] = uint8_t(uint32_t(value) >> shift);
    }
    return WriteFileBytes(out, bytes) ? out : std::string();
}

// Every quarter turn and mirroring of the display matrix: each frame is the stored picture moved as the
// matrix moves its pixels (stored (p, q) is shown at (a p + c q, b p + d q), shifted into the frame),
// in the BGR block and in the luma plane alike.
TEST(Orientation, EveryQuarterTurnAndMirroringOfTheMatrix) {
    const std::string plain = MakeScriptedFile("orientation-plain", "mp4",
                                               FF "-f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 3 " X264 "$OUT");
    ASSERT_FALSE(plain.empty());
    UseMediaDetector(true);
    VideoFrameReader stored;
    FrameInfo& storedInfo = stored.Open(plain.c_str());
    ASSERT_TRUE(storedInfo.succeeded);
    const int w = storedInfo.width, h = storedInfo.height;
    TempDir dir;
    struct Turn {
        int a, b, c, d, rotation;
    };
    const Turn turns[] = {{1, 0, 0, 1, 0},   {0, 1, -1, 0, 90}, {-1, 0, 0, -1, 180}, {0, -1, 1, 0, 270},
                          {-1, 0, 0, 1, -1}, {1, 0, 0, -1, -1}, {0, 1, 1, 0, -1},    {0, -1, -1, 0, -1}};
    for (const Turn& t : turns) {
        SCOPED_TRACE(testing::Message() << "matrix " << t.a << " " << t.b << " " << t.c << " " << t.d);
        const std::string path = WithTrackMatrix(plain, t.a, t.b, t.c, t.d,
                                                 dir / ("m" + std::to_string(&t - turns) + ".mp4"));
        ASSERT_FALSE(path.empty());
        VideoFrameReader reader;
        FrameInfo& info = reader.Open(path.c_str());
        ASSERT_TRUE(info.succeeded);
        const bool swapped = t.a == 0;
        ASSERT_EQ(info.width, swapped ? h : w);
        ASSERT_EQ(info.height, swapped ? w : h);
        EXPECT_EQ(info.mirrored, t.a * t.d - t.b * t.c < 0);
        if (t.rotation >= 0) {
            EXPECT_EQ(info.rotation, t.rotation);
        }
        const int tx = -std::min({0, t.a * (w - 1), t.c * (h - 1), t.a * (w - 1) + t.c * (h - 1)});
        const int ty = -std::min({0, t.b * (w - 1), t.d * (h - 1), t.b * (w - 1) + t.d * (h - 1)});
        for (int32_t n = 0; n < info.frameCount; ++n) {
            const Bytes want = ReadBlock(stored, storedInfo, n), got = ReadBlock(reader, info, n);
            const Bytes wantLuma = OurPicture(stored, storedInfo, n, true), gotLuma = OurPicture(reader, info, n, true);
            ASSERT_FALSE(got.empty());
            ASSERT_EQ(gotLuma.size(), wantLuma.size());
            int wrong = 0;
            for (int q = 0; q < h; ++q) {
                for (int p = 0; p < w; ++p) {
                    const int x = t.a * p + t.c * q + tx, y = t.b * p + t.d * q + ty;
                    wrong += std::memcmp(PictureRow(got, info.width, info.height, y) + 3 * x,
                                         PictureRow(want, w, h, q) + 3 * p, 3) != 0;
                    wrong += gotLuma[size_t(y) * size_t(info.width) + size_t(x)] !=
                             wantLuma[size_t(q) * size_t(w) + size_t(p)];
                }
            }
            EXPECT_EQ(wrong, 0) << "frame " << n;
        }
    }
}

}  // namespace
