// The cancel check of long loops: what gets through while a loop runs, the question on Escape and on a
// close attempt, what a Yes does, progress and the busy cursor.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QStyle>
#include <QStyleOptionTitleBar>

#include "tests/selector_gui/SelectorTestFixture.h"
#include "view/LoopGuard.h"

namespace {

class LoopTest : public SelectorTest {
protected:
    // A loop of rounds as the long operations make it; before each round, what the user does at
    // that moment. Returns the rounds that were allowed to go on.
    int RunLoop(int rounds, const std::function<void(int)>& during) {
        LoopGuard guard(view, rounds);
        int done = 0;
        for (int i = 0; i < rounds; ++i) {
            if (during) during(i);
            if (!guard.Round(i)) break;
            ++done;
        }
        return done;
    }
    void PostKey(QWidget* target, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, mods));
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, key, mods));
    }
    // Middle of a document window's caption, clear of its buttons.
    static QPoint CaptionPoint(QMdiSubWindow* window) {
        int height = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
        return QPoint(window->width() / 2, height / 2);
    }
    // Middle of the button at the left of a document window's caption that opens its window menu.
    static QPoint WindowMenuPoint(QMdiSubWindow* window) {
        QStyleOptionTitleBar option;
        option.initFrom(window);
        option.subControls = QStyle::SC_All;
        option.titleBarFlags = window->windowFlags();
        option.titleBarState = window->windowState();
        option.icon = window->windowIcon();
        int height = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, window);
        option.rect = QRect(0, 0, window->width(), height);
        return window->style()
            ->subControlRect(QStyle::CC_TitleBar, &option, QStyle::SC_TitleBarSysMenu, window)
            .center();
    }
};

TEST_F(LoopTest, EscapeAnsweredNoLetsTheLoopGoOn) {
    SetOrder({3, 1, 2, 0});
    fw.messageAnswers = {IDNO};
    int done = RunLoop(8, [&](int i) {
        if (i == 3) PostKey(view->viewport(), Qt::Key_Escape);
    });
    EXPECT_EQ(done, 8);
    ASSERT_EQ(fw.messages.size(), 1u);
    EXPECT_EQ(fw.messages[0].text, "Terminate the Action?");
    EXPECT_EQ(fw.messages[0].caption, "");
    EXPECT_EQ(fw.messages[0].style, 0x10004u);
    EXPECT_TRUE(fw.messages[0].hadOwner);
    EXPECT_EQ(view->m_frameOrder.size(), 4u);
    EXPECT_EQ(view->m_pSelector->OrderReset(), 0);
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(LoopTest, EscapeAnsweredYesEndsTheLoopAndLeavesTheOrderAsItWas) {
    SetOrder({3, 1, 2, 0});
    view->m_currentFrame = 2;
    fw.messageAnswers = {IDYES};
    int done = RunLoop(8, [&](int i) {
        if (i == 3) PostKey(view->viewport(), Qt::Key_Escape);
    });
    // The round that took the key is the one that stops.
    EXPECT_EQ(done, 3);
    ASSERT_EQ(fw.messages.size(), 2u);
    EXPECT_EQ(fw.messages[1].text, "Operation terminated.");
    EXPECT_EQ(fw.messages[1].caption, "");
    EXPECT_EQ(fw.messages[1].style, 0x10000u);
    EXPECT_EQ(view->m_frameOrder.size(), 4u);
    EXPECT_EQ(view->m_frameOrder.front(), MakeFrameOrderKey(1003, 3));
    EXPECT_EQ(view->m_currentFrame, 2);
}

TEST_F(LoopTest, OtherKeysAndShortcutsAreDroppedAndInputFlowsAgainAfterwards) {
    QWindow* window = frame()->windowHandle();
    ASSERT_NE(window, nullptr);
    int done = RunLoop(6, [&](int i) {
        if (i == 1) QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);  // File > Open
        if (i == 2) PostKey(view->viewport(), Qt::Key_A);
        if (i == 3) QTest::keyClick(window, Qt::Key_F1);  // Help
    });
    EXPECT_EQ(done, 6);
    EXPECT_TRUE(fw.messages.empty());
    EXPECT_TRUE(fw.fileRequests.empty());
    EXPECT_TRUE(fw.unexpected.empty());

    // Without a loop the same shortcut works.
    fw.fileAnswers = {std::nullopt};
    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(fw.fileRequests.size(), 1u);
}

TEST_F(LoopTest, ClicksInWindowsAndOnMenusAreDropped) {
    QWidget* surface = view->viewport();
    QMenuBar* menus = frame()->menuBar();
    QRect fileMenu = menus->actionGeometry(menus->actions().first());
    int done = RunLoop(5, [&](int i) {
        if (i == 1) {
            QTest::mousePress(surface, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
            QTest::mouseMove(surface, QPoint(60, 50));
            QTest::mouseRelease(surface, Qt::LeftButton, Qt::NoModifier, QPoint(60, 50));
        }
        if (i == 2) QTest::mouseClick(menus, Qt::LeftButton, Qt::NoModifier, fileMenu.center());
    });
    EXPECT_EQ(done, 5);
    EXPECT_EQ(view->m_boxX1, view->m_boxX2);
    EXPECT_EQ(view->m_dragging, 0);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // Afterwards a drag makes a box again.
    QTest::mousePress(surface, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QTest::mouseMove(surface, QPoint(60, 50));
    QTest::mouseRelease(surface, Qt::LeftButton, Qt::NoModifier, QPoint(60, 50));
    EXPECT_EQ(view->m_boxX2 - view->m_boxX1, 40);
}

TEST_F(LoopTest, ACloseAttemptAsksAndNeverClosesAWindow) {
    CChildFrame* child = view->GetParentFrame();
    ASSERT_NE(child, nullptr);
    // No: the loop goes on, the window stays.
    fw.messageAnswers = {IDNO};
    int done = RunLoop(6, [&](int i) {
        if (i == 2) child->close();
    });
    EXPECT_EQ(done, 6);
    ASSERT_EQ(fw.MessageTexts(), std::vector<QString>{"Terminate the Action?"});
    EXPECT_TRUE(child->isVisible());

    // Yes, asked by the main window's close: the loop ends, every window and the document stay.
    fw.messages.clear();
    fw.messageAnswers = {IDYES};
    done = RunLoop(6, [&](int i) {
        if (i == 4) frame()->close();
    });
    EXPECT_EQ(done, 4);
    EXPECT_EQ(fw.MessageTexts(), (std::vector<QString>{"Terminate the Action?", "Operation terminated."}));
    ProcessPendingEvents();
    EXPECT_TRUE(frame()->isVisible());
    EXPECT_EQ(WindowCount(), 1);
    EXPECT_EQ(DocumentCount(), 1);
    EXPECT_EQ(view->GetParentFrame(), child);

    // Closing the main window through its native window (as the window manager does) asks as well.
    fw.messages.clear();
    fw.messageAnswers = {IDNO};
    done = RunLoop(3, [&](int i) {
        if (i == 1) frame()->windowHandle()->close();
    });
    EXPECT_EQ(done, 3);
    EXPECT_EQ(fw.messages.size(), 1u);
    EXPECT_TRUE(frame()->isVisible());
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(LoopTest, EveryCloseRequestAsks) {
    CChildFrame* child = view->GetParentFrame();
    ASSERT_NE(child, nullptr);
    // The window manager's close message (X11's WM_DELETE_WINDOW) for the main window, which a modal
    // selector keeps the toolkit from delivering; another client message is no close request.
    LoopGuard::SetDeleteWindowAtom(321);
    auto clientMessage = [](uint32_t atom) {
        struct {
            uint8_t responseType = 33, format = 32;
            uint16_t sequence = 0;
            uint32_t window = 1, type = 300, data32[5] = {0, 0, 0, 0, 0};
        } event;
        event.data32[0] = atom;
        qintptr result = 0;
        QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", &event, &result);
    };
    struct Row {
        const char* what;
        std::function<void()> request;
        bool asks;
    } rows[] = {
        {"Ctrl+F4 in the view", [&] { PostKey(view, Qt::Key_F4, Qt::ControlModifier); }, true},
        {"Ctrl+W in the view", [&] { PostKey(view, Qt::Key_W, Qt::ControlModifier); }, true},
        {"WM_DELETE_WINDOW", [&] { clientMessage(321); }, true},
        {"another client message", [&] { clientMessage(322); }, false},
        {"the close button of the maximized window in the menu bar",
         [&] {
             QWidget* buttons = nullptr;
             for (QWidget* w : frame()->findChildren<QWidget*>())
                 if (QLatin1String(w->metaObject()->className()) == "QMdi::ControllerWidget" && w->isVisible())
                     buttons = w;
             ASSERT_NE(buttons, nullptr);
             // Its close button is the rightmost.
             const QPoint at(buttons->width() - 4, buttons->height() / 2);
             QTest::mouseMove(buttons, at);
             QTest::mouseClick(buttons, Qt::LeftButton, Qt::NoModifier, at);
         },
         true},
    };
    for (const Row& row : rows) {
        const bool maximized = QString(row.what).contains("maximized");
        if (maximized) child->showMaximized();
        ProcessPendingEvents();
        fw.messages.clear();
        fw.messageAnswers = {IDNO};
        int done = RunLoop(4, [&](int i) {
            if (i == 1) row.request();
        });
        EXPECT_EQ(done, 4) << row.what;
        EXPECT_EQ(fw.messages.size(), row.asks ? 1u : 0u) << row.what;
        EXPECT_TRUE(child->isVisible()) << row.what;
        fw.messageAnswers.clear();
        if (maximized) child->showNormal();
    }
    LoopGuard::SetDeleteWindowAtom(0);
    EXPECT_EQ(WindowCount(), 1);
}

TEST_F(LoopTest, EscapeAndCloseInTheSelectorAskInsteadOfEndingIt) {
    RunSelector([&](SelectVideoFrames* dlg) {
        fw.messageAnswers = {IDNO, IDNO, IDNO};
        QDockWidget* dock = frame()->ToolDock();
        int done = RunLoop(6, [&](int i) {
            if (i == 1) QTest::keyClick(dlg->SortButton(), Qt::Key_Escape);
            // The dock's close box, docked and floating.
            if (i == 2) dock->close();
            if (i == 3) {
                dock->setFloating(true);
                dock->close();
            }
            // A key that would press the focused button does nothing.
            if (i == 4) QTest::keyClick(dlg->NormalButton(), Qt::Key_Space);
        });
        EXPECT_EQ(done, 6);
        EXPECT_EQ(fw.MessageTexts(), (std::vector<QString>(3, "Terminate the Action?")));
        EXPECT_TRUE(dlg->isVisible() && dock->isVisible());
        dock->setFloating(false);
        EXPECT_EQ(dlg->windowTitle(), "Video Frame Selector");
        // And once the loop is over, Escape ends the dialog as usual.
        QTest::keyClick(dlg->SortButton(), Qt::Key_Escape);
        EXPECT_FALSE(dlg->isVisible());
    });
}

TEST_F(LoopTest, PaintsRunBetweenRounds) {
    Paint();
    ASSERT_EQ(DrawnFrame(), 0);
    std::vector<int> drawn;
    RunLoop(3, [&](int i) {
        drawn.push_back(DrawnFrame());
        view->m_currentFrame = 7 + i;
        view->Invalidate();
    });
    drawn.push_back(DrawnFrame());
    EXPECT_EQ(drawn, (std::vector<int>{0, 7, 8, 9}));
}

TEST_F(LoopTest, ProgressAndTheBusyCursorLastAsLongAsTheLoop) {
    QProgressBar* bar = mainStatusBar->Progress();
    ASSERT_FALSE(bar->isVisible());
    std::vector<int> counts;
    bool barShown = true;
    RunLoop(4, [&](int i) {
        counts.push_back(fw.WaitCursorCount());
        barShown = barShown && bar->isVisible() && bar->maximum() == 4;
        if (i == 3) {
            EXPECT_FALSE(SaveScreenshot(frame(), QStringLiteral("loop_progress")).isEmpty());
        }
    });
    EXPECT_TRUE(barShown);
    EXPECT_EQ(fw.progressMaximum, 4);
    EXPECT_EQ(fw.progressValues, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(counts, (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(fw.WaitCursorCount(), 0);
    // The busy cursor came on once for the whole loop: the rounds only nest inside it.
    EXPECT_EQ(fw.waitCursorShown, 1);

    // A check made outside any loop guards itself and leaves nothing behind.
    EXPECT_EQ(view->CheckForCancel(), 1);
    EXPECT_EQ(fw.WaitCursorCount(), 0);
    EXPECT_EQ(LoopGuard::Active(), nullptr);
}

TEST_F(LoopTest, ADocumentWindowMovesByItsCaptionButItsMenuStaysShut) {
    QMdiSubWindow* child = view->GetParentFrame();
    // The pointer rests on a spot before it acts there, as a real one does (the caption reacts to
    // what lies under the pointer).
    auto hover = [&](QPoint at) {
        QTest::mouseMove(child, at + QPoint(3, 1));
        QTest::mouseMove(child, at);
    };
    auto drag = [&] {
        const QPoint from = CaptionPoint(child);
        hover(from);
        QTest::mousePress(child, Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(child, from + QPoint(30, 20));
        QTest::mouseRelease(child, Qt::LeftButton, Qt::NoModifier, from + QPoint(30, 20));
    };
    auto pressMenuButton = [&] {
        hover(WindowMenuPoint(child));
        QTest::mousePress(child, Qt::LeftButton, Qt::NoModifier, WindowMenuPoint(child));
        QTest::mouseRelease(child, Qt::LeftButton, Qt::NoModifier, WindowMenuPoint(child));
    };

    // Without a loop: the caption drags, the button opens the window menu.
    child->move(0, 0);
    drag();
    ASSERT_EQ(child->pos(), QPoint(30, 20));
    pressMenuButton();
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr);
    popup->close();
    ProcessPendingEvents();

    child->move(0, 0);
    RunLoop(4, [&](int i) {
        if (i == 1) drag();
        if (i == 2) pressMenuButton();
    });
    EXPECT_EQ(child->pos(), QPoint(30, 20));
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

}  // namespace
