// Our JPEG bytes and decoded pixels held against tools we did not write: cjpeg, djpeg and Pillow.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "image/ximage.h"
#include "image_test_support.h"

using namespace imagetest;

namespace {

// Offsets of the JFIF density fields (units, X, Y) after SOI and the APP0 marker, length and id.
constexpr size_t kDensityStart = 13;
constexpr size_t kDensityEnd = 18;

// cjpeg writes the library's default density (units 0, 1 x 1); everything else must be identical.
void ExpectSameExceptDensity(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& reference) {
    ASSERT_EQ(ours.size(), reference.size());
    ASSERT_GT(ours.size(), kDensityEnd);
    const std::vector<uint8_t> expectedDensity = {1, 0, 96, 0, 96};
    EXPECT_EQ(std::vector<uint8_t>(ours.begin() + kDensityStart, ours.begin() + kDensityEnd), expectedDensity);
    size_t differences = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        if ((i < kDensityStart || i >= kDensityEnd) && ours[i] != reference[i]) ++differences;
    }
    EXPECT_EQ(differences, 0u);
}

std::unique_ptr<CxImage> FromFrame(const Frame& frame) {
    auto image = std::make_unique<CxImage>(0);
    if (!image->CreateFromPixels(frame.rows.data(), frame.width, frame.height, 24, frame.stride, false)) return nullptr;
    return image;
}

// Our decode of a file against djpeg's, sample for sample.
void ExpectDecodeMatchesDjpeg(const TempDir& dir, const std::string& jpegPath) {
    SCOPED_TRACE(jpegPath);
    const std::string pnm = dir.File("djpeg.pnm");
    ASSERT_EQ(RunCommand("djpeg -pnm -outfile " + ShellQuote(pnm) + " " + ShellQuote(jpegPath)), 0);
    int width = 0, height = 0, channels = 0;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(ReadPnm(pnm, width, height, channels, expected));

    std::vector<uint8_t> jpeg = ReadFileBytes(jpegPath);
    CxImage image;
    ASSERT_TRUE(image.Decode(jpeg.data(), uint32_t(jpeg.size()), CXIMAGE_FORMAT_JPG)) << image.lastError;
    ASSERT_EQ(image.GetWidth(), uint32_t(width));
    ASSERT_EQ(image.GetHeight(), uint32_t(height));
    ASSERT_EQ(image.GetBpp(), channels == 3 ? 24u : 8u);
    size_t mismatches = 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = image.GetBits() + size_t(height - 1 - y) * image.GetRowWidth();
        const uint8_t* want = expected.data() + size_t(y) * width * channels;
        for (int x = 0; x < width; ++x) {
            if (channels == 3)
                mismatches += row[3 * x] != want[3 * x + 2] || row[3 * x + 1] != want[3 * x + 1] ||
                              row[3 * x + 2] != want[3 * x];
            else
                mismatches += row[x] != want[x];
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

}  // namespace

TEST(JpegReference, ColourBytesEqualCjpegBaseline) {
    TempDir dir;
    const struct {
        const char* name;
        Frame frame;
    } images[] = {
        {"flat", FlatFrame(64, 48, 40, 120, 200)},
        {"photo", PhotoLikeFrame(161, 121)},  // odd width: rows carry padding
        {"noise", NoiseFrame(67, 45, 99)},
    };
    for (const auto& image : images) {
        const std::string ppm = dir.File(std::string(image.name) + ".ppm");
        ASSERT_TRUE(WritePpm(ppm, image.frame));
        std::unique_ptr<CxImage> ours = FromFrame(image.frame);
        ASSERT_TRUE(ours);
        for (int quality : {1, 25, 75, 100}) {
            SCOPED_TRACE(testing::Message() << image.name << " quality " << quality);
            const std::string out = dir.File("ref.jpg");
            ASSERT_EQ(RunCommand("cjpeg -quality " + std::to_string(quality) + " -baseline -outfile " +
                                 ShellQuote(out) + " " + ShellQuote(ppm)),
                      0);
            ExpectSameExceptDensity(EncodeJpeg(*ours, quality), ReadFileBytes(out));
        }
    }
}

TEST(JpegReference, GreyBytesEqualCjpegOnGreyInput) {
    TempDir dir;
    const GreyFrame grey = PhotoLikeGrey(75, 50);
    const std::string pgm = dir.File("grey.pgm");
    ASSERT_TRUE(WritePgm(pgm, grey));
    CxImage ours;
    ASSERT_TRUE(ours.CreateFromPixels(grey.rows.data(), 75, 50, 8, grey.stride, false));
    for (int quality : {1, 25, 75, 100}) {
        SCOPED_TRACE(quality);
        const std::string out = dir.File("ref.jpg");
        ASSERT_EQ(RunCommand("cjpeg -quality " + std::to_string(quality) + " -baseline -outfile " + ShellQuote(out) +
                             " " + ShellQuote(pgm)),
                  0);
        ExpectSameExceptDensity(EncodeJpeg(ours, quality), ReadFileBytes(out));
    }
}

TEST(JpegReference, DecodeEqualsDjpeg) {
    TempDir dir;
    const std::string ppm = dir.File("photo.ppm");
    ASSERT_TRUE(WritePpm(ppm, PhotoLikeFrame(161, 121)));
    const struct {
        const char* name;
        const char* options;
    } variants[] = {
        {"subsampled.jpg", "-quality 85"},
        {"full.jpg", "-quality 50 -sample 1x1"},
        {"progressive.jpg", "-quality 70 -progressive"},
        {"restarts.jpg", "-quality 70 -restart 1"},
        {"optimised.jpg", "-quality 90 -optimize"},
        {"grey.jpg", "-quality 80 -grayscale"},
    };
    for (const auto& variant : variants) {
        const std::string jpeg = dir.File(variant.name);
        ASSERT_EQ(RunCommand(std::string("cjpeg ") + variant.options + " -outfile " + ShellQuote(jpeg) + " " +
                             ShellQuote(ppm)),
                  0);
        ExpectDecodeMatchesDjpeg(dir, jpeg);
    }
    // And our own bytes, as djpeg reads them.
    std::unique_ptr<CxImage> ours = FromFrame(PhotoLikeFrame(161, 121));
    const std::string oursPath = dir.File("ours.jpg");
    ASSERT_TRUE(WriteFileBytes(oursPath, EncodeJpeg(*ours, 75)));
    ExpectDecodeMatchesDjpeg(dir, oursPath);
}

TEST(JpegReference, PillowReadsOurJpeg) {
    TempDir dir;
    const Frame frame = PhotoLikeFrame(161, 121);
    const std::string ppm = dir.File("source.ppm");
    const std::string jpeg = dir.File("ours.jpg");
    const std::string report = dir.File("report.txt");
    ASSERT_TRUE(WritePpm(ppm, frame));
    std::unique_ptr<CxImage> ours = FromFrame(frame);
    ASSERT_TRUE(WriteFileBytes(jpeg, EncodeJpeg(*ours, 95)));

    const std::string script = dir.File("check.py");
    const std::string program =
        "import sys\n"
        "from PIL import Image, ImageChops, ImageStat\n"
        "ours = Image.open(sys.argv[1]); ours.load()\n"
        "source = Image.open(sys.argv[2]).convert('RGB')\n"
        "diff = ImageStat.Stat(ImageChops.difference(ours.convert('RGB'), source)).mean\n"
        "print(ours.format, ours.mode, ours.size[0], ours.size[1], ours.layers,\n"
        "      ours.info.get('jfif_unit'), *ours.info.get('jfif_density', (0, 0)),\n"
        "      int(max(diff) < 2.5))\n";
    ASSERT_TRUE(WriteFileBytes(script, std::vector<uint8_t>(program.begin(), program.end())));
    ASSERT_EQ(RunCommand("/usr/bin/python3 " + ShellQuote(script) + " " + ShellQuote(jpeg) + " " + ShellQuote(ppm) +
                         " > " + ShellQuote(report)),
              0);
    const std::vector<uint8_t> text = ReadFileBytes(report);
    EXPECT_EQ(std::string(text.begin(), text.end()), "JPEG RGB 161 121 3 1 96 96 1\n");
}
