// The view's handlers whose work belongs to the selector, the exports and the long-operation check.
// Each does the part that concerns the view itself; the rest comes with those subsystems.
#include "view/CTessaronView.h"

#include "app/Framework.h"
#include "selector/SelectVideoFrames.h"

LRESULT CTessaronView::SortByJpegSize(WPARAM, LPARAM) { return 0; }

LRESULT CTessaronView::OnExportCheckedFrames(WPARAM, LPARAM) { return 0; }

LRESULT CTessaronView::OnSaveDisplayedFrame(WPARAM, LPARAM) { return 0; }

LRESULT CTessaronView::ShowQualityPreview(WPARAM wParam, LPARAM) {
    if (m_pPaintPainter) {
        // Called by the paint: the preview is drawn in place of the frame. Until the JPEG round trip is
        // wired in, the frame itself is drawn.
        DrawFrameCopy(*m_pPaintPainter);
        return 0;
    }
    m_previewOn = wParam ? 1 : 0;
    Invalidate();
    return 0;
}

void CTessaronView::OnCropAndSave() {}

void CTessaronView::OnFrameSelector() {
    // The crop box goes, and the pointer hint for (0, 0) shows, before the selector opens.
    StartBox(0, 0);
    ShowBoxStatus(0, 0);
    m_dragging = 0;
    Invalidate();
    if (!m_pSelector) return;
    m_pSelector->m_firstPos = m_frameStart;
    m_pSelector->m_endPos = m_frameEnd;
    AppFramework().DoModal(m_pSelector);
}
