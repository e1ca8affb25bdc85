#pragma once

#include <QLabel>
#include <QStatusBar>

class QProgressBar;

// Status bar with a message pane (pane 0) and the CAP, NUM and SCRL key indicators (panes 1 to 3), plus a
// progress bar that long operations show while they run.
class CStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CStatusBar(QWidget* parent = nullptr);

    // update: repaint at once instead of at the next return to the event loop.
    void SetPaneText(int pane, const QString& text, bool update = true);
    QString GetPaneText(int pane) const;
    // The bar's window text is its message pane.
    void SetWindowText(const QString& text) { SetPaneText(0, text, false); }
    int PaneCount() const { return 4; }

    // Key lock states shown by the indicators (greyed when off).
    void SetIndicators(bool caps, bool num, bool scroll);
    bool IndicatorOn(int pane) const;

    QProgressBar* Progress() const { return m_progress; }
    // The active video's place: "Frame N of M", its time, the score after a sort, the zoom.
    void SetFrameText(const QString& text);
    QString FrameText() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The frame pane's greatest width for the texts shown now.
    void FitFramePane();
    QLabel* m_framePane = nullptr;
    QLabel* m_panes[4] = {};
    QProgressBar* m_progress = nullptr;
};

// The main frame's status bar, for the views' texts in pane 0; null while there is no main frame.
extern CStatusBar* mainStatusBar;
