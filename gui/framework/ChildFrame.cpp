#include "framework/ChildFrame.h"

#include <QEvent>

#include "framework/ScrollView.h"

CChildFrame::CChildFrame() { setAttribute(Qt::WA_DeleteOnClose); }

CChildFrame::~CChildFrame() {
    // The view goes first, so it can close its reader while the document still exists.
    delete m_pView;
    m_pView = nullptr;
    if (onDestroyed) onDestroyed(this);
}

void CChildFrame::SetView(CScrollView* view) {
    m_pView = view;
    setWidget(view);
    if (view) {
        connect(view, &QObject::destroyed, this, [this](QObject* gone) {
            if (gone == m_pView) m_pView = nullptr;
        });
    }
}

CScrollView* CChildFrame::GetActiveView() const { return m_pView; }

QSize CChildFrame::CalcWindowSize(const QSize& clientSize) const {
    QMargins m = contentsMargins();
    return QSize(clientSize.width() + m.left() + m.right(), clientSize.height() + m.top() + m.bottom());
}

void CChildFrame::UpdateSizeLimits() {
    if (isMaximized()) return;
    int width = 0, height = 0;
    if (m_pView && m_pView->GetFrameLimits(&width, &height) && width > 0 && height > 0)
        setMaximumSize(width, height);
    else
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

void CChildFrame::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && isMaximized()) setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    QMdiSubWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMaximized() && !isMinimized()) UpdateSizeLimits();
}
