// The "Video Frame Selector" on a real video: its controls and layout, the list, the checked set, the
// buttons and the quality control, and what reaches the view.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "dialogs/ScorePlot.h"
#include "framework/DialogUnits.h"
#include "tests/selector_gui/SelectorTestFixture.h"

namespace {

const char* const kOriginalCaption = "Video Frame Selector - Frames in original order.";

TEST_F(SelectorTest, OpensWithEveryControlOfItsLayout) {
    // A crop box that the opening keeps (only the drag ends).
    view->StartBox(10, 10);
    view->TrackBox(50, 40);
    view->m_dragging = 1;

    RunSelector([&](SelectVideoFrames* dlg) {
        EXPECT_EQ(QRect(QPoint(view->m_boxX1, view->m_boxY1), QPoint(view->m_boxX2, view->m_boxY2)),
                  QRect(QPoint(10, 10), QPoint(50, 40)));
        EXPECT_EQ(view->m_dragging, 0);

        EXPECT_EQ(dlg->windowTitle(), "Video Frame Selector");
        // Beside the video, docked at the right of the main window; the video window stays usable.
        EXPECT_FALSE(dlg->isModal());
        EXPECT_TRUE(frame()->ToolDock()->isAncestorOf(dlg));
        EXPECT_EQ(frame()->dockWidgetArea(frame()->ToolDock()), Qt::RightDockWidgetArea);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_EQ(dlg->FirstPos(), 0);
        EXPECT_EQ(dlg->EndPos(), kFrames);
        EXPECT_EQ(dlg->SortGroup()->title(), "Apply \"JPEG-size\" frame sorting algorithm");
        EXPECT_EQ(dlg->NormalButton()->text(), "Normal");
        EXPECT_EQ(dlg->SortButton()->text(), "Sort");
        EXPECT_EQ(dlg->QualityLabel()->text(), "Adjust sort\nquality");
        EXPECT_EQ(dlg->ViewButton().text(), "View");
        EXPECT_TRUE(dlg->ViewButton().isCheckable());
        EXPECT_FALSE(dlg->ViewButton().isChecked());
        EXPECT_EQ(dlg->SaveButton()->text(), "Save displayed frame as a bmp file");
        EXPECT_EQ(dlg->CreateButton()->text(), "Create AVI video file from checked frames");
        EXPECT_EQ(dlg->CloseButton()->text(), "Close");
        EXPECT_TRUE(dlg->CloseButton()->isDefault());
        EXPECT_EQ(dlg->StatusText(), "Displaying frame:  0");
        EXPECT_NE(dlg->StatusLabel()->frameShape(), QFrame::NoFrame);

        QSpinBox* spin = dlg->QualitySpin();
        EXPECT_EQ(spin->minimum(), 1);
        EXPECT_EQ(spin->maximum(), 100);
        EXPECT_EQ(spin->value(), 25);
        EXPECT_EQ(spin->text(), "25");
        QLineEdit* edit = spin->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        EXPECT_FALSE(edit->isReadOnly());
        EXPECT_EQ(dlg->CheckedCountLabel()->text(), "0 checked");
        EXPECT_FALSE(dlg->Plot()->isVisible());

        // Where the layout puts each control at the smallest size, in the dialog font's units.
        DialogUnits du(dlg->fontMetrics());
        EXPECT_EQ(dlg->size(), QSize(du.X(209), du.Y(346)));
        EXPECT_EQ(dlg->minimumSize(), dlg->size());
        EXPECT_EQ(dlg->FrameList().geometry(), du.Rect(7, 7, 195, 142));
        EXPECT_TRUE(dlg->FrameList().isVisible());
        EXPECT_EQ(dlg->CheckedCountLabel()->geometry(), du.Rect(7, 152, 84, 14));
        EXPECT_EQ(dlg->CheckAllButton()->geometry(), du.Rect(93, 152, 45, 14));
        EXPECT_EQ(dlg->CheckNoneButton()->geometry(), du.Rect(141, 152, 28, 14));
        EXPECT_EQ(dlg->InvertButton()->geometry(), du.Rect(172, 152, 30, 14));
        EXPECT_EQ(dlg->SortGroup()->geometry(), du.Rect(7, 174, 195, 50));
        EXPECT_EQ(dlg->NormalButton()->geometry(), du.Rect(14, 187, 32, 14));
        EXPECT_EQ(dlg->SortButton()->geometry(), du.Rect(53, 186, 32, 14));
        EXPECT_EQ(spin->geometry(), du.Rect(93, 187, 30, 14));
        EXPECT_EQ(dlg->QualityLabel()->geometry(), du.Rect(124, 185, 37, 17));
        EXPECT_EQ(dlg->ViewButton().geometry(), du.Rect(163, 186, 32, 14));
        EXPECT_EQ(dlg->SortOptionsPlace(), du.Rect(14, 205, 181, 14));
        EXPECT_EQ(dlg->StatusLabel()->geometry(), du.Rect(17, 227, 170, 21));
        EXPECT_EQ(dlg->SaveButton()->geometry(), du.Rect(17, 252, 170, 14));
        EXPECT_EQ(dlg->CreateButton()->geometry(), du.Rect(17, 270, 170, 14));
        EXPECT_EQ(dlg->CheckBestButton()->geometry(), du.Rect(17, 288, 170, 14));
        EXPECT_EQ(dlg->SaveImagesButton()->geometry(), du.Rect(17, 306, 170, 14));
        EXPECT_EQ(dlg->CloseButton()->geometry(), du.Rect(79, 325, 50, 14));
        // The score choice in the row under Sort; the box check box is there to tick, since a box was
        // drawn when the selector opened.
        EXPECT_EQ(dlg->ScoreBox()->geometry(), du.Rect(14, 205, 64, 14));
        EXPECT_EQ(dlg->BoxOnlyCheck()->geometry(), du.Rect(84, 206, 111, 12));
        EXPECT_EQ(dlg->ScoreBox()->currentText(), "JPEG size");
        EXPECT_TRUE(dlg->BoxOnlyCheck()->isEnabled());
        EXPECT_LE(dlg->BoxOnlyCheck()->sizeHint().width(), dlg->BoxOnlyCheck()->width());
        // Texts fit their controls.
        for (QPushButton* b : {dlg->NormalButton(), dlg->SortButton(), &dlg->ViewButton(), dlg->SaveButton(),
                               dlg->CreateButton(), dlg->CheckBestButton(), dlg->SaveImagesButton(), dlg->CloseButton(),
                               dlg->CheckAllButton(), dlg->CheckNoneButton(), dlg->InvertButton()})
            EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->width()) << b->text().toStdString();
        EXPECT_LE(dlg->QualityLabel()->sizeHint().height(), dlg->QualityLabel()->height() + 2);
        // Every button takes a click at its visible centre (nothing drawn later lies over it).
        for (QPushButton* b : dlg->findChildren<QPushButton*>())
            EXPECT_EQ(dlg->childAt(b->geometry().center()), b) << b->text().toStdString();

        // One item per frame, in original order.
        ASSERT_EQ(dlg->FrameList().GetCount(), kFrames);
        EXPECT_EQ(dlg->FrameList().GetText(0), "0  -  Original Frame Number 0");
        EXPECT_EQ(dlg->FrameList().GetText(11), "11  -  Original Frame Number 11");
        EXPECT_EQ(dlg->FrameList().GetText(12), "");

        dlg->FrameList().setCurrentIndex(dlg->FrameList().model()->index(3, 0));
        dlg->SetStatusText(
            QStringLiteral("Viewing effect of quality parameter\non compression/decompression of frame:  3 "));
        QString shot = SaveScreenshot(dlg, QStringLiteral("selector_dialog"));
        EXPECT_FALSE(shot.isEmpty());
    });
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(SelectorTest, ListsTheOrderOfTheViewUpToItsBound) {
    SetOrder({7, 2, 5, 0, 11, 1, 3, 4, 6, 8, 9, 10, 99});
    RunSelector([&](SelectVideoFrames* dlg) {
        // The entry past the frame count is not listed.
        ASSERT_EQ(dlg->FrameList().GetCount(), kFrames);
        EXPECT_EQ(dlg->FrameList().GetText(0), "0  -  Original Frame Number 7");
        EXPECT_EQ(dlg->FrameList().GetText(1), "1  -  Original Frame Number 2");
        EXPECT_EQ(dlg->FrameList().GetText(11), "11  -  Original Frame Number 10");
        for (int i = 0; i < kFrames; ++i) EXPECT_EQ(dlg->FrameList().GetCheck(i), 0);
    });
}

TEST_F(SelectorTest, ChecksAreCollectedInListOrderAndTheCaretItemIsShown) {
    SetOrder({7, 2, 5, 0, 11, 1, 3, 4, 6, 8, 9, 10});
    RunSelector([&](SelectVideoFrames* dlg) {
        myCheckListBox& list = dlg->FrameList();
        ClickCheck(list, 4);
        ClickCheck(list, 1);
        ClickCheck(list, 2);
        EXPECT_EQ(dlg->CheckedCount(), 3);
        EXPECT_EQ(Checked(dlg->CheckedPositions(), dlg->CheckedCount()), (std::vector<int>{1, 2, 4}));
        EXPECT_EQ(Checked(dlg->CheckedFrames(), dlg->CheckedCount()), (std::vector<int>{2, 5, 11}));
        // Toggling a check box moved the caret there and showed that frame.
        EXPECT_EQ(dlg->DisplayedFrame(), 5);
        EXPECT_EQ(view->m_currentFrame, 5);
        Paint();
        EXPECT_EQ(DrawnFrame(), 5);
        EXPECT_EQ(dlg->StatusText(), "Displaying frame:  5");

        // A second click unchecks.
        ClickCheck(list, 1);
        EXPECT_EQ(Checked(dlg->CheckedFrames(), dlg->CheckedCount()), (std::vector<int>{5, 11}));

        // Extended selection with Shift: the caret item counts, and the space bar checks the selection.
        ClickText(list, 6);
        EXPECT_EQ(dlg->DisplayedFrame(), 3);
        ClickText(list, 9, Qt::ShiftModifier);
        EXPECT_EQ(dlg->DisplayedFrame(), 8);
        EXPECT_EQ(view->m_currentFrame, 8);
        for (int i = 6; i <= 9; ++i)
            EXPECT_EQ((list.selectionModel()->isSelected(list.Model()->index(i)) ? 1 : 0), 1) << i;
        QTest::keyClick(&list, Qt::Key_Space);
        EXPECT_EQ(Checked(dlg->CheckedPositions(), dlg->CheckedCount()), (std::vector<int>{2, 4, 6, 7, 8, 9}));
        EXPECT_EQ(Checked(dlg->CheckedFrames(), dlg->CheckedCount()), (std::vector<int>{5, 11, 3, 4, 6, 8}));
        // The keyboard moves the caret, and the shown frame with it.
        QTest::keyClick(&list, Qt::Key_Up);
        EXPECT_EQ(dlg->DisplayedFrame(), 6);
        EXPECT_EQ(dlg->CheckedCount(), 6);
    });
}

TEST_F(SelectorTest, NormalPutsBackOriginalOrderAndKeepsTheChecks) {
    SetOrder({7, 2, 5, 0, 11, 1, 3, 4, 6, 8, 9, 10});
    RunSelector([&](SelectVideoFrames* dlg) {
        ClickCheck(dlg->FrameList(), 0);
        ClickCheck(dlg->FrameList(), 3);
        ASSERT_EQ(dlg->CheckedCount(), 2);
        QTest::mouseClick(&dlg->ViewButton(), Qt::LeftButton);
        EXPECT_EQ(view->m_previewOn, 1);

        QTest::mouseClick(dlg->NormalButton(), Qt::LeftButton);
        EXPECT_EQ(dlg->windowTitle(), kOriginalCaption);
        // The checks stay with their frames (7 and 0), now at positions 0 and 7.
        EXPECT_EQ(Checked(dlg->CheckedFrames(), dlg->CheckedCount()), (std::vector<int>{0, 7}));
        EXPECT_EQ(dlg->CheckedCountLabel()->text(), "2 checked");
        EXPECT_EQ(dlg->OrderReset(), 0);
        EXPECT_FALSE(dlg->ViewButton().isChecked());
        EXPECT_EQ(view->m_previewOn, 0);
        EXPECT_EQ(view->m_currentFrame, 0);
        ASSERT_EQ(dlg->FrameList().GetCount(), kFrames);
        for (int i = 0; i < kFrames; ++i) {
            EXPECT_EQ(dlg->FrameList().GetText(i), QString("%1  -  Original Frame Number %1").arg(i));
            EXPECT_EQ(dlg->FrameList().GetCheck(i), i == 0 || i == 7 ? 1 : 0) << i;
        }

        QTest::mouseClick(dlg->CheckNoneButton(), Qt::LeftButton);
        QTest::mouseClick(dlg->CreateButton(), Qt::LeftButton);
        ASSERT_EQ(fw.messages.size(), 1u);
        EXPECT_EQ(fw.messages[0].text, "No frames were checked.");
        EXPECT_EQ(fw.messages[0].caption, "Information");
        EXPECT_EQ(fw.messages[0].style, static_cast<unsigned>(MB_OK));
        EXPECT_TRUE(fw.messages[0].hadOwner);
    });
    EXPECT_TRUE(fw.fileRequests.empty());
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(SelectorTest, EveryQualityStepIsStoredAndSwitchesThePreviewOn) {
    RunSelector([&](SelectVideoFrames* dlg) {
        QSpinBox* spin = dlg->QualitySpin();
        spin->setFocus();
        QTest::keyClick(spin, Qt::Key_Up);
        EXPECT_EQ(dlg->Quality(), 26);
        EXPECT_EQ(spin->text(), "26");
        EXPECT_TRUE(dlg->ViewButton().isChecked());
        EXPECT_EQ(view->m_previewOn, 1);

        // The view button switches it off; the next step on again.
        QTest::mouseClick(&dlg->ViewButton(), Qt::LeftButton);
        EXPECT_EQ(view->m_previewOn, 0);
        QTest::keyClick(spin, Qt::Key_Down);
        EXPECT_EQ(dlg->Quality(), 25);
        EXPECT_EQ(view->m_previewOn, 1);

        // Steps beyond the ends of the range are stored as they are; the field stays in range.
        spin->setValue(1);
        QTest::mouseClick(&dlg->ViewButton(), Qt::LeftButton);
        ASSERT_EQ(view->m_previewOn, 0);
        QTest::keyClick(spin, Qt::Key_Down);
        EXPECT_EQ(dlg->Quality(), 0);
        EXPECT_EQ(spin->value(), 1);
        EXPECT_TRUE(dlg->ViewButton().isChecked());
        EXPECT_EQ(view->m_previewOn, 1);
        // Page keys move by one as well, so the stored quality stays within 0 to 101.
        QTest::keyClick(spin, Qt::Key_PageDown);
        EXPECT_EQ(dlg->Quality(), 0);
        spin->setValue(100);
        QTest::keyClick(spin, Qt::Key_PageUp);
        EXPECT_EQ(dlg->Quality(), 101);
        spin->setValue(99);
        QTest::keyClick(spin, Qt::Key_Up);
        QTest::keyClick(spin, Qt::Key_Up);
        EXPECT_EQ(dlg->Quality(), 101);
        EXPECT_EQ(spin->value(), 100);
        EXPECT_EQ(spin->text(), "100");
    });
    // Reopened, the dialog shows the quality it uses (the encoder takes 101 as 100).
    RunSelector([&](SelectVideoFrames* dlg) {
        EXPECT_EQ(dlg->Quality(), 101);
        EXPECT_EQ(dlg->QualitySpin()->value(), 100);
        QTest::keyClick(dlg->QualitySpin(), Qt::Key_Down);
        EXPECT_EQ(dlg->Quality(), 99);
    });
    RunSelector([&](SelectVideoFrames* dlg) {
        EXPECT_EQ(dlg->QualitySpin()->value(), 99);
        EXPECT_FALSE(dlg->ViewButton().isChecked());
    });
}

TEST_F(SelectorTest, AReopenedDialogKeepsTheChecksTheOrderAndTheShownFrameButNotThePreview) {
    SetOrder({7, 2, 5, 0, 11, 1, 3, 4, 6, 8, 9, 10});
    RunSelector([&](SelectVideoFrames* dlg) {
        ClickCheck(dlg->FrameList(), 2);
        ClickCheck(dlg->FrameList(), 4);
        // Return in the quality field applies a typed value and leaves the dialog open.
        QLineEdit* edit = dlg->QualitySpin()->findChild<QLineEdit*>();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, "60");
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(dlg->result(), 0);
        EXPECT_EQ(dlg->Quality(), 60);
        EXPECT_TRUE(dlg->ViewButton().isChecked());
        EXPECT_EQ(view->m_previewOn, 1);
        // The view says so while the preview is on.
        Paint();
        EXPECT_TRUE(view->GetDocument()->GetTitle().endsWith(" [JPEG preview, quality 60]"))
            << view->GetDocument()->GetTitle().toStdString();
        EXPECT_TRUE(fw.statusTexts.back().startsWith("JPEG preview at quality 60: "));
        dlg->setWindowTitle(kOriginalCaption);
    });
    // Closing ended the preview.
    EXPECT_EQ(view->m_previewOn, 0);
    Paint();
    EXPECT_FALSE(view->GetDocument()->GetTitle().contains("preview"));
    RunSelector([&](SelectVideoFrames* dlg) {
        // No Normal or Sort has named the order: the plain caption.
        EXPECT_EQ(dlg->windowTitle(), "Video Frame Selector");
        EXPECT_FALSE(dlg->ViewButton().isChecked());
        EXPECT_EQ(Checked(dlg->CheckedFrames(), dlg->CheckedCount()), (std::vector<int>{5, 11}));
        EXPECT_EQ(dlg->CheckedCountLabel()->text(), "2 checked");
        EXPECT_EQ(dlg->FrameList().GetText(0), "0  -  Original Frame Number 7");
        EXPECT_EQ(dlg->DisplayedFrame(), 11);
        EXPECT_EQ(dlg->StatusText(), "Displaying frame:  11");
        EXPECT_EQ(dlg->QualitySpin()->value(), 60);
        QTest::mouseClick(dlg->NormalButton(), Qt::LeftButton);
    });
    RunSelector([&](SelectVideoFrames* dlg) {
        EXPECT_EQ(dlg->windowTitle(), kOriginalCaption);
        EXPECT_EQ(Checked(dlg->CheckedPositions(), dlg->CheckedCount()), (std::vector<int>{5, 11}));
    });
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(SelectorTest, CheckAllNoneInvertAndShiftSpaceRanges) {
    RunSelector([&](SelectVideoFrames* dlg) {
        myCheckListBox& list = dlg->FrameList();
        auto checked = [&] { return Checked(dlg->CheckedPositions(), dlg->CheckedCount()); };
        QTest::mouseClick(dlg->CheckAllButton(), Qt::LeftButton);
        EXPECT_EQ(dlg->CheckedCount(), kFrames);
        EXPECT_EQ(dlg->CheckedCountLabel()->text(), "12 checked");
        QTest::mouseClick(dlg->CheckNoneButton(), Qt::LeftButton);
        EXPECT_EQ(dlg->CheckedCount(), 0);
        ClickCheck(list, 3);
        // Down to item 6, Shift+Space: 3 to 6 take the state of the last toggle (checked).
        list.setFocus();
        for (int i = 0; i < 3; ++i) QTest::keyClick(&list, Qt::Key_Down);
        QTest::keyClick(&list, Qt::Key_Space, Qt::ShiftModifier);
        EXPECT_EQ(checked(), (std::vector<int>{3, 4, 5, 6}));
        // Item 9 unchecked by Space, then up to 8 and Shift+Space: 8 and 9 unchecked.
        ClickCheck(list, 9);
        ClickCheck(list, 9);
        QTest::keyClick(&list, Qt::Key_Up);
        QTest::keyClick(&list, Qt::Key_Space, Qt::ShiftModifier);
        EXPECT_EQ(checked(), (std::vector<int>{3, 4, 5, 6}));
        QTest::mouseClick(dlg->InvertButton(), Qt::LeftButton);
        EXPECT_EQ(checked(), (std::vector<int>{0, 1, 2, 7, 8, 9, 10, 11}));
        EXPECT_EQ(dlg->CheckedCountLabel()->text(), "8 checked");

        // A bigger dialog gives the list the room.
        const QRect before = list.geometry();
        const QRect closeBefore = dlg->CloseButton()->geometry();
        dlg->resize(dlg->width() + 120, dlg->height() + 200);
        EXPECT_EQ(list.geometry().size(), before.size() + QSize(120, 200));
        EXPECT_EQ(dlg->CloseButton()->geometry().topLeft(), closeBefore.topLeft() + QPoint(60, 200));
        EXPECT_EQ(dlg->childAt(dlg->ViewButton().geometry().center()), &dlg->ViewButton());
        SaveScreenshot(dlg, QStringLiteral("selector_resized"));
        dlg->resize(dlg->minimumSize());
    });
}

TEST_F(SelectorTest, TheViewButtonTakesAMouseClickAtItsVisibleCentre) {
    RunSelector([&](SelectVideoFrames* dlg) {
        QWindow* window = dlg->window()->windowHandle();
        ASSERT_NE(window, nullptr);
        const QPoint centre = dlg->ViewButton().mapTo(dlg->window(), dlg->ViewButton().rect().center());
        // Through the window, as a real click arrives: the widget under the point gets it.
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre);
        EXPECT_TRUE(dlg->ViewButton().isChecked());
        EXPECT_EQ(view->m_previewOn, 1);
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre);
        EXPECT_EQ(view->m_previewOn, 0);
    });
}

TEST_F(SelectorTest, EscapeAndCloseEndTheDialog) {
    fw.dialogs.push_back([](QDialog* dialog) {
        QTest::keyClick(dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog->isVisible());
        return dialog->result();
    });
    frame()->Action(ID_FRAME_SELECTOR)->trigger();
    fw.dialogs.push_back([](QDialog* dialog) {
        auto* selector = qobject_cast<SelectVideoFrames*>(dialog);
        QTest::mouseClick(selector->CloseButton(), Qt::LeftButton);
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        return dialog->result();
    });
    frame()->Action(ID_FRAME_SELECTOR)->trigger();
    EXPECT_TRUE(fw.unexpected.empty());
}

}  // namespace
