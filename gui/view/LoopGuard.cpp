#include "view/LoopGuard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionTitleBar>

#include "framework/Framework.h"
#include "framework/StatusBar.h"
#include "view/CTessaronView.h"

namespace {

LoopGuard* activeGuard = nullptr;

// The windows whose closing would end a part of the program: top-level windows and dialogs, and the
// document windows inside the main window. Popups and tool tips close as they like.
bool IsProgramWindow(const QWidget* widget) {
    if (qobject_cast<const QMdiSubWindow*>(widget)) return true;
    if (!widget->isWindow()) return false;
    Qt::WindowType type = widget->windowType();
    return type == Qt::Window || type == Qt::Dialog;
}

// The button at the left of a document window's caption that opens its window menu.
bool OnWindowMenuButton(const QMdiSubWindow* window, const QPoint& point) {
    if (window->isMaximized()) return false;
    QStyleOptionTitleBar option;
    option.initFrom(window);
    option.subControls = QStyle::SC_All;
    option.titleBarFlags = window->windowFlags();
    option.titleBarState = window->windowState();
    option.text = window->windowTitle();
    option.icon = window->windowIcon();
    const int height = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, window);
    const int border = window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
    option.rect = QRect(border, border, window->width() - 2 * border, height - border);
    return window->style()->hitTestComplexControl(QStyle::CC_TitleBar, &option, point, window) ==
           QStyle::SC_TitleBarSysMenu;
}

// Swallows an input event: accepted, so it travels no further up the widget tree.
bool Drop(QEvent* event) {
    event->accept();
    return true;
}

}  // namespace

LoopGuard::LoopGuard(CTessaronView* view, int total)
    : m_view(view), m_outer(activeGuard), m_modalAtStart(QApplication::activeModalWidget()) {
    activeGuard = this;
    if (mainStatusBar) m_statusBefore = mainStatusBar->GetPaneText(0);
    AppFramework().BeginWaitCursor();
    if (total > 0) {
        AppFramework().ShowProgress(total);
        m_showsProgress = true;
    }
    if (qApp) qApp->installEventFilter(this);
}

LoopGuard::~LoopGuard() {
    if (qApp) qApp->removeEventFilter(this);
    if (m_showsProgress) AppFramework().HideProgress();
    // A finished loop leaves no "Processing Frame" text behind that would look as if it still ran.
    AppFramework().SetStatusText(m_statusBefore);
    AppFramework().EndWaitCursor();
    activeGuard = m_outer;
}

LoopGuard* LoopGuard::Active() { return activeGuard; }

void LoopGuard::SetPosition(int position) {
    if (m_showsProgress) AppFramework().SetProgress(position);
}

int LoopGuard::Round(int position) {
    SetPosition(position);
    return m_view ? m_view->CheckForCancel() : 1;
}

bool LoopGuard::ProcessEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    bool requested = m_endRequested;
    m_endRequested = false;
    return requested;
}

bool LoopGuard::LoopWindowUp() const {
    QWidget* modal = QApplication::activeModalWidget();
    return modal && modal != m_modalAtStart;
}

bool LoopGuard::BelongsToLoop(const QWidget* widget) const {
    if (!LoopWindowUp()) return false;
    QWidget* modal = QApplication::activeModalWidget();
    for (const QWidget* window = widget->window(); window;
         window = window->parentWidget() ? window->parentWidget()->window() : nullptr) {
        if (window == modal) return true;
    }
    return false;
}

bool LoopGuard::eventFilter(QObject* watched, QEvent* event) {
    // Events reach the windows of the platform first and are passed on to widgets; they are judged
    // there, where it is known which part of which window they are for.
    if (!watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);

    switch (event->type()) {
    case QEvent::ShortcutOverride:
        if (BelongsToLoop(widget)) return false;
        // Claimed by the widget, so no shortcut fires; the key press that follows is dropped.
        return Drop(event);
    case QEvent::KeyPress:
        if (BelongsToLoop(widget)) return false;
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) m_endRequested = true;
        return Drop(event);
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
        if (BelongsToLoop(widget)) return false;
        return Drop(event);
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        if (BelongsToLoop(widget)) return false;
        // Refused, so the drag source sees that nothing was dropped.
        event->ignore();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove: {
        if (BelongsToLoop(widget)) return false;
        // A document window's own surface is its caption and border: dragging and sizing it work,
        // its window menu does not open. Everything inside windows is client area.
        auto* window = qobject_cast<QMdiSubWindow*>(widget);
        if (!window) return Drop(event);
        if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick) return false;
        if (OnWindowMenuButton(window, static_cast<QMouseEvent*>(event)->position().toPoint())) return Drop(event);
        return false;
    }
    case QEvent::Close:
        if (BelongsToLoop(widget) || !IsProgramWindow(widget)) return false;
        // The window stays open whatever the user answers; while the loop asks something, a
        // close attempt elsewhere is only refused.
        if (!LoopWindowUp()) m_endRequested = true;
        event->ignore();
        return true;
    default: return false;
    }
}
