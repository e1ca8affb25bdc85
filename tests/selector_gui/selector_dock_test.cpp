// The frame selector beside the video: docked at the right of the main window, not modal, so the video
// steps and zooms while frames are judged and the list follows; it follows the active video window and
// is found where the user left it at the next start.
#include <QScrollBar>

#include "tests/selector_gui/SelectorTestFixture.h"

namespace {

// Tools > Frame Selector... with nothing scripted: shown for real, and it stays open.
SelectVideoFrames* OpenSelector(CMainFrame* frame, CTessaronView* view) {
    frame->MdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(view->GetParentFrame()));
    frame->Action(ID_FRAME_SELECTOR)->trigger();
    QCoreApplication::processEvents();
    return view->m_pSelector;
}

TEST_F(SelectorTest, BesideTheVideoTheVideoStepsAndZoomsAndTheListFollows) {
    SelectVideoFrames* dlg = OpenSelector(frame(), view);
    QDockWidget* dock = frame()->ToolDock();
    ASSERT_TRUE(dlg && dlg->isVisible() && dock->isVisible());
    EXPECT_EQ(frame()->dockWidgetArea(dock), Qt::RightDockWidgetArea);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Steps in the video window move the caret and "Displaying frame"; the view draws the frame.
    view->setFocus();
    for (int i = 0; i < 3; ++i) QTest::keyClick(view, Qt::Key_Right);
    Paint();
    EXPECT_EQ(DrawnFrame(), 3);
    EXPECT_EQ(dlg->DisplayedFrame(), 3);
    EXPECT_EQ(dlg->FrameList().GetCaretIndex(), 3);
    EXPECT_EQ(dlg->StatusText(), "Displaying frame:  3");
    QTest::keyClick(view, Qt::Key_End);
    EXPECT_EQ(dlg->DisplayedFrame(), kFrames - 1);

    // The video zooms and scrolls while the selector is open.
    frame()->Action(ID_ZOOM_IN)->trigger();
    EXPECT_GT(view->m_zoom, 1.0);
    view->ZoomTo(8.0);
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    EXPECT_GT(view->horizontalScrollBar()->value(), 0);

    // A click in the list shows that frame, as before.
    ClickText(dlg->FrameList(), 5);
    Paint();
    EXPECT_EQ(view->m_currentFrame, 5);
    EXPECT_EQ(DrawnFrame(), 5);

    // Floated it goes on working; Escape closes it and the dock with it.
    dock->setFloating(true);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg->isVisible());
    QTest::keyClick(view, Qt::Key_Left);
    EXPECT_EQ(dlg->DisplayedFrame(), 4);
    dock->setFloating(false);
    QTest::keyClick(&dlg->FrameList(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(dock->isVisible());
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(SelectorTest, TheDockFollowsTheActiveVideoWindowAndKeepsItsPlace) {
    CTessaronView* first = view;
    const std::string other = testsupport::MakeTestVideo("selector-dock-96x64x6", 96, 64, 6);
    ASSERT_FALSE(other.empty());
    CTessaronView* second = OpenView(QString::fromStdString(other));
    ASSERT_NE(second, nullptr);
    second->viewport()->repaint();
    SelectVideoFrames* a = OpenSelector(frame(), first);
    ASSERT_TRUE(a && a->isVisible());
    // Another video window made active: its own selector shows, the first one is closed.
    frame()->MdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(second->GetParentFrame()));
    QCoreApplication::processEvents();
    ASSERT_TRUE(second->m_pSelector);
    EXPECT_TRUE(second->m_pSelector->isVisible());
    EXPECT_FALSE(a->isVisible());
    EXPECT_TRUE(frame()->ToolDock()->isVisible());
    // Its video closed, the dock goes.
    frame()->Action(ID_FILE_CLOSE)->trigger();
    QCoreApplication::processEvents();
    ASSERT_EQ(WindowCount(), 1);

    // Put at the left, it is there after the next start.
    frame()->addDockWidget(Qt::LeftDockWidgetArea, frame()->ToolDock());
    frame()->close();
    runner.reset();
    Start();
    view = OpenView(video);
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(frame()->ToolDock()->isVisible()) << "no selector open yet";
    ASSERT_TRUE(OpenSelector(frame(), view));
    EXPECT_EQ(frame()->dockWidgetArea(frame()->ToolDock()), Qt::LeftDockWidgetArea);
    EXPECT_TRUE(fw.unexpected.empty());
}

}  // namespace
