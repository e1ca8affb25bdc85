#include "framework/StatusBar.h"

#include <QPainter>
#include <QProgressBar>
#include <QStyle>

#include <algorithm>

CStatusBar* mainStatusBar = nullptr;

namespace {

const char* const kIndicatorText[4] = {"", "CAP", "NUM", "SCRL"};

// A pane that gives up room when the window is narrow and then ends its text with "..." instead of
// cutting it off where the next pane begins; the whole text stays readable as its tool tip.
class ElidingLabel : public QLabel {
public:
    explicit ElidingLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

protected:
    QSize minimumSizeHint() const override {
        QSize size = QLabel::minimumSizeHint();
        size.setWidth(std::min(size.width(), fontMetrics().horizontalAdvance(QStringLiteral("Frame 00000\u2026"))));
        return size;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect room = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, room.width());
        setToolTip(shown == text() ? QString() : text());
        style()->drawItemText(&painter, room, int(alignment()), palette(), isEnabled(), shown, foregroundRole());
    }
};

}  // namespace

CStatusBar::CStatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("StatusBar59393"));
    m_panes[0] = new ElidingLabel(QStringLiteral("Ready"), this);
    m_panes[0]->setTextFormat(Qt::PlainText);
    m_panes[0]->setMinimumWidth(1);
    // The message pane takes the room; temporary prompts (menu help) cover it while they show.
    addWidget(m_panes[0], 1);
    m_progress = new QProgressBar(this);
    m_progress->setMinimumWidth(200);
    m_progress->setMaximumWidth(240);
    m_progress->setMaximumHeight(16);
    m_progress->setTextVisible(false);
    m_progress->hide();
    addPermanentWidget(m_progress);
    m_framePane = new ElidingLabel(QString(), this);
    m_framePane->setObjectName(QStringLiteral("FramePane"));
    m_framePane->setTextFormat(Qt::PlainText);
    m_framePane->hide();
    addPermanentWidget(m_framePane);
    for (int i = 1; i < 4; ++i) {
        m_panes[i] = new QLabel(QString::fromLatin1(kIndicatorText[i]), this);
        m_panes[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_panes[i]->setAlignment(Qt::AlignCenter);
        m_panes[i]->setMinimumWidth(m_panes[i]->sizeHint().width() + 8);
        m_panes[i]->setEnabled(false);
        addPermanentWidget(m_panes[i]);
    }
}

void CStatusBar::SetPaneText(int pane, const QString& text, bool update) {
    if (pane < 0 || pane >= 4) return;
    m_panes[pane]->setText(text);
    if (pane == 0) FitFramePane();
    if (update && m_panes[pane]->isVisible()) m_panes[pane]->repaint();
}

QString CStatusBar::GetPaneText(int pane) const { return pane >= 0 && pane < 4 ? m_panes[pane]->text() : QString(); }

void CStatusBar::SetIndicators(bool caps, bool num, bool scroll) {
    m_panes[1]->setEnabled(caps);
    m_panes[2]->setEnabled(num);
    m_panes[3]->setEnabled(scroll);
}

bool CStatusBar::IndicatorOn(int pane) const { return pane >= 1 && pane < 4 && m_panes[pane]->isEnabled(); }

void CStatusBar::SetFrameText(const QString& text) {
    m_framePane->setText(text);
    m_framePane->setVisible(!text.isEmpty());
    FitFramePane();
}

void CStatusBar::FitFramePane() {
    // The frame pane takes what the message pane's text leaves, but never more than leaves the message
    // pane two fifths: the message (the crop box's corners, what was written) stays readable.
    int others = 0;
    for (int i = 1; i < 4; ++i) others += m_panes[i]->isVisible() ? m_panes[i]->width() : 0;
    if (m_progress->isVisible()) others += m_progress->width();
    const int message = m_panes[0]->fontMetrics().horizontalAdvance(m_panes[0]->text()) + 24;
    const int room = std::max(width() * 2 / 5, width() - others - message);
    if (m_framePane->maximumWidth() != std::max(1, room)) m_framePane->setMaximumWidth(std::max(1, room));
}

QString CStatusBar::FrameText() const { return m_framePane->text(); }

void CStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    FitFramePane();
}
