// The selector's buttons that start the view's work: "Sort" completed and terminated, and the two
// outputs, checked against what lands on disk.
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QComboBox>
#include <QMouseEvent>
#include <QSpinBox>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dialogs/PickDialogs.h"
#include "dialogs/ScorePlot.h"
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
        // The check stays with frame 1, wherever the sort put it.
        EXPECT_EQ(Checked(dlg->CheckedFrames(), dlg->CheckedCount()), std::vector<int>{1});
        ASSERT_EQ(view->m_frameOrder.size(), static_cast<size_t>(kFrames));
        ASSERT_EQ(dlg->FrameList().GetCount(), kFrames);
        for (int i = 0; i < kFrames; ++i) {
            int score = 0, frameNumber = 0;
            ASSERT_EQ(std::sscanf(view->m_frameOrder[static_cast<size_t>(i)].c_str(), "%d %d", &score, &frameNumber),
                      2);
            EXPECT_EQ(dlg->FrameList().GetText(i), QString("%1  -  Original Frame Number %2").arg(i).arg(frameNumber));
            EXPECT_EQ(dlg->FrameList().GetCheck(i), frameNumber == 1 ? 1 : 0);
        }

        // The caret is on the best frame, which the view shows: saving takes what is displayed.
        EXPECT_EQ(dlg->FrameList().GetCaretIndex(), 0);
        EXPECT_EQ(dlg->DisplayedFrame(), view->m_currentFrame);
        EXPECT_EQ(dlg->DisplayedFrame(), dlg->FrameList().Model()->Frame(0));

        // The plot of every frame's score, in frame order, above the list.
        ScorePlot* plot = dlg->Plot();
        ASSERT_TRUE(plot->isVisible());
        EXPECT_LT(plot->geometry().bottom(), dlg->FrameList().geometry().top());
        ASSERT_EQ(plot->Scores().size(), static_cast<size_t>(kFrames));
        for (int f = 0; f < kFrames; ++f)
            EXPECT_EQ(plot->Scores()[static_cast<size_t>(f)],
                      view->m_pickScores[static_cast<size_t>(f)].score.jpegBytes);
        EXPECT_TRUE(plot->Caption().contains("quality 25"));
        // A click on a point shows that frame and makes its item the caret item.
        const QPoint y(0, plot->PlotArea().center().y());
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(plot->XOf(9), y.y()));
        EXPECT_EQ(dlg->DisplayedFrame(), 9);
        EXPECT_EQ(view->m_currentFrame, 9);
        EXPECT_EQ(dlg->FrameList().Model()->Frame(dlg->FrameList().GetCaretIndex()), 9);
        Paint();
        EXPECT_EQ(DrawnFrame(), 9);
        EXPECT_EQ(plot->CurrentFrame(), 9);
        // A drag from frame 3 to frame 6 checks them, besides frame 1.
        Drag(plot, QPoint(plot->XOf(3), y.y()), QPoint(plot->XOf(6), y.y()));
        std::vector<int> frames = Checked(dlg->CheckedFrames(), dlg->CheckedCount());
        std::sort(frames.begin(), frames.end());
        EXPECT_EQ(frames, (std::vector<int>{1, 3, 4, 5, 6}));
        dlg->resize(dlg->width() + 80, dlg->height() + 120);
        SaveScreenshot(dlg, QStringLiteral("selector_plot_after_sort"));
        dlg->resize(dlg->minimumSize());
    });
    EXPECT_TRUE(fw.messages.empty());
}

TEST_F(SelectorTest, ATerminatedSortLeavesTheListAsItWasAndAnUnansweredOneGoesOn) {
    RunSelector([&](SelectVideoFrames* dlg) {
        // Escape while the sort runs, answered Yes.
        fw.messageAnswers = {IDYES};
        QCoreApplication::postEvent(dlg->SortButton(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        QTest::mouseClick(dlg->SortButton(), Qt::LeftButton);
        EXPECT_EQ(fw.MessageTexts(), (std::vector<QString>{"Terminate the Action?", "Operation terminated."}));
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(dlg->windowTitle(), "Video Frame Selector");
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

TEST_F(SelectorTest, AfterSortTheCaretIsOnTheShownFrameAndThatOneIsSaved) {
    const QString out = WorkFile("best.bmp");
    fw.fileAnswers = {out};
    RunSelector([&](SelectVideoFrames* dlg) {
        ClickText(dlg->FrameList(), 5);
        QTest::mouseClick(dlg->SortButton(), Qt::LeftButton);
        const int shown = view->m_currentFrame;
        EXPECT_EQ(dlg->DisplayedFrame(), shown);
        EXPECT_TRUE(dlg->FrameList().GetText(dlg->FrameList().GetCaretIndex()).contains(QString::number(shown)));
        QTest::mouseClick(dlg->SaveButton(), Qt::LeftButton);
        const QByteArray bytes = ReadFile(out);
        ASSERT_EQ(bytes.size(), 54 + 3 * kWidth * kHeight);
        EXPECT_EQ(testsupport::ReadFrameIndex(reinterpret_cast<const uint8_t*>(bytes.constData()) + 14), shown);
    });
}

}  // namespace

namespace {

// Check marks by frame, one per frame.
std::vector<uint8_t> Marks(const SelectVideoFrames* dlg, int frames) {
    std::vector<uint8_t> marks = dlg->CheckedByFrame();
    marks.resize(static_cast<size_t>(frames), 0);
    return marks;
}

TEST_F(SelectorTest, EveryKindOfCheckChangeIsUndoneAndRedone) {
    RunSelector([&](SelectVideoFrames* dlg) {
        QTest::mouseClick(dlg->SortButton(), Qt::LeftButton);
        myCheckListBox& list = dlg->FrameList();
        ScorePlot* plot = dlg->Plot();
        ASSERT_TRUE(plot->isVisible());
        const int y = plot->PlotArea().center().y();
        std::vector<int32_t> picked;
        const struct {
            const char* change;
            std::function<void()> make;
        } rows[] = {
            {"click", [&] { ClickCheck(list, 2); }},
            {"Space",
             [&] {
                 list.setCurrentIndex(list.model()->index(4, 0));
                 QTest::keyClick(&list, Qt::Key_Space);
             }},
            {"range",
             [&] {
                 list.setCurrentIndex(list.model()->index(8, 0));
                 QTest::keyClick(&list, Qt::Key_Space, Qt::ShiftModifier);
             }},
            {"None", [&] { QTest::mouseClick(dlg->CheckNoneButton(), Qt::LeftButton); }},
            {"Invert", [&] { QTest::mouseClick(dlg->InvertButton(), Qt::LeftButton); }},
            {"Check all", [&] { QTest::mouseClick(dlg->CheckAllButton(), Qt::LeftButton); }},
            {"Check best",
             [&] {
                 fw.dialogs.push_back([](QDialog* dialog) {
                     auto* best = dynamic_cast<CheckBestDialog*>(dialog);
                     if (!best) return int(QDialog::Rejected);
                     best->RuleBox()->setCurrentIndex(int(PickRule::EveryFrames));
                     best->CountBox()->setValue(4);
                     return int(QDialog::Accepted);
                 });
                 QTest::mouseClick(dlg->CheckBestButton(), Qt::LeftButton);
                 picked = plot->Picks();
             }},
            {"plot drag", [&] { Drag(plot, QPoint(plot->XOf(5), y), QPoint(plot->XOf(9), y)); }},
        };
        for (const auto& row : rows) {
            SCOPED_TRACE(row.change);
            if (std::string(row.change) == "Check all") dlg->CheckNoneButton()->click();
            const std::vector<uint8_t> before = Marks(dlg, kFrames);
            row.make();
            const std::vector<uint8_t> after = Marks(dlg, kFrames);
            ASSERT_NE(after, before);
            QTest::keyClick(&list, Qt::Key_Z, Qt::ControlModifier);
            EXPECT_EQ(Marks(dlg, kFrames), before);
            EXPECT_EQ(dlg->CheckedCount(), std::count(before.begin(), before.end(), 1));
            QTest::keyClick(&list, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            EXPECT_EQ(Marks(dlg, kFrames), after);
        }
        // "Check best..." marked its picks in the plot: the frames it checked.
        EXPECT_EQ(picked.size(), 3u);
        for (int32_t f : picked) EXPECT_EQ(Marks(dlg, kFrames)[static_cast<size_t>(f)] + 0, 1) << f;
    });
}

TEST_F(SelectorTest, ReopenedTheSelectorShowsTheFrameTheVideoShows) {
    RunSelector([&](SelectVideoFrames* dlg) { EXPECT_EQ(dlg->DisplayedFrame(), 0); });
    view->StepTo(7);
    RunSelector([&](SelectVideoFrames* dlg) {
        EXPECT_EQ(dlg->DisplayedFrame(), 7);
        EXPECT_EQ(dlg->StatusText(), "Displaying frame:  7");
        EXPECT_EQ(dlg->FrameList().Model()->Frame(dlg->FrameList().GetCaretIndex()), 7);
    });
    EXPECT_EQ(view->m_currentFrame, 7);
}

}  // namespace
