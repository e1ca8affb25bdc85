// A user's way through the view's commands, offscreen, with screenshots of each step in the build's
// screenshot folder: a box dragged and cropped out, the selector's quality preview at a low quality,
// "Sort", checked frames written, the displayed frame saved.
#include <QFile>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>

#include "app/MainFrame.h"
#include "tests/viewops/ViewOpsFixture.h"

namespace {

TEST_F(ViewOpsTest, WalkThroughTheViewsCommands) {
    const std::string clip = testsupport::MakeCachedFile(
        "viewops-walk-320x240", "avi", "avi",
        "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 30 -c:v rawvideo -pix_fmt bgr24");
    ASSERT_FALSE(clip.empty());
    CTessaronView* view = OpenVideo(clip);
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(SaveScreenshot(frame(), "viewops-1-opened").isEmpty());

    // A box over the middle of the picture, cut out of every frame.
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 170));
    QTest::mouseMove(view->viewport(), QPoint(150, 120));
    QTest::mouseMove(view->viewport(), QPoint(80, 60));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(80, 60));
    view->viewport()->repaint();
    SaveScreenshot(frame(), "viewops-2-box");
    const QString cropped = WorkFile("walk-crop.avi");
    ui.fileAnswers.push_back(cropped);
    frame()->Action(ID_CROP_AND_SAVE)->trigger();
    ProcessPendingEvents();
    SaveScreenshot(frame(), "viewops-3-cropped");
    EXPECT_EQ(opstest::Probe(cropped.toStdString()).decodedFrames, 30);
    EXPECT_EQ(opstest::Probe(cropped.toStdString()).width, 120);

    const QString exported = WorkFile("walk-checked.avi");
    const QString bmp = WorkFile("walk-frame.bmp");
    ui.fileAnswers.push_back(exported);
    ui.fileAnswers.push_back(bmp);
    ui.dialogs.push_back([&](QDialog* dialog) {
        auto* selector = qobject_cast<SelectVideoFrames*>(dialog);
        EXPECT_NE(selector, nullptr);
        if (!selector) return int(QDialog::Rejected);
        ProcessPendingEvents();
        // The quality down to 5 with the spin control's arrow key: every step previews.
        selector->QualitySpin()->setFocus();
        for (int i = 0; i < 20; ++i) QTest::keyClick(selector->QualitySpin(), Qt::Key_Down);
        EXPECT_EQ(selector->Quality(), 5);
        EXPECT_EQ(view->m_previewOn, 1);
        ProcessPendingEvents();
        SaveScreenshot(frame(), "viewops-4-preview-quality-5");
        SaveScreenshot(selector, "viewops-4-preview-quality-5-selector");

        QTest::mouseClick(selector->SortButton(), Qt::LeftButton);
        ProcessPendingEvents();
        EXPECT_EQ(view->m_previewOn, 0);
        SaveScreenshot(frame(), "viewops-5-sorted");
        SaveScreenshot(selector, "viewops-5-sorted-selector");

        // The three most detailed frames written, then the last one checked saved as a BMP file.
        for (int i = 0; i < 3; ++i) {
            myCheckListBox& list = selector->FrameList();
            QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.CheckBoxRect(i).center());
        }
        QTest::mouseClick(selector->CreateButton(), Qt::LeftButton);
        QTest::mouseClick(selector->SaveButton(), Qt::LeftButton);
        ProcessPendingEvents();
        SaveScreenshot(frame(), "viewops-6-saved");
        SaveScreenshot(selector, "viewops-6-saved-selector");
        EXPECT_TRUE(selector->StatusText().startsWith("Frame ")) << selector->StatusText().toStdString();
        EXPECT_TRUE(selector->StatusText().endsWith(" saved to " + bmp + "."));
        return int(QDialog::Accepted);
    });
    frame()->Action(ID_FRAME_SELECTOR)->trigger();
    EXPECT_TRUE(ui.dialogs.empty());
    EXPECT_EQ(opstest::Probe(exported.toStdString()).decodedFrames, 3);
    EXPECT_TRUE(QFile::exists(bmp));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(ui.unexpected.empty());
}

}  // namespace
