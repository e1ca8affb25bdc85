// Tools > Frame Selector...: the view's side of opening the selector. The handlers of the selector's
// messages live with their subsystems (selector/ViewScoring.cpp, output/ViewExport.cpp).
#include "view/CTessaronView.h"

#include "framework/Document.h"
#include "framework/Framework.h"
#include "dialogs/SelectVideoFrames.h"

void CTessaronView::OnFrameSelector() {
    // The crop box stays where it is while the selector is open and after it closes; the box drawn now is
    // the one "Score only the crop box" uses.
    m_selectorBox[0] = m_boxX1, m_selectorBox[1] = m_boxY1, m_selectorBox[2] = m_boxX2, m_selectorBox[3] = m_boxY2;
    if (m_pSelector) m_pSelector->SetBoxAvailable(m_boxX1 != m_boxX2 && m_boxY1 != m_boxY2);
    m_dragging = 0;
    m_boxGrip = 0;
    Invalidate();
    if (!m_pSelector) return;
    m_pSelector->SetListRange(m_frameStart, m_frameEnd);
    m_pSelector->SetViewFrame(m_currentFrame);
    m_pSelector->SetVideoPath(GetDocument() ? GetDocument()->GetPathName() : QString());
    AppFramework().ShowTool(m_pSelector);
}
