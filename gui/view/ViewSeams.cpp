// Tools > Frame Selector...: the view's side of opening the selector. The handlers of the selector's
// messages live with their subsystems (selector/ViewScoring.cpp, output/ViewExport.cpp).
#include "view/CTessaronView.h"

#include "framework/Framework.h"
#include "dialogs/SelectVideoFrames.h"

void CTessaronView::OnFrameSelector() {
    // The crop box stays where it is while the selector is open and after it closes.
    m_dragging = 0;
    m_boxGrip = 0;
    Invalidate();
    if (!m_pSelector) return;
    m_pSelector->SetListRange(m_frameStart, m_frameEnd);
    AppFramework().DoModal(m_pSelector);
    // The quality preview belongs to the selector: closing it shows the frame plainly again.
    if (m_previewOn) ShowQualityPreview(0, 1);
}
