// Opening a video in the view, drawing frames, the title and the frame order.
#include <QSlider>
#include <QCheckBox>
#include <QTest>

#include "dialogs/Preferences.h"
#include "tests/view/ViewTestFixture.h"
#include "video/FrameBitmap.h"
#include "video/VideoFrameReader.h"

namespace {

TEST_F(ViewTest, OpeningSizesTheWindowSoTheViewShowsExactlyTheFrame) {
    CTessaronView* view = OpenView(video);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->m_videoOpen);
    EXPECT_EQ(view->m_imageWidth, kWidth);
    EXPECT_EQ(view->m_imageHeight, kHeight);
    ProcessPendingEvents();
    CChildFrame* frame = Frame(view);
    EXPECT_EQ(frame->pos(), QPoint(0, 0));
    EXPECT_EQ(view->viewport()->size(), QSize(kWidth, kHeight));
    // The seek slider's row lies under the picture.
    EXPECT_EQ(view->size(), QSize(kWidth + 4, kHeight + 4 + view->SeekSlider()->parentWidget()->height()));
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(view->verticalScrollBar()->isVisible());
    EXPECT_EQ(frame->size(), QSize(view->m_maxFrameWidth, view->m_maxFrameHeight));

    // The file's status was read when it was opened.
    QFileInfo info(video);
    EXPECT_EQ(view->m_sourceStatus.m_size, info.size());
    EXPECT_EQ(view->m_sourceStatus.m_mtime.tv_sec, info.lastModified().toSecsSinceEpoch());
    EXPECT_EQ(QString::fromStdString(view->m_sourceStatus.m_szFullName), info.canonicalFilePath());

    // The window does not grow beyond the frame; it shrinks freely, and then scrolls.
    frame->resize(frame->width() + 100, frame->height() + 80);
    EXPECT_EQ(frame->size(), QSize(view->m_maxFrameWidth, view->m_maxFrameHeight));
    frame->resize(frame->width() - 100, frame->height() - 80);
    ProcessPendingEvents();
    EXPECT_EQ(frame->size(), QSize(view->m_maxFrameWidth - 100, view->m_maxFrameHeight - 80));
    EXPECT_GT(view->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->horizontalScrollBar()->singleStep(), 10);
}

TEST_F(ViewTest, FrameEndAndFrameOrderBeforeAndAfterTheFirstPaint) {
    CTessaronView* view = OpenView(video, false);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->m_frameEnd, kFrames - 1);
    EXPECT_EQ(view->m_currentFrame, 0);
    ASSERT_EQ(view->m_frameOrder.size(), size_t(kFrames));
    EXPECT_EQ(view->m_frameOrder.front(), "0000000000 0");
    EXPECT_EQ(view->m_frameOrder[1], "0000000001 1");
    EXPECT_EQ(view->m_frameOrder.back(), "0000000011 11");
    EXPECT_EQ(view->m_frameStart, 0);

    Paint(view);
    EXPECT_EQ(view->m_frameEnd, kFrames);
    EXPECT_EQ(Frame(view)->windowTitle(), "clip.avi - 0");
    EXPECT_EQ(view->m_baseTitle, "clip.avi");

    // After a paint the original order holds one entry more than there are frames.
    view->ShowFrame(4);
    view->OrderOriginal();
    EXPECT_EQ(view->m_currentFrame, 0);
    ASSERT_EQ(view->m_frameOrder.size(), size_t(kFrames + 1));
    EXPECT_EQ(view->m_frameOrder.back(), "0000000012 12");

    // A video of no frames gives an empty order and does not loop on.
    view->m_frameEnd = -1;
    view->BuildOriginalOrder();
    EXPECT_TRUE(view->m_frameOrder.empty());
}

TEST_F(ViewTest, FrameOrderKeys) {
    EXPECT_EQ(MakeFrameOrderKey(987, 37), "0000000987 37");
    EXPECT_EQ(MakeFrameOrderKey(-120, 5), "-000000120 5");
    EXPECT_EQ(MakeFrameOrderKey(7, 7), "0000000007 7");
    EXPECT_EQ(MakeFrameOrderKey(2147483647, 0), "2147483647 0");
}

TEST_F(ViewTest, EachPaintShowsTheCurrentFramePixelForPixel) {
    CTessaronView* view = OpenView(video);
    ASSERT_NE(view, nullptr);
    for (int n : {0, 5, kFrames - 1}) {
        view->ShowFrame(n);
        Paint(view);
        EXPECT_EQ(Frame(view)->windowTitle(), QStringLiteral("clip.avi - %1").arg(n));
        QByteArray reference = DecodeFrameWithFfmpeg(video, n);
        ASSERT_EQ(reference.size(), 3 * kWidth * kHeight);
        QImage shown = Shown(view);
        ASSERT_EQ(shown.size(), QSize(kWidth, kHeight));
        int mismatches = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                QRgb want = RawPixel(reference, kWidth, x, y);
                if (shown.pixel(x, y) != want || BlockPixel(view->m_pFrameCopy.get(), kWidth, kHeight, x, y) != want)
                    ++mismatches;
            }
        }
        EXPECT_EQ(mismatches, 0) << "frame " << n;
        EXPECT_EQ(sharedFrameBitmap.block, view->m_pFrameCopy.get());
    }
}

TEST_F(ViewTest, AFrameBeyondTheStreamDrawsNothingNewAndKeepsTheTitle) {
    CTessaronView* view = OpenView(video);
    ASSERT_NE(view, nullptr);
    view->ShowFrame(3);
    Paint(view);
    QImage before = Shown(view);
    uint8_t* copy = view->m_pFrameCopy.get();
    for (int beyond : {kFrames + 40, -5}) {
        view->ShowFrame(beyond);
        Paint(view);
        if (beyond < 0) continue;  // a negative index may show frame 0; only the far end is checked
        EXPECT_EQ(Frame(view)->windowTitle(), "clip.avi - 3");
        EXPECT_EQ(view->m_frameEnd, kFrames);
        EXPECT_EQ(Shown(view), before);
        EXPECT_EQ(view->m_pFrameCopy.get(), copy) << "the copy buffer is reused";
    }
}

TEST_F(ViewTest, ADeinterlaceChangeTakesEffectAtTheNextPaint) {
    CTessaronView* view = OpenView(video);
    ASSERT_NE(view, nullptr);
    view->ShowFrame(2);
    Paint(view);
    const int32_t size = static_cast<int32_t>(FrameBlockSize(kWidth, kHeight));
    QByteArray plain(reinterpret_cast<const char*>(view->m_pFrameCopy.get()), size);

    // Through Preferences: OK with the box checked, and every view redraws.
    fw.dialogs.push_back([](QDialog* d) {
        auto* prefs = qobject_cast<Preferences*>(d);
        prefs->DeinterlaceBox()->click();
        prefs->accept();
        return prefs->result();
    });
    app()->ShowPreferences();
    ASSERT_EQ(deinterlaceEnabled, 1);
    Paint(view);
    QByteArray expected = plain;
    InterpolateLines(reinterpret_cast<uint8_t*>(expected.data()), kWidth, kHeight);
    ASSERT_NE(expected, plain) << "the picture must have something to interpolate";
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(view->m_pFrameCopy.get()), size), expected);

    deinterlaceEnabled = 0;
    Paint(view);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(view->m_pFrameCopy.get()), size), plain);
}

TEST_F(ViewTest, AnEmptyDocumentKeepsAnEmptyView) {
    app()->OnFileNew();
    CDocument* doc = app()->DocTemplate()->GetDocuments().first();
    auto* view = qobject_cast<CTessaronView*>(doc->GetViews().first());
    ASSERT_NE(view, nullptr);
    Paint(view);
    EXPECT_FALSE(view->m_videoOpen);
    EXPECT_EQ(view->m_baseTitle, "Tessaron1") << "captured at the first paint";
    EXPECT_EQ(doc->GetTitle(), "Tessaron1") << "and never changed";
    EXPECT_EQ(view->m_pReader, nullptr);
    EXPECT_FALSE(view->GetFrameLimits(nullptr, nullptr));
}

TEST_F(ViewTest, ClosingTheWindowClosesTheReader) {
    CTessaronView* view = OpenView(video);
    ASSERT_NE(view, nullptr);
    Paint(view);
    Frame(view)->close();
    ProcessPendingEvents();
    EXPECT_EQ(DocumentCount(), 0);
    // The same file opens again in a new window.
    CTessaronView* again = OpenView(video);
    ASSERT_NE(again, nullptr);
    Paint(again);
    EXPECT_EQ(Frame(again)->windowTitle(), "clip.avi - 0");
}

TEST_F(ViewTest, PrintingDrawsTheCurrentFrame) {
    CTessaronView* view = OpenView(video);
    ASSERT_NE(view, nullptr);
    Paint(view);
    QString pdf = WorkFile("frame.pdf");
    fw.printAnswers.push_back(pdf);
    frame()->Action(ID_FILE_PRINT)->trigger();
    EXPECT_TRUE(fw.unexpected.empty());
    EXPECT_GT(QFileInfo(pdf).size(), 1000);
}

}  // namespace
