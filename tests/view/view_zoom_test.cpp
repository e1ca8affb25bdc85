// Seeing and moving through a video: zoom (100 % by default, fit, in and out, Ctrl+wheel), where windows
// open, maximizing, stepping with keys, Go to Frame and the status bar's frame pane.
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QMdiArea>
#include <QTest>
#include <QWheelEvent>

#include "app/MainFrame.h"
#include "dialogs/ViewDialogs.h"
#include "doc/CTessaronDoc.h"
#include "framework/StatusBar.h"
#include "video/VideoFrameReader.h"
#include "tests/support/TestVideos.h"
#include "tests/view/ViewTestFixture.h"

namespace {

class ZoomTest : public ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        if (HasFatalFailure()) return;
        view = OpenView(video);
        ASSERT_NE(view, nullptr);
        Paint(view);
    }
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(view, Qt::Key(key), mods); }
    // Go to Frame with text typed into its field and OK.
    void GoTo(const QString& text) {
        fw.dialogs.push_back([text](QDialog* dialog) {
            auto* go = qobject_cast<GoToFrameDialog*>(dialog);
            EXPECT_NE(go, nullptr);
            if (go) go->Field()->setText(text);
            return static_cast<int>(QDialog::Accepted);
        });
        frame()->Action(ID_GO_TO_FRAME)->trigger();
    }
    CTessaronView* view = nullptr;
};

TEST(FrameOrTime, NumbersAndTimesGiveTheFrameShownThen) {
    struct Row {
        const char* text;
        int frame;  // -1: refused
    } rows[] = {{"0", 0},
                {"249", 249},
                {"250", -1},
                {" 12 ", 12},
                {"4.0", 100},
                {"4s", 100},
                {"0:04", 100},
                {"00:00:04.039", 100},
                {"00:00:04.040", 101},
                {"0:09.96", 249},
                {"0:10", -1},
                {"1:00:00", -1},
                {"abc", -1},
                {"-3", -1},
                {"", -1}};
    for (const Row& row : rows) {
        int frame = -2;
        QString reason;
        // Frames at 25 a second, as the reader tells their times.
        const auto at = [](double seconds) { return static_cast<int>(std::floor(seconds * 25)); };
        const bool ok = ParseFrameOrTime(QString::fromLatin1(row.text), at, 249 / 25.0, 250, &frame, &reason);
        EXPECT_EQ(ok, row.frame >= 0) << row.text;
        if (row.frame >= 0) {
            EXPECT_EQ(frame, row.frame) << row.text;
        } else {
            EXPECT_FALSE(reason.isEmpty()) << row.text;
        }
    }
    EXPECT_EQ(ClockTimeText(3723.4567), "01:02:03.457");
    EXPECT_EQ(ProgressText(3, 12, 0), "3 of 12");
    EXPECT_EQ(ProgressText(3, 12, 3000), "3 of 12, 0:09 left");
    EXPECT_EQ(ProgressText(100, 4000, 60000), "100 of 4000, 39:00 left");
    EXPECT_EQ(ProgressText(1, 4000, 2000), "1 of 4000, 2:13:18 left");
}

TEST_F(ZoomTest, ZoomKeepsFramePixelsAndDrawsReducedSmoothAndEnlargedSharp) {
    ASSERT_EQ(view->m_zoom, 1.0);
    ASSERT_EQ(view->m_fit, 0);
    const QImage actual = Shown(view);

    // Ctrl+minus to 50 %: the picture at half its size, each shown pixel a mean of frame pixels.
    frame()->Action(ID_ZOOM_OUT)->trigger();
    EXPECT_DOUBLE_EQ(view->m_zoom, 2.0 / 3);
    frame()->Action(ID_ZOOM_OUT)->trigger();
    EXPECT_DOUBLE_EQ(view->m_zoom, 0.5);
    EXPECT_EQ(view->GetTotalSize(), QSize(kWidth / 2, kHeight / 2));
    Paint(view);
    EXPECT_TRUE(mainStatusBar->FrameText().endsWith("   50 %")) << mainStatusBar->FrameText().toStdString();

    // Ctrl+wheel up three times: 2/3, 100 %, 150 %; Ctrl+1 back to 100 % shows what it showed at first.
    for (int i = 0; i < 3; ++i) {
        QWheelEvent wheel(QPointF(10, 10), view->viewport()->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &wheel);
    }
    EXPECT_DOUBLE_EQ(view->m_zoom, 1.5);
    frame()->Action(ID_ZOOM_ACTUAL)->trigger();
    Paint(view);
    EXPECT_EQ(Shown(view).copy(0, 0, kWidth, kHeight), actual.copy(0, 0, kWidth, kHeight));

    // 200 %: every frame pixel a sharp 2 x 2 square; the pointer's corners are frame pixels.
    frame()->Action(ID_ZOOM_IN)->trigger();
    frame()->Action(ID_ZOOM_IN)->trigger();
    ASSERT_DOUBLE_EQ(view->m_zoom, 2.0);
    view->horizontalScrollBar()->setValue(0);
    view->verticalScrollBar()->setValue(0);
    Paint(view);
    const QImage enlarged = Shown(view);
    int mismatches = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) mismatches += enlarged.pixel(x, y) != actual.pixel(x / 2, y / 2);
    EXPECT_EQ(mismatches, 0);
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(21, 40));
    QTest::mouseMove(view->viewport(), QPoint(81, 101));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(81, 101));
    EXPECT_EQ(QRect(QPoint(view->m_boxX1, view->m_boxY1), QPoint(view->m_boxX2, view->m_boxY2)),
              QRect(QPoint(10, 20), QPoint(40, 50)));

    // Fit: the whole frame inside the view, whatever its size; the window may then grow freely.
    CChildFrame* child = Frame(view);
    child->resize(child->width() / 2, child->height() / 2);
    frame()->Action(ID_ZOOM_FIT)->trigger();
    ProcessPendingEvents();  // the scroll bars go
    EXPECT_EQ(view->m_fit, 1);
    EXPECT_LE(view->GetTotalSize().width(), view->viewport()->width());
    EXPECT_LE(view->GetTotalSize().height(), view->viewport()->height());
    EXPECT_TRUE(view->GetTotalSize().width() == view->viewport()->width() ||
                view->GetTotalSize().height() == view->viewport()->height());
    EXPECT_EQ(child->maximumWidth(), QWIDGETSIZE_MAX);
}

TEST_F(ZoomTest, KeysAndGoToFrameStepThroughTheVideoAndTheStatusBarFollows) {
    view->setFocus();
    struct Row {
        int key;
        int frame;
    } rows[] = {{Qt::Key_Right, 1},  {Qt::Key_Right, 2}, {Qt::Key_Left, 1}, {Qt::Key_PageDown, 11}, {Qt::Key_Right, 11},
                {Qt::Key_PageUp, 1}, {Qt::Key_Left, 0},  {Qt::Key_Left, 0}, {Qt::Key_End, 11},      {Qt::Key_Home, 0}};
    for (const Row& row : rows) {
        Key(row.key);
        EXPECT_EQ(view->m_currentFrame, row.frame) << row.key;
    }
    Key(Qt::Key_End);
    Paint(view);
    EXPECT_EQ(view->GetDocument()->GetTitle(), view->m_baseTitle + " - 11");
    const double fps = view->m_pFrameInfo->framesPerSecond;
    ASSERT_GT(fps, 0);
    EXPECT_EQ(mainStatusBar->FrameText(), QString("Frame 11 of 12   %1   100 %").arg(ClockTimeText(11 / fps)));

    GoTo("7");
    EXPECT_EQ(view->m_currentFrame, 7);
    GoTo(ClockTimeText(3 / fps));
    EXPECT_EQ(view->m_currentFrame, 3);
    GoTo("12");
    EXPECT_EQ(view->m_currentFrame, 3);
    ASSERT_EQ(fw.messages.size(), 1u);
    EXPECT_TRUE(fw.messages[0].text.startsWith("The video has frames 0 to 11")) << fw.messages[0].text.toStdString();
}

TEST_F(ZoomTest, WindowsOpenCascadedInsideTheMainWindowAndMaximizeFillsIt) {
    QMdiArea* area = frame()->MdiArea();
    const QString second = WorkFile("second.avi");
    ASSERT_TRUE(MakeRawAvi(second, 200, 150, 3));
    CTessaronView* other = OpenView(second);
    ASSERT_NE(other, nullptr);
    const QRect first = Frame(view)->geometry(), next = Frame(other)->geometry();
    EXPECT_EQ(first.topLeft(), QPoint(0, 0));
    EXPECT_GT(next.x(), 0);
    EXPECT_EQ(next.x(), next.y());
    EXPECT_TRUE(area->viewport()->rect().contains(next)) << next.x() << "," << next.y();

    // Maximized, the small window fills the area; restored, it has its size and limits back.
    Frame(other)->showMaximized();
    ProcessPendingEvents();
    EXPECT_EQ(Frame(other)->size(), area->viewport()->size());
    Frame(other)->showNormal();
    ProcessPendingEvents();
    EXPECT_EQ(Frame(other)->geometry(), next);
    EXPECT_LT(Frame(other)->maximumWidth(), QWIDGETSIZE_MAX);
}

TEST_F(ZoomTest, AFrameLargerThanTheMainWindowIsFittedUnlessThePreferenceIsOff) {
    const QString large = WorkFile("large.avi");
    ASSERT_TRUE(MakeRawAvi(large, 1920, 1080, 2));
    for (uint8_t fit : {uint8_t(1), uint8_t(0)}) {
        fitLargeVideos = fit;
        CTessaronView* big = OpenView(large);
        ASSERT_NE(big, nullptr);
        QMdiArea* area = frame()->MdiArea();
        EXPECT_TRUE(area->viewport()->rect().contains(Frame(big)->geometry()));
        EXPECT_EQ(big->m_fit, fit);
        if (fit) {
            EXPECT_LT(big->m_zoom, 1.0);
            EXPECT_LE(big->GetTotalSize().width(), big->viewport()->width());
        } else {
            EXPECT_EQ(big->m_zoom, 1.0);
            EXPECT_EQ(big->GetTotalSize(), QSize(1920, 1080));
        }
        app()->DocTemplate()->CloseDocument(big->GetDocument());
        ProcessPendingEvents();
    }
    fitLargeVideos = 1;
}

// The slider under a video with a key frame every 5 frames: dragged it shows the reader's key frame at or
// before its place, released the exact frame; its label gives number and time; keys move it.
TEST_F(ZoomTest, TheSeekSliderShowsKeyFramesWhileDraggedAndTheExactFrameOnRelease) {
    testsupport::TestVideoRecipe recipe;
    recipe.name = "gop5-h264";
    recipe.width = 160;
    recipe.height = 120;
    recipe.outputArgs = "-c:v libx264 -g 5 -bf 0 -pix_fmt yuv420p";
    recipe.extension = "mp4";
    CTessaronView* gop = OpenView(QString::fromStdString(testsupport::MakeTestVideo(recipe)));
    ASSERT_NE(gop, nullptr);
    QSlider* slider = gop->SeekSlider();
    ASSERT_TRUE(slider->isVisible());
    EXPECT_EQ(slider->maximum(), 11);
    EXPECT_GE(slider->parentWidget()->width(), gop->viewport()->width());
    EXPECT_EQ(gop->SeekLabel()->text(), "Frame 0   00:00:00.000");

    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = Qt::Horizontal;
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = option.sliderValue = slider->value();
    const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
    const QRect groove = slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, slider);
    const int span = groove.width() - handle.width();
    const QPoint to(handle.center().x() + QStyle::sliderPositionFromValue(0, 11, 8, span), handle.center().y());
    Drag(slider, handle.center(), to, false);
    ASSERT_EQ(slider->value(), 8);
    EXPECT_EQ(gop->m_currentFrame, gop->m_pReader->KeyFrameAtOrBefore(8));
    EXPECT_EQ(gop->SeekLabel()->text(), "Frame 8   " + ClockTimeText(8 / 25.0));
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(gop->m_currentFrame, 8);
    SaveScreenshot(Frame(gop), QStringLiteral("seek-slider"));

    // Stepping moves the slider.
    QTest::keyClick(gop, Qt::Key_Right);
    EXPECT_EQ(slider->value(), 9);
    EXPECT_EQ(gop->SeekLabel()->text(), "Frame 9   " + ClockTimeText(9 / 25.0));
    QTest::keyClick(gop, Qt::Key_Home);
    EXPECT_EQ(slider->value(), 0);
}

}  // namespace
