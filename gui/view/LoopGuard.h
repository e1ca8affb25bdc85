// Keeps the program responsive but safe while a long loop (the sort, the exports) runs on the GUI
// thread. Made on the stack around the loop:
//
//     LoopGuard guard(this, count);          // busy cursor, progress bar in the status bar
//     for (int i = 0; i < count; ++i) {
//         guard.SetPosition(i);
//         if (!CheckForCancel()) break;      // lets waiting events run once; 0: the user ended it
//         ...
//     }                                       // bar and cursor go with the guard; the status
//                                             // bar's message pane shows again what it showed before
//
// For as long as the guard lives, an event filter over the whole application lets paints, exposes,
// moves, resizes and window activation through, drops mouse and keyboard input to client areas and
// menus (shortcuts included), and turns Escape, Ctrl+F4 (or the platform's other Close keys) or a close
// attempt of any of the program's windows into a request to end the operation, which the view's CheckForCancel then
// puts to the user. A close attempt never closes a window while a guard lives, so the view and its document outlive the
// loop. A modal window that the loop itself opens (a question, a report) gets its input as usual. The window manager's
// close request (WM_DELETE_WINDOW on X11) is noted as well for a main window that the toolkit would not tell, because a
// modal dialog (the frame selector) blocks it; the buttons a maximized document window shows in the menu bar work, so
// its close button asks too.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

class CTessaronView;
class QWidget;

class LoopGuard : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // view: whose operation runs. total: rounds the loop will make, the range of the progress bar; 0
    // shows no bar.
    explicit LoopGuard(CTessaronView* view, int total = 0);
    ~LoopGuard() override;
    LoopGuard(const LoopGuard&) = delete;
    LoopGuard& operator=(const LoopGuard&) = delete;

    // The progress bar at position rounds done.
    void SetPosition(int position);
    // One round: the bar at position, then the view's CheckForCancel (1 go on, 0 stop).
    int Round(int position);

    // Lets the waiting events run once, through the filter. True when the user asked to end the
    // operation (Escape, or a close attempt) since the last call.
    bool ProcessEvents();

    // The innermost guard alive, or null.
    static LoopGuard* Active();

    // X11 events: a WM_DELETE_WINDOW message for any window counts as a close attempt.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    // The WM_DELETE_WINDOW atom the filter looks for; looked up from the display when first needed.
    // Tests without a display set it.
    static void SetDeleteWindowAtom(uint32_t atom);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A window opened by the loop itself (modal after the loop began), or a popup of one.
    bool BelongsToLoop(const QWidget* widget) const;
    // A modal window of the loop is up.
    bool LoopWindowUp() const;

    QPointer<CTessaronView> m_view;
    LoopGuard* m_outer;
    QPointer<QWidget> m_modalAtStart;  // the modal window (if any) in which the loop was started
    QString m_statusBefore;            // the message pane's text when the loop began
    bool m_showsProgress = false;
    bool m_endRequested = false;
};
