// Painting the image onto a Qt paint device at its own size, upright, one pixel per pixel.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRect>

#include <memory>
#include <vector>

#include "image/ximage.h"
#include "image_test_support.h"

using namespace imagetest;

namespace {

const QRgb kBackground = qRgb(1, 2, 3);

QImage Canvas(int width, int height) {
    QImage canvas(width, height, QImage::Format_RGB32);
    canvas.fill(kBackground);
    return canvas;
}

std::unique_ptr<CxImage> FromFrame(const Frame& frame) {
    auto image = std::make_unique<CxImage>(0);
    if (!image->CreateFromPixels(frame.rows.data(), frame.width, frame.height, 24, frame.stride, false)) return nullptr;
    return image;
}

QRgb FramePixel(const Frame& frame, int x, int pictureRow) {
    const uint8_t* p = frame.Pixel(x, pictureRow);
    return qRgb(p[2], p[1], p[0]);
}

bool Untouched(const QImage& canvas) {
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.pixel(x, y) != kBackground) return false;
    return true;
}

}  // namespace

TEST(ImageDraw, PaintsUprightAtItsOwnSize) {
    const Frame frame = NoiseFrame(7, 5, 21);  // odd width: padded rows
    std::unique_ptr<CxImage> image = FromFrame(frame);
    QImage canvas = Canvas(16, 12);
    {
        QPainter painter(&canvas);
        EXPECT_EQ(image->Draw(&painter, 3, 2), 1);
        EXPECT_FALSE(painter.hasClipping());
        EXPECT_TRUE(painter.transform().isIdentity());
    }
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const bool inside = x >= 3 && x < 10 && y >= 2 && y < 7;
            const QRgb expected = inside ? FramePixel(frame, x - 3, y - 2) : kBackground;
            ASSERT_EQ(canvas.pixel(x, y), expected) << x << "," << y;
        }
    }

    // The paint-device overload opens its own painter and gives the same picture.
    QImage again = Canvas(16, 12);
    EXPECT_EQ(image->Draw(static_cast<QPaintDevice*>(&again), 3, 2), 1);
    EXPECT_EQ(again, canvas);
}

TEST(ImageDraw, NothingToPaintReturnsZero) {
    std::unique_ptr<CxImage> image = FromFrame(PhotoLikeFrame(6, 4));
    QImage canvas = Canvas(8, 8);
    QPainter painter(&canvas);
    EXPECT_EQ(image->Draw(&painter, 0, 0, 0, -1), 0);
    EXPECT_EQ(image->Draw(&painter, 0, 0, -1, 0), 0);
    EXPECT_EQ(image->Draw(static_cast<QPainter*>(nullptr), 0, 0), 0);
    EXPECT_EQ(image->Draw(static_cast<QPaintDevice*>(nullptr), 0, 0), 0);
    CxImage empty;
    EXPECT_EQ(empty.Draw(&painter, 0, 0), 0);
    CxImage zeroSized;
    ASSERT_NE(zeroSized.Create(0, 3, 24, 0), nullptr);
    EXPECT_EQ(zeroSized.Draw(&painter, 0, 0), 0);
    painter.end();
    EXPECT_EQ(image->Draw(&painter, 0, 0), 0);  // inactive painter
    EXPECT_TRUE(Untouched(canvas));
}

TEST(ImageDraw, ClipRectangleLimitsThePaintAndIsUndoneAfterwards) {
    const Frame frame = PhotoLikeFrame(10, 10);
    std::unique_ptr<CxImage> image = FromFrame(frame);
    QImage canvas = Canvas(12, 12);
    const QRect clip(4, 5, 3, 2);
    {
        QPainter painter(&canvas);
        painter.setClipRect(QRect(0, 0, 12, 6));  // the caller's own clip, intersected with ours
        EXPECT_EQ(image->Draw(&painter, 1, 1, -1, -1, &clip), 1);
        EXPECT_EQ(painter.clipRegion(), QRegion(0, 0, 12, 6));
    }
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 12; ++x) {
            const bool inside = x >= 4 && x < 7 && y == 5;
            ASSERT_EQ(canvas.pixel(x, y), inside ? FramePixel(frame, x - 1, y - 1) : kBackground) << x << "," << y;
        }
    }
}

TEST(ImageDraw, PaletteImagesPaintTheirColours) {
    // 8-bit grey from a greyscale JPEG.
    const GreyFrame grey = PhotoLikeGrey(9, 6);
    CxImage greyImage;
    ASSERT_TRUE(greyImage.CreateFromPixels(grey.rows.data(), 9, 6, 8, grey.stride, false));
    greyImage.jpegQuality = 100;
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(greyImage.Encode(buffer, size, CXIMAGE_FORMAT_JPG));
    CxImage decoded;
    ASSERT_TRUE(decoded.Decode(buffer, uint32_t(size), CXIMAGE_FORMAT_JPG));
    std::free(buffer);
    ASSERT_EQ(decoded.GetBpp(), 8u);

    QImage canvas = Canvas(9, 6);
    EXPECT_EQ(decoded.Draw(static_cast<QPaintDevice*>(&canvas), 0, 0), 1);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 9; ++x) {
            const int level = decoded.GetBits()[size_t(5 - y) * decoded.GetRowWidth() + x];
            ASSERT_EQ(canvas.pixel(x, y), qRgb(level, level, level)) << x << "," << y;
        }
    }

    // Any other 8-bit palette goes through its colour table.
    const std::vector<uint8_t> indices = {0, 7, 200, 0};
    CxImage coloured;
    ASSERT_TRUE(coloured.CreateFromPixels(indices.data(), 3, 1, 8, 4, false));
    coloured.GetPalette()[7] = RGBQUAD{30, 20, 10, 0};
    QImage strip = Canvas(3, 1);
    EXPECT_EQ(coloured.Draw(static_cast<QPaintDevice*>(&strip), 0, 0), 1);
    EXPECT_EQ(strip.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(strip.pixel(1, 0), qRgb(10, 20, 30));
    EXPECT_EQ(strip.pixel(2, 0), qRgb(200, 200, 200));

    // 4-bit rows are not drawn.
    const std::vector<uint8_t> nibbleRows(8, 0x12);
    CxImage nibbles;
    ASSERT_TRUE(nibbles.CreateFromPixels(nibbleRows.data(), 3, 2, 4, 4, false));
    QImage small = Canvas(3, 2);
    EXPECT_EQ(nibbles.Draw(static_cast<QPaintDevice*>(&small), 0, 0), 0);
    EXPECT_TRUE(Untouched(small));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
