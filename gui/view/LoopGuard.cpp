#include "view/LoopGuard.h"

#include <QAbstractEventDispatcher>
#include <QDockWidget>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <cstdlib>
#include <cstring>

#if defined(TESSARON_HAVE_XCB) && QT_CONFIG(xcb)
#include <xcb/xcb.h>
#define TESSARON_X11_CLOSE 1
#endif

#include "framework/Framework.h"
#include "framework/StatusBar.h"
#include "view/CTessaronView.h"

namespace {

LoopGuard* activeGuard = nullptr;
uint32_t deleteWindowAtom = 0;
bool deleteWindowAtomLooked = false;

// The X11 protocol's client message event, as the display delivers it.
struct X11ClientMessage {
    uint8_t responseType;
    uint8_t format;
    uint16_t sequence;
    uint32_t window;
    uint32_t type;
    uint32_t data32[5];
};
constexpr uint8_t kX11ClientMessage = 33;

void LookUpDeleteWindowAtom() {
    if (deleteWindowAtom || deleteWindowAtomLooked) return;
    deleteWindowAtomLooked = true;
#ifdef TESSARON_X11_CLOSE
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return;
    static const char kName[] = "WM_DELETE_WINDOW";
    xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 1, sizeof kName - 1, kName);
    if (xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr)) {
        deleteWindowAtom = reply->atom;
        std::free(reply);
    }
#endif
}

// The close request's key: Ctrl+F4, and whatever else the platform calls Close (Ctrl+W).
bool IsCloseKey(QKeyEvent* key) {
    return key->matches(QKeySequence::Close) || (key->key() == Qt::Key_F4 && (key->modifiers() & Qt::ControlModifier));
}

// The minimize, restore and close buttons a maximized document window puts into the menu bar.
// (The class is the toolkit's own; inherits() does not know it by this name.)
bool IsMaximizedWindowButtons(const QWidget* widget) {
    return QLatin1String(widget->metaObject()->className()) == QLatin1String("QMdi::ControllerWidget");
}

// The windows whose closing would end a part of the program: top-level windows and dialogs, and the
// document windows inside the main window. Popups and tool tips close as they like.
bool IsProgramWindow(const QWidget* widget) {
    if (qobject_cast<const QMdiSubWindow*>(widget)) return true;
    // The frame selector's dock, docked or floating: closing it closes the selector.
    if (qobject_cast<const QDockWidget*>(widget)) return true;
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
    LookUpDeleteWindowAtom();
    if (deleteWindowAtom && QAbstractEventDispatcher::instance())
        QAbstractEventDispatcher::instance()->installNativeEventFilter(this);
}

LoopGuard::~LoopGuard() {
    if (QAbstractEventDispatcher::instance()) QAbstractEventDispatcher::instance()->removeNativeEventFilter(this);
    if (qApp) qApp->removeEventFilter(this);
    if (m_showsProgress) AppFramework().HideProgress();
    // A finished loop leaves no "Processing Frame" text behind that would look as if it still ran.
    AppFramework().SetStatusText(m_statusBefore);
    AppFramework().EndWaitCursor();
    activeGuard = m_outer;
}

LoopGuard* LoopGuard::Active() { return activeGuard; }

void LoopGuard::SetDeleteWindowAtom(uint32_t atom) {
    deleteWindowAtom = atom;
    deleteWindowAtomLooked = true;
}

bool LoopGuard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!message || !deleteWindowAtom || eventType != "xcb_generic_event_t") return false;
    X11ClientMessage event;
    std::memcpy(&event, message, sizeof event);
    if ((event.responseType & 0x7f) != kX11ClientMessage || event.format != 32 || event.data32[0] != deleteWindowAtom)
        return false;
    // The toolkit goes on to deliver it (or not, to a window a modal dialog blocks); either way the
    // window stays open and the loop asks.
    if (this == activeGuard && !LoopWindowUp()) m_endRequested = true;
    return false;
}

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
    case QEvent::KeyPress: {
        if (BelongsToLoop(widget)) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape || IsCloseKey(key)) m_endRequested = true;
        return Drop(event);
    }
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
        // Their close button closes the window, which asks (below); the others only move it.
        if (IsMaximizedWindowButtons(widget)) return false;
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
