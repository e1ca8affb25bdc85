#include "framework/StatusBar.h"

#include <QProgressBar>

CStatusBar* mainStatusBar = nullptr;

namespace {

const char* const kIndicatorText[4] = {"", "CAP", "NUM", "SCRL"};

}  // namespace

CStatusBar::CStatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("StatusBar59393"));
    m_panes[0] = new QLabel(QStringLiteral("Ready"), this);
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
    m_framePane = new QLabel(this);
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
}

QString CStatusBar::FrameText() const { return m_framePane->text(); }
