// On a screen of two device pixels per view unit the frame still shows one device pixel per image
// pixel, and the crop box corners are frame pixels.
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "tests/view/ViewTestFixture.h"

namespace {

class HiDpiViewTest : public ViewTest {
protected:
    void SetUp() override {
        if (QGuiApplication::primaryScreen()->devicePixelRatio() < 2.0)
            GTEST_SKIP() << "the screen has fewer than two device pixels per view unit";
        ViewTest::SetUp();
    }
};

TEST_F(HiDpiViewTest, FramePixelsAreDevicePixels) {
    CTessaronView* view = OpenView(video);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->viewport()->size(), QSize(kWidth / 2, kHeight / 2));
    view->ShowFrame(4);
    Paint(view);
    QImage shown = Shown(view);
    ASSERT_EQ(shown.size(), QSize(kWidth, kHeight));
    QByteArray reference = DecodeFrameWithFfmpeg(video, 4);
    ASSERT_EQ(reference.size(), 3 * kWidth * kHeight);
    int mismatches = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) mismatches += shown.pixel(x, y) != RawPixel(reference, kWidth, x, y);
    EXPECT_EQ(mismatches, 0);

    // A drag from view point (10, 15) to (40, 35) is a box from frame pixel (20, 30) to (80, 70).
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 15));
    QTest::mouseMove(view->viewport(), QPoint(40, 35));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 35));
    EXPECT_EQ(mainStatusBar->GetPaneText(0), "Box Corner Points: (  20,   30), (  80,   70) - Box Size:    60 by   40");
    ProcessPendingEvents();
    QImage boxed = Shown(view);
    EXPECT_EQ(boxed.pixel(50, 30), Inverted(shown.pixel(50, 30)));
    EXPECT_EQ(boxed.pixel(50, 31), shown.pixel(50, 31)) << "the outline is one device pixel wide";
    EXPECT_EQ(boxed.pixel(80, 50), Inverted(shown.pixel(80, 50)));
    EXPECT_EQ(boxed.pixel(79, 50), shown.pixel(79, 50));
}

}  // namespace

// The scale factor must be set before the application starts.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "2");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
