// A document's window inside the main window's MDI area; it holds one view.
#pragma once

#include <QMdiSubWindow>
#include <functional>

class CScrollView;

class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    CChildFrame();
    ~CChildFrame() override;

    void SetView(CScrollView* view);
    CScrollView* GetActiveView() const;

    // The outer size of the frame whose view shows a client area of clientSize.
    QSize CalcWindowSize(const QSize& clientSize) const;
    // Takes the view's frame limits: the window may shrink freely but never grows beyond them.
    void UpdateSizeLimits();

    // Called from the destructor, after the view is gone.
    std::function<void(CChildFrame*)> onDestroyed;

protected:
    // Maximized, the window takes the whole area whatever its limits: they are lifted before the
    // toolkit sizes it and set again when it is restored.
    void changeEvent(QEvent* event) override;

private:
    CScrollView* m_pView = nullptr;
};
