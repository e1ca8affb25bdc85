// Faults once seen in use, each pinned down so it stays mended: Window > Cascade
// shrank every video window to a corner of its picture; "Processing Frame  99" stayed in the status bar
// after a finished Crop and Save; with the quality preview on, the repaint after the save dialog wiped
// out "Frame N saved to ..." at once; a long path was cut off in the selector's status field.
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>

#include "framework/Document.h"
#include "app/MainFrame.h"
#include "dialogs/SelectVideoFrames.h"
#include "tests/gui_support/AppTestFixture.h"
#include "view/CTessaronView.h"

namespace {

class WalkFindingsTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        Start();
    }
    CTessaronView* OpenRaw(const QString& name, int width, int height, int frames) {
        const QString path = WorkFile(name);
        if (!MakeRawAvi(path, width, height, frames)) return nullptr;
        return OpenView(path);
    }
};

TEST_F(WalkFindingsTest, CascadeGivesEveryVideoWindowRoomForItsWholeFrame) {
    CTessaronView* big = OpenRaw("big.avi", 200, 150, 2);
    CTessaronView* small = OpenRaw("small.avi", 120, 90, 2);
    ASSERT_TRUE(big && small);
    frame()->Action(ID_WINDOW_CASCADE)->trigger();
    ProcessPendingEvents();
    for (auto [view, size] : {std::pair{big, QSize(200, 150)}, std::pair{small, QSize(120, 90)}}) {
        EXPECT_EQ(view->viewport()->size(), size);
        EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
        EXPECT_FALSE(view->verticalScrollBar()->isVisible());
    }
    // A window made without a video keeps the toolkit's size.
    frame()->Action(ID_FILE_NEW)->trigger();
    ProcessPendingEvents();
    EXPECT_EQ(WindowCount(), 3);
}

TEST_F(WalkFindingsTest, StatusBarSaysWhatCropAndSaveWroteAndNoProgressStays) {
    CTessaronView* view = OpenRaw("clip.avi", 160, 120, 6);
    ASSERT_NE(view, nullptr);
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 80));
    QTest::mouseMove(view->viewport(), QPoint(40, 20));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 20));
    const QString box = mainStatusBar->GetPaneText(0);
    ASSERT_TRUE(box.startsWith("Box Corner Points:")) << box.toStdString();

    fw.fileAnswers.push_back(WorkFile("crop.avi"));
    frame()->Action(ID_CROP_AND_SAVE)->trigger();
    ProcessPendingEvents();
    ASSERT_TRUE(QFile::exists(WorkFile("crop.avi")));
    int progress = 0;
    for (const QString& text : fw.statusTexts) progress += text.startsWith("Processing Frame") ? 1 : 0;
    EXPECT_EQ(progress, 6);
    EXPECT_EQ(mainStatusBar->GetPaneText(0), QString("Wrote 6 frames to crop.avi (%1 KB)")
                                                 .arg(QFileInfo(WorkFile("crop.avi")).size() / 1000.0, 0, 'f', 0));
    EXPECT_FALSE(mainStatusBar->Progress()->isVisible());
    // The pointer's next move over the picture shows the box again.
    QTest::mouseMove(view->viewport(), QPoint(50, 50));
    EXPECT_EQ(mainStatusBar->GetPaneText(0), box);
}

TEST_F(WalkFindingsTest, SaveReportOutlivesTheRepaintWhilePreviewing) {
    CTessaronView* view = OpenRaw("clip.avi", 96, 64, 4);
    ASSERT_NE(view, nullptr);
    view->viewport()->repaint();
    const QString bmp = WorkFile("frame.bmp");
    fw.fileAnswers.push_back(bmp);
    fw.dialogs.push_back([&](QDialog* dialog) {
        auto* sel = qobject_cast<SelectVideoFrames*>(dialog);
        EXPECT_NE(sel, nullptr);
        if (!sel) return int(QDialog::Rejected);
        // Preview on at quality 24, then the displayed frame saved.
        sel->QualitySpin()->setFocus();
        QTest::keyClick(sel->QualitySpin(), Qt::Key_Down);
        EXPECT_EQ(view->m_previewOn, 1);
        QTest::mouseClick(sel->SaveButton(), Qt::LeftButton);
        const QString report = "Frame 0 saved to " + bmp + ".";
        EXPECT_EQ(sel->StatusText(), report);
        // The picture comes back on the screen (the save dialog has gone): the report stays.
        view->viewport()->repaint();
        ProcessPendingEvents();
        EXPECT_EQ(sel->StatusText(), report);
        // The user's next step writes the status again.
        QTest::keyClick(&sel->FrameList(), Qt::Key_Down);
        ProcessPendingEvents();
        EXPECT_TRUE(sel->StatusText().startsWith("Viewing effect of quality parameter\n"))
            << sel->StatusText().toStdString();
        EXPECT_TRUE(sel->StatusText().endsWith("frame:  1 ")) << sel->StatusText().toStdString();
        return int(QDialog::Accepted);
    });
    frame()->Action(ID_FRAME_SELECTOR)->trigger();
    EXPECT_TRUE(fw.dialogs.empty());
    EXPECT_TRUE(QFile::exists(bmp));
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(WalkFindingsTest, LongStatusTextIsShortenedInItsMiddleNotCutOff) {
    CTessaronView* view = OpenRaw("clip.avi", 96, 64, 2);
    ASSERT_NE(view, nullptr);
    SelectVideoFrames* sel = view->m_pSelector;
    ASSERT_NE(sel, nullptr);
    QLabel* field = sel->StatusLabel();

    const QString shortText = "Frame 3 saved to /tmp/a-3.bmp.";
    sel->SetStatusText(shortText);
    EXPECT_EQ(field->text(), shortText);
    EXPECT_TRUE(field->toolTip().isEmpty());

    const QString deep =
        "/home/someone/Videos/2024 summer/a very long folder name/another level/and one "
        "more/clip-with-a-long-name-12345.bmp";
    const QString longText = "Frame 12345 saved to " + deep + ".";
    sel->SetStatusText(longText);
    EXPECT_EQ(sel->StatusText(), longText);
    EXPECT_EQ(field->toolTip(), longText);
    const QString shown = field->text();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("Frame 12345 saved to")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("12345.bmp.")) << shown.toStdString();
    // As the label lays it out, it takes no more room than two short lines (the field is made for two).
    sel->SetStatusText("Viewing\nframe");
    const int twoLines = field->heightForWidth(field->width());
    sel->SetStatusText(longText);
    EXPECT_LE(field->heightForWidth(field->width()), twoLines) << shown.toStdString();
}

}  // namespace
