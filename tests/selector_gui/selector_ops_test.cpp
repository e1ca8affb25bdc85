// The selector's buttons that start the view's work: "Sort" completed and terminated, and the two
// outputs, checked against what lands on disk.
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <cstdio>
#include <cstring>

#include "tests/selector_gui/SelectorTestFixture.h"

namespace {

const char* const kOriginalCaption = "Video Frame Selector - Frames in original order.";
const char* const kSortedCaption = "Video Frame Selector - Sorted by 'JPEG size'.";

// The index shown in top-down BGR rows of width x height.
int IndexOfRows(const QByteArray& rows, int width, int height) {
    if (rows.size() != 3 * width * height || (3 * width) % 4 != 0) return -2;
    std::vector<uint8_t> block(sizeof(BITMAPINFOHEADER) + static_cast<size_t>(rows.size()));
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    std::memcpy(block.data(), &header, sizeof header);
    std::memcpy(block.data() + sizeof header, rows.constData(), static_cast<size_t>(rows.size()));
    return testsupport::ReadFrameIndex(block.data());
}

TEST_F(SelectorTest, ACompletedSortListsTheSortedOrderUnderItsCaption) {
    RunSelector([&](SelectVideoFrames* dlg) {
        dlg->ViewButton().setChecked(true);
        ClickCheck(dlg->FrameList(), 1);
        QTest::mouseClick(dlg->SortButton(), Qt::LeftButton);
        EXPECT_EQ(dlg->windowTitle(), kSortedCaption);
        EXPECT_EQ(dlg->OrderReset(), 0);
        EXPECT_FALSE(dlg->ViewButton().isChecked());
        EXPECT_EQ(dlg->CheckedCount(), 0);
        ASSERT_EQ(view->m_frameOrder.size(), static_cast<size_t>(kFrames));
        ASSERT_EQ(dlg->FrameList().GetCount(), kFrames);
        for (int i = 0; i < kFrames; ++i) {
            int score = 0, frameNumber = 0;
            ASSERT_EQ(std::sscanf(view->m_frameOrder[static_cast<size_t>(i)].c_str(), "%d %d", &score, &frameNumber),
                      2);
            EXPECT_EQ(dlg->FrameList().GetText(i), QString("%1  -  Original Frame Number %2").arg(i).arg(frameNumber));
            EXPECT_EQ(dlg->FrameList().GetCheck(i), 0);
        }
    });
    EXPECT_TRUE(fw.messages.empty());
}

TEST_F(SelectorTest, ATerminatedSortShowsOriginalOrderAndAnUnansweredOneGoesOn) {
    RunSelector([&](SelectVideoFrames* dlg) {
        // Escape while the sort runs, answered Yes.
        fw.messageAnswers = {IDYES};
        QCoreApplication::postEvent(dlg->SortButton(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        QTest::mouseClick(dlg->SortButton(), Qt::LeftButton);
        EXPECT_EQ(fw.MessageTexts(), (std::vector<QString>{"Terminate the Action?", "Operation terminated."}));
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(dlg->windowTitle(), kOriginalCaption);
        EXPECT_EQ(dlg->OrderReset(), 0);
        ASSERT_EQ(dlg->FrameList().GetCount(), kFrames);
        for (int i = 0; i < kFrames; ++i)
            EXPECT_EQ(dlg->FrameList().GetText(i), QString("%1  -  Original Frame Number %1").arg(i));

        // Answered No, the sort finishes.
        fw.messages.clear();
        fw.messageAnswers = {IDNO};
        QCoreApplication::postEvent(dlg->SortButton(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        QTest::mouseClick(dlg->SortButton(), Qt::LeftButton);
        EXPECT_EQ(fw.MessageTexts(), std::vector<QString>{"Terminate the Action?"});
        EXPECT_EQ(dlg->windowTitle(), kSortedCaption);
        EXPECT_EQ(view->m_frameOrder.size(), static_cast<size_t>(kFrames));
    });
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(SelectorTest, CheckedFramesAreWrittenInListOrder) {
    SetOrder({7, 2, 5, 0, 11, 1, 3, 4, 6, 8, 9, 10});
    const QString out = WorkFile("checked.avi");
    fw.fileAnswers = {out};
    RunSelector([&](SelectVideoFrames* dlg) {
        ClickCheck(dlg->FrameList(), 2);
        ClickCheck(dlg->FrameList(), 0);
        ClickCheck(dlg->FrameList(), 1);
        QTest::mouseClick(dlg->CreateButton(), Qt::LeftButton);
    });
    ASSERT_TRUE(QFileInfo::exists(out));
    EXPECT_EQ(IndexOfRows(DecodeFrameWithFfmpeg(out, 0), kWidth, kHeight), 7);
    EXPECT_EQ(IndexOfRows(DecodeFrameWithFfmpeg(out, 1), kWidth, kHeight), 2);
    EXPECT_EQ(IndexOfRows(DecodeFrameWithFfmpeg(out, 2), kWidth, kHeight), 5);
    EXPECT_TRUE(DecodeFrameWithFfmpeg(out, 3).isEmpty());
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(SelectorTest, TheDisplayedFrameIsSavedAsABmpFile) {
    SetOrder({7, 2, 5, 0, 11, 1, 3, 4, 6, 8, 9, 10});
    const QString out = WorkFile("shown.bmp");
    fw.fileAnswers = {out};
    RunSelector([&](SelectVideoFrames* dlg) {
        ClickText(dlg->FrameList(), 1);
        ASSERT_EQ(dlg->DisplayedFrame(), 2);
        QTest::mouseClick(dlg->SaveButton(), Qt::LeftButton);
        EXPECT_EQ(dlg->StatusText(), QString("Frame 2 saved to %1.").arg(out));
    });
    ASSERT_EQ(fw.fileRequests.size(), 1u);
    EXPECT_TRUE(fw.fileRequests[0].proposedName.endsWith("-2.bmp"));
    QByteArray bytes = ReadFile(out);
    ASSERT_EQ(bytes.size(), 54 + 3 * kWidth * kHeight);
    EXPECT_EQ(testsupport::ReadFrameIndex(reinterpret_cast<const uint8_t*>(bytes.constData()) + 14), 2);
}

}  // namespace
