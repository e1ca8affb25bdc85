// The once-per-round check of the view's long loops: lets the program repaint and move its windows,
// and asks whether to end the operation when the user pressed Escape or tried to close a window.
#include <QGuiApplication>
#include <optional>

#include "framework/Framework.h"
#include "view/CTessaronView.h"
#include "view/LoopGuard.h"

int CTessaronView::CheckForCancel() {
    Framework& framework = AppFramework();
    framework.BeginWaitCursor();

    // Called outside a guarded loop, the check guards its own round.
    std::optional<LoopGuard> ownGuard;
    LoopGuard* guard = LoopGuard::Active();
    if (!guard) guard = &ownGuard.emplace(this);

    int result = 1;
    if (guard->ProcessEvents()) {
        // The boxes are answered with the pointer: it shows as an arrow over them, not as busy.
        if (qApp) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
        int answer = framework.MessageBox(this, QStringLiteral("Terminate the Action?"), QString(),
                                          MB_YESNO | MB_SETFOREGROUND);
        if (answer == IDYES)
            framework.MessageBox(this, QStringLiteral("Operation terminated."), QString(), MB_OK | MB_SETFOREGROUND);
        if (qApp) QGuiApplication::restoreOverrideCursor();
        // A terminated operation changes nothing the user arranged: each loop keeps the order, the
        // scores and the frame shown as they were before it began.
        if (answer == IDYES) result = 0;
    }

    ownGuard.reset();
    framework.EndWaitCursor();
    return result;
}
