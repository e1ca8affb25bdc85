// The JPEG codec in process: encode and decode paths, errors, and what a failure leaves behind.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "image/ximage.h"
#include "image/xmemfile.h"
#include "image_test_support.h"

using namespace imagetest;

namespace {

const char kWriteError[] = "Output file write error --- out of disk space?";

CxImage* FromFrame(const Frame& frame) {
    auto* image = new CxImage(0);
    if (!image->CreateFromPixels(frame.rows.data(), frame.width, frame.height, 24, frame.stride, false)) {
        delete image;
        return nullptr;
    }
    return image;
}

// A stream that accepts a budget of bytes and then fails, like a full disk.
class FailingStream : public CxMemStream {
public:
    explicit FailingStream(size_t budget, bool failFlush = false) : m_budget(budget), m_failFlush(failFlush) {}
    size_t Write(const void* buffer, size_t elementSize, size_t count) override {
        const size_t bytes = elementSize * count;
        if (bytes > m_budget) return 0;
        m_budget -= bytes;
        return CxMemStream::Write(buffer, elementSize, count);
    }
    bool Flush() override { return !m_failFlush && CxMemStream::Flush(); }

private:
    size_t m_budget;
    bool m_failFlush;
};

// Start-of-frame fields of an encoded JPEG.
struct FrameHeader {
    int marker = 0;
    int precision = 0;
    int height = 0;
    int width = 0;
    int components = 0;
};

FrameHeader ReadFrameHeader(const std::vector<uint8_t>& jpeg) {
    FrameHeader header;
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const int marker = jpeg[at + 1];
        const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (marker >= 0xC0 && marker <= 0xC3 && at + 10 <= jpeg.size()) {
            header.marker = marker;
            header.precision = jpeg[at + 4];
            header.height = jpeg[at + 5] << 8 | jpeg[at + 6];
            header.width = jpeg[at + 7] << 8 | jpeg[at + 8];
            header.components = jpeg[at + 9];
            return header;
        }
        at += 2 + length;
    }
    return header;
}

double MeanAbsoluteDifference(const CxImage& image, const Frame& frame) {
    double total = 0;
    for (int y = 0; y < frame.height; ++y) {
        const uint8_t* decoded = image.GetBits() + size_t(frame.height - 1 - y) * image.GetRowWidth();
        const uint8_t* source = frame.Pixel(0, y);
        for (int i = 0; i < frame.width * 3; ++i) total += std::abs(int(decoded[i]) - int(source[i]));
    }
    return total / (double(frame.width) * frame.height * 3);
}

}  // namespace

TEST(JpegEncode, RefusesWhatItCannotWrite) {
    CxImage empty;
    uint8_t* buffer = nullptr;
    int32_t size = -7;
    EXPECT_FALSE(empty.Encode(buffer, size, CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(empty.lastError, "null image!!!");
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, -7);

    const Frame frame = PhotoLikeFrame(16, 8);
    std::unique_ptr<CxImage> image(FromFrame(frame));
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->Encode(static_cast<CxStream*>(nullptr), CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(image->lastError, "null file handler");
    for (uint32_t type : {0u, 1u, 2u, 4u, 99u}) {
        EXPECT_FALSE(image->Encode(buffer, size, type));
        EXPECT_STREQ(image->lastError, "Encode: Unknown format");
        EXPECT_EQ(buffer, nullptr);
    }

    // Only an identity grey ramp counts as greyscale; other palette images are refused.
    const std::vector<uint8_t> bytes(64, 0x12);
    CxImage fourBit, zeroPalette, oneBit;
    ASSERT_TRUE(fourBit.CreateFromPixels(bytes.data(), 8, 4, 4, 8, false));
    ASSERT_NE(zeroPalette.Create(8, 4, 8, 0), nullptr);
    ASSERT_TRUE(oneBit.CreateFromPixels(bytes.data(), 8, 4, 1, 8, false));
    for (CxImage* paletted : {&fourBit, &zeroPalette, &oneBit}) {
        EXPECT_FALSE(paletted->Encode(buffer, size, CXIMAGE_FORMAT_JPG));
        EXPECT_STREQ(paletted->lastError, "JPEG can save only RGB or GreyScale images");
    }
    CxImage nearlyGrey;
    ASSERT_TRUE(nearlyGrey.CreateFromPixels(bytes.data(), 8, 4, 8, 8, false));
    nearlyGrey.GetPalette()[200].rgbGreen = 201;
    EXPECT_FALSE(nearlyGrey.Encode(buffer, size, CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(nearlyGrey.lastError, "JPEG can save only RGB or GreyScale images");
    EXPECT_EQ(buffer, nullptr);

    // No pixels at all, and beyond the format's dimension limit: the library's own texts.
    CxImage nothing;
    ASSERT_NE(nothing.Create(0, 0, 24, 0), nullptr);
    EXPECT_FALSE(nothing.Encode(buffer, size, CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(nothing.lastError, "Empty JPEG image (DNL not supported)");

    CxImage tooWide;
    ASSERT_NE(tooWide.Create(70000, 2, 24, 0), nullptr);
    std::memset(tooWide.GetBits(), 0, size_t(tooWide.GetRowWidth()) * 2);
    EXPECT_FALSE(tooWide.Encode(buffer, size, CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(tooWide.lastError, "Maximum supported image dimension is 65500 pixels");
    EXPECT_EQ(buffer, nullptr);
}

TEST(JpegEncode, NonNullBufferIsRefusedAndUntouched) {
    std::unique_ptr<CxImage> image(FromFrame(PhotoLikeFrame(16, 8)));
    uint8_t sentinel = 0;
    uint8_t* buffer = &sentinel;
    int32_t size = 123;
    EXPECT_FALSE(image->Encode(buffer, size, CXIMAGE_FORMAT_JPG));
    EXPECT_EQ(buffer, &sentinel);
    EXPECT_EQ(size, 123);
}

TEST(JpegEncode, MemoryBufferHoldsExactlyTheStreamBytes) {
    const Frame frame = NoiseFrame(200, 120, 7);  // several 4096-byte buffers of output
    std::unique_ptr<CxImage> image(FromFrame(frame));
    const std::vector<uint8_t> before = PixelRows(*image);

    CxMemStream stream;
    ASSERT_TRUE(image->Encode(&stream, CXIMAGE_FORMAT_JPG));
    const int32_t encoded = stream.Size();
    ASSERT_GT(encoded, 3 * 4096);
    EXPECT_EQ(stream.Capacity(), (encoded + 4095) / 4096 * 4096);

    const std::vector<uint8_t> bytes = EncodeJpeg(*image, 75);
    ASSERT_EQ(bytes.size(), size_t(encoded));
    EXPECT_EQ(std::memcmp(bytes.data(), stream.GetBuffer(false), bytes.size()), 0);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
    EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
    // Encoding leaves the image exactly as it was.
    EXPECT_EQ(PixelRows(*image), before);
    EXPECT_EQ(image->GetType(), CXIMAGE_FORMAT_UNKNOWN);
}

TEST(JpegEncode, HeaderCarriesDensityAndComponents) {
    std::unique_ptr<CxImage> colour(FromFrame(PhotoLikeFrame(33, 17)));
    const std::vector<uint8_t> jpeg = EncodeJpeg(*colour, 75);
    ASSERT_GT(jpeg.size(), 20u);
    // APP0 JFIF: units 1 (dots per inch), 96 x 96.
    EXPECT_EQ(jpeg[2], 0xFF);
    EXPECT_EQ(jpeg[3], 0xE0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&jpeg[6]), 5), std::string("JFIF\0", 5));
    EXPECT_EQ(jpeg[13], 1);
    EXPECT_EQ(jpeg[14] << 8 | jpeg[15], 96);
    EXPECT_EQ(jpeg[16] << 8 | jpeg[17], 96);
    FrameHeader header = ReadFrameHeader(jpeg);
    EXPECT_EQ(header.marker, 0xC0);  // baseline
    EXPECT_EQ(header.precision, 8);
    EXPECT_EQ(header.width, 33);
    EXPECT_EQ(header.height, 17);
    EXPECT_EQ(header.components, 3);

    const GreyFrame grey = PhotoLikeGrey(21, 9);
    CxImage greyImage;
    ASSERT_TRUE(greyImage.CreateFromPixels(grey.rows.data(), 21, 9, 8, grey.stride, false));
    header = ReadFrameHeader(EncodeJpeg(greyImage, 75));
    EXPECT_EQ(header.marker, 0xC0);
    EXPECT_EQ(header.components, 1);
}

TEST(JpegEncode, QualityIsClampedAndDefaultsTo75) {
    std::unique_ptr<CxImage> image(FromFrame(PhotoLikeFrame(64, 48)));
    std::vector<uint8_t> defaultQuality;
    {
        uint8_t* buffer = nullptr;
        int32_t size = 0;
        ASSERT_EQ(image->jpegQuality, 75);
        ASSERT_TRUE(image->Encode(buffer, size, CXIMAGE_FORMAT_JPG));
        defaultQuality.assign(buffer, buffer + size);
        std::free(buffer);
    }
    EXPECT_EQ(defaultQuality, EncodeJpeg(*image, 75));
    EXPECT_EQ(EncodeJpeg(*image, 0), EncodeJpeg(*image, 1));
    const std::vector<uint8_t> best = EncodeJpeg(*image, 100);
    EXPECT_EQ(EncodeJpeg(*image, 101), best);
    EXPECT_EQ(EncodeJpeg(*image, 255), best);
    EXPECT_LT(EncodeJpeg(*image, 1).size(), EncodeJpeg(*image, 50).size());
    EXPECT_LT(EncodeJpeg(*image, 50).size(), best.size());
}

TEST(JpegEncode, StreamWriteFailureGivesTheLibraryText) {
    const Frame frame = NoiseFrame(160, 120, 3);
    std::unique_ptr<CxImage> image(FromFrame(frame));
    const std::vector<uint8_t> before = PixelRows(*image);
    const size_t full = EncodeJpeg(*image, 75).size();
    ASSERT_GT(full, 8192u);

    // Fails on the first buffer, on a later one, on the last partial one, and on the flush.
    const struct {
        size_t budget;
        bool failFlush;
    } cases[] = {{0, false}, {4096, false}, {full / 4096 * 4096, false}, {full, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.budget);
        FailingStream stream(c.budget, c.failFlush);
        std::strcpy(image->lastError, "");
        EXPECT_FALSE(image->Encode(&stream, CXIMAGE_FORMAT_JPG));
        EXPECT_STREQ(image->lastError, kWriteError);
        EXPECT_EQ(PixelRows(*image), before);
    }
    FailingStream enough(full);
    EXPECT_TRUE(image->Encode(&enough, CXIMAGE_FORMAT_JPG));
}

TEST(JpegDecode, ColourRoundTripGivesBlueGreenRedRows) {
    for (const auto& size : {std::pair{1, 1}, std::pair{3, 1}, std::pair{17, 9}, std::pair{161, 121}}) {
        SCOPED_TRACE(testing::Message() << size.first << "x" << size.second);
        const Frame frame = PhotoLikeFrame(size.first, size.second);
        std::unique_ptr<CxImage> source(FromFrame(frame));
        std::vector<uint8_t> jpeg = EncodeJpeg(*source, 100);
        ASSERT_FALSE(jpeg.empty());

        CxImage decoded;
        decoded.jpegQuality = 30;
        std::strcpy(decoded.lastError, "an earlier failure");
        ASSERT_TRUE(decoded.Decode(jpeg.data(), uint32_t(jpeg.size()), CXIMAGE_FORMAT_JPG)) << decoded.lastError;
        EXPECT_EQ(decoded.GetWidth(), uint32_t(size.first));
        EXPECT_EQ(decoded.GetHeight(), uint32_t(size.second));
        EXPECT_EQ(decoded.GetBpp(), 24u);
        EXPECT_EQ(decoded.GetPalette(), nullptr);
        EXPECT_EQ(decoded.GetType(), CXIMAGE_FORMAT_JPG);
        EXPECT_EQ(decoded.jpegQuality, 75);
        EXPECT_STREQ(decoded.lastError, "");
        EXPECT_EQ(decoded.GetDibSize(), source->GetDibSize());
        // Chroma is subsampled 2x2: tiny detailed pictures lose more of their colour.
        EXPECT_LT(MeanAbsoluteDifference(decoded, frame), size.first >= 64 ? 3.0 : 12.0);
        // Row padding is cleared, not left as heap bytes.
        for (uint32_t y = 0; y < decoded.GetHeight(); ++y)
            for (uint32_t i = decoded.GetWidth() * 3; i < decoded.GetRowWidth(); ++i)
                ASSERT_EQ(decoded.GetBits()[y * decoded.GetRowWidth() + i], 0);
    }
    // Byte order: pure red decodes to blue 0, green 0, red 255 (within rounding).
    std::unique_ptr<CxImage> red(FromFrame(FlatFrame(16, 16, 0, 0, 255)));
    std::vector<uint8_t> jpeg = EncodeJpeg(*red, 100);
    CxImage decoded;
    ASSERT_TRUE(decoded.Decode(jpeg.data(), uint32_t(jpeg.size()), CXIMAGE_FORMAT_JPG));
    const uint8_t* pixel = decoded.GetBits() + 5 * decoded.GetRowWidth() + 5 * 3;
    EXPECT_LE(pixel[0], 3);
    EXPECT_LE(pixel[1], 3);
    EXPECT_GE(pixel[2], 252);
}

TEST(JpegDecode, GreyRoundTripGivesGreyPalette) {
    const GreyFrame grey = PhotoLikeGrey(45, 30);
    CxImage source;
    ASSERT_TRUE(source.CreateFromPixels(grey.rows.data(), 45, 30, 8, grey.stride, false));
    std::vector<uint8_t> jpeg = EncodeJpeg(source, 100);
    CxImage decoded;
    ASSERT_TRUE(decoded.Decode(jpeg.data(), uint32_t(jpeg.size()), CXIMAGE_FORMAT_JPG)) << decoded.lastError;
    EXPECT_EQ(decoded.GetBpp(), 8u);
    ASSERT_EQ(decoded.GetHeader().biClrUsed, 256u);
    for (uint32_t i = 0; i < 256; ++i) {
        const RGBQUAD entry = decoded.GetPalette()[i];
        ASSERT_TRUE(entry.rgbBlue == i && entry.rgbGreen == i && entry.rgbRed == i) << i;
    }
    EXPECT_EQ(decoded.GetDibSize(), 40 + 1024 + 48 * 30);
    int worst = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 45; ++x)
            worst = std::max(worst, std::abs(decoded.GetBits()[y * 48 + x] - grey.rows[size_t(y) * grey.stride + x]));
    EXPECT_LE(worst, 4);
    // And it encodes again as greyscale.
    EXPECT_EQ(ReadFrameHeader(EncodeJpeg(decoded, 75)).components, 1);
}

TEST(JpegDecode, FailuresKeepThePreviousPicture) {
    const Frame frame = PhotoLikeFrame(24, 16);
    std::unique_ptr<CxImage> image(FromFrame(frame));
    const std::vector<uint8_t> before = PixelRows(*image);
    auto unchanged = [&] {
        EXPECT_TRUE(image->IsValid());
        EXPECT_EQ(image->GetWidth(), 24u);
        EXPECT_EQ(image->GetType(), CXIMAGE_FORMAT_UNKNOWN);
        EXPECT_EQ(PixelRows(*image), before);
    };
    std::vector<uint8_t> jpeg = EncodeJpeg(*image, 75);

    EXPECT_FALSE(image->Decode(jpeg.data(), uint32_t(jpeg.size()), 2));
    EXPECT_STREQ(image->lastError, "Decode: Unknown or wrong format");
    unchanged();

    EXPECT_FALSE(image->Decode(jpeg.data(), 0, CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(image->lastError, "Empty input file");
    unchanged();

    std::vector<uint8_t> garbage = {'G', 'I', 'F', '8', '9', 'a', 0, 1, 2, 3};
    EXPECT_FALSE(image->Decode(garbage.data(), uint32_t(garbage.size()), CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(image->lastError, "Not a JPEG file: starts with 0x47 0x49");
    unchanged();

    // Without a buffer the stream reads zeros, never stale heap bytes.
    EXPECT_FALSE(image->Decode(nullptr, 100, CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(image->lastError, "Not a JPEG file: starts with 0x00 0x00");
    unchanged();

    EXPECT_FALSE(image->Decode(static_cast<CxStream*>(nullptr), CXIMAGE_FORMAT_JPG));
    unchanged();

    // Cut inside the headers: an error, the old picture stays.
    EXPECT_FALSE(image->Decode(jpeg.data(), 100, CXIMAGE_FORMAT_JPG));
    EXPECT_STRNE(image->lastError, "");
    unchanged();
    // A header claiming a picture past the memory ceiling is refused before the pixels are allocated.
    std::vector<uint8_t> huge = jpeg;
    for (size_t at = 2; at + 9 < huge.size(); at += 2 + (size_t(huge[at + 2]) << 8 | huge[at + 3])) {
        if (huge[at + 1] == 0xC0) {
            huge[at + 5] = huge[at + 7] = 0xFF;  // 65280 x 65280
            huge[at + 6] = huge[at + 8] = 0x00;
            break;
        }
    }
    EXPECT_FALSE(image->Decode(huge.data(), uint32_t(huge.size()), CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(image->lastError, "CXIMAGE_MAX_MEMORY exceeded");
    unchanged();
}

TEST(JpegDecode, TruncatedAndCorruptedInputNeverCrashes) {
    const Frame frame = NoiseFrame(40, 24, 11);
    std::unique_ptr<CxImage> source(FromFrame(frame));
    const std::vector<uint8_t> jpeg = EncodeJpeg(*source, 60);

    CxImage target;
    std::unique_ptr<CxImage> previous(FromFrame(FlatFrame(5, 5, 9, 8, 7)));
    int decodedCount = 0, failedCount = 0;
    for (size_t cut = 0; cut < jpeg.size(); cut += 13) {
        ASSERT_TRUE(target.CreateFromPixels(previous->GetBits(), 5, 5, 24, previous->GetRowWidth(), false));
        std::vector<uint8_t> part(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(cut));
        if (target.Decode(part.data(), uint32_t(part.size()), CXIMAGE_FORMAT_JPG)) {
            // The end of the data is replaced by an end-of-image marker: a whole picture comes out.
            EXPECT_EQ(target.GetWidth(), 40u);
            EXPECT_EQ(target.GetHeight(), 24u);
            ++decodedCount;
        } else {
            EXPECT_EQ(target.GetWidth(), 5u);
            EXPECT_EQ(PixelRows(target), PixelRows(*previous));
            ++failedCount;
        }
    }
    EXPECT_GT(decodedCount, 0);
    EXPECT_GT(failedCount, 0);

    // Single corrupted bytes anywhere: success or a clean failure.
    uint32_t state = 12345;
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bad = jpeg;
        state = state * 1664525u + 1013904223u;
        const size_t at = (state >> 8) % bad.size();
        bad[at] = static_cast<uint8_t>(state >> 24);
        if (target.Decode(bad.data(), uint32_t(bad.size()), CXIMAGE_FORMAT_JPG)) {
            EXPECT_TRUE(target.IsValid());
            EXPECT_GT(target.GetWidth(), 0u);
        } else {
            EXPECT_STRNE(target.lastError, "");
        }
    }
}

// Four-component JPEGs (CMYK) are written and read back by libjpeg itself here, to know the
// samples the decoder sees; the image must hold blue = y*k/255, green = m*k/255, red = c*k/255.
namespace {

struct JumpError {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void JumpExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JumpError*>(cinfo->err)->jump, 1); }

bool WriteCmykJpeg(const std::vector<uint8_t>& cmyk, int width, int height, std::vector<uint8_t>& out) {
    jpeg_compress_struct cinfo{};
    JumpError err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JumpExit;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(cmyk.data()) + size_t(cinfo.next_scanline) * width * 4;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    out.assign(buffer, buffer + size);
    std::free(buffer);
    return true;
}

bool ReadRawSamples(std::vector<uint8_t>& jpeg, std::vector<uint8_t>& samples, int& components) {
    jpeg_decompress_struct cinfo{};
    JumpError err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JumpExit;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    components = cinfo.output_components;
    const size_t rowBytes = size_t(cinfo.output_width) * cinfo.output_components;
    samples.resize(rowBytes * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = samples.data() + rowBytes * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

TEST(JpegDecode, CmykIsConvertedToBlueGreenRed) {
    const int width = 19, height = 7;
    std::vector<uint8_t> cmyk(size_t(width) * height * 4);
    for (size_t i = 0; i < cmyk.size(); ++i) cmyk[i] = static_cast<uint8_t>((i * 37 + i / 4 * 11) & 0xFF);
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(WriteCmykJpeg(cmyk, width, height, jpeg));
    std::vector<uint8_t> raw;
    int components = 0;
    ASSERT_TRUE(ReadRawSamples(jpeg, raw, components));
    ASSERT_EQ(components, 4);

    CxImage image;
    ASSERT_TRUE(image.Decode(jpeg.data(), uint32_t(jpeg.size()), CXIMAGE_FORMAT_JPG)) << image.lastError;
    ASSERT_EQ(image.GetBpp(), 24u);
    ASSERT_EQ(image.GetWidth(), uint32_t(width));
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = image.GetBits() + size_t(height - 1 - y) * image.GetRowWidth();
        for (int x = 0; x < width; ++x) {
            const uint8_t* s = &raw[(size_t(y) * width + x) * 4];
            ASSERT_EQ(row[x * 3 + 0], s[2] * s[3] / 255) << x << "," << y;
            ASSERT_EQ(row[x * 3 + 1], s[1] * s[3] / 255) << x << "," << y;
            ASSERT_EQ(row[x * 3 + 2], s[0] * s[3] / 255) << x << "," << y;
        }
    }
}
