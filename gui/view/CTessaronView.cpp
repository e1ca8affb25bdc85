#include "view/CTessaronView.h"

#include <QPainter>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QScrollBar>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "framework/ChildFrame.h"
#include "framework/Document.h"
#include "framework/Framework.h"
#include "framework/CommandIds.h"
#include "doc/CTessaronDoc.h"
#include "dialogs/SelectVideoFrames.h"
#include "video/FrameBitmap.h"
#include "video/VideoFrameReader.h"
#include "view/FrameImage.h"
#include "view/LoopGuard.h"

CTessaronView::CTessaronView(CDocument* document, QWidget* parent) : CScrollView(document, parent) {
    setObjectName(QStringLiteral("CTessaronView"));
    // The sunken edge takes 2 pixels on each side: the 4 pixels the child frame adds to the frame size.
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    // Frames are painted over the previous picture; nothing fills the view with a colour in between.
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    viewport()->setCursor(Qt::CrossCursor);
    m_pSelector = new SelectVideoFrames(this, this, &m_frameOrder);
    // The quality preview belongs to the selector: closing it shows the frame plainly again.
    connect(m_pSelector, &QDialog::finished, this, [this] {
        if (m_previewOn) QualityPreview(false);
    });
    MakeSeekSlider();
}

CTessaronView::~CTessaronView() {
    DetachSharedBitmap();
    delete m_pSelector;
    m_pSelector = nullptr;
    if (m_videoOpen && m_pReader) {
        m_pReader->Close(*m_pFrameInfo);
        m_videoOpen = 0;
    }
    m_pFrameInfo = nullptr;
    m_pReader.reset();
}

qreal CTessaronView::PixelRatio() const {
    qreal ratio = viewport()->devicePixelRatioF();
    return ratio > 0 ? ratio : 1.0;
}

QSize CTessaronView::LogicalFrameSize() const {
    const qreal scale = m_zoom / PixelRatio();
    return QSize(static_cast<int>(std::ceil(m_imageWidth * scale - 1e-9)),
                 static_cast<int>(std::ceil(m_imageHeight * scale - 1e-9)));
}

void CTessaronView::OnInitialUpdate() {
    CScrollView::OnInitialUpdate();
    CDocument* doc = GetDocument();
    QString path = doc ? doc->GetPathName() : QString();
    if (path.isEmpty() || m_videoOpen) return;

    QByteArray utf8 = path.toUtf8();
    std::string error;
    if (!CFileStatus::GetStatus(utf8.constData(), &m_sourceStatus, &error)) {
        AppFramework().MessageBox(
            this, QStringLiteral("Cannot read the file \"%1\".\n%2").arg(path, QString::fromLocal8Bit(error.c_str())),
            QStringLiteral("Tessaron"), MB_OK | MB_ICONWARNING);
        return;
    }

    m_pReader = std::make_unique<VideoFrameReader>();
    m_pReader->SetDeinterlace(deinterlaceEnabled);
    // Pictures decoded on the way to a frame are kept, so that stepping back is served from memory.
    m_pReader->SetStepBackMemory(stepBackMemory);
    FrameInfo& info = m_pReader->Open(utf8.constData());
    m_pFrameInfo = &info;
    if (!info.succeeded) return;

    m_imageWidth = info.width;
    m_imageHeight = info.height;
    m_zoom = 1.0;
    m_fit = 0;
    m_videoOpen = 1;  // the slider's row counts from here on
    ShowSeekSlider();
    PlaceWindow();

    m_videoOpen = 1;
    m_frameEnd = info.frameCount - 1;
    BuildOriginalOrder();
}

bool CTessaronView::GetFrameLimits(int* width, int* height) const {
    if (m_fit || m_maxFrameWidth <= 0 || m_maxFrameHeight <= 0) return false;
    *width = m_maxFrameWidth;
    *height = m_maxFrameHeight;
    return true;
}

void CTessaronView::OnDraw(QPainter& painter) {
    if (m_captureTitle) {
        m_baseTitle = GetDocument() ? GetDocument()->GetTitle() : QString();
        m_captureTitle = 0;
    }
    m_pPaintPainter = &painter;
    const bool onScreen = painter.device() == viewport();
    qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    if (ratio <= 0) ratio = 1.0;

    bool drawn = false;
    if (m_videoOpen) {
        m_pReader->SetDeinterlace(deinterlaceEnabled);
        m_pReader->SetStepBackMemory(stepBackMemory);  // the preference may have changed
        // A picture that scoring or the preview has just made of the current frame is shown as made; while
        // a long loop runs it stands for every paint, so the reader is not sent back to that frame.
        const bool made = m_drawnFrame >= 0 && m_drawnFrame == m_currentFrame && !m_frameImage.isNull();
        if (!LoopGuard::Active()) m_drawnFrame = -1;
        bool copied = false;
        if (!made) {
            // A repaint of the frame the copy holds (a scroll, the box moving) needs no reading: the
            // copy is the frame as the reader gives it, unless deinterlacing was switched since.
            if (m_frameCopyFrame == m_currentFrame && m_frameCopyDeinterlace == deinterlaceEnabled &&
                IsWholeFrameBlock(m_pFrameCopy.get(), m_frameCopyBytes)) {
                sharedFrameBitmap.Attach(m_pFrameCopy.get(), m_frameCopyBytes);
                copied = true;
            } else {
                // Only a well-formed 24-bit block is copied and drawn. The reader's own block is
                // copied once, straight into the frame copy.
                const uint8_t* block = m_pReader->PeekFrame(*m_pFrameInfo, m_currentFrame);
                const int32_t size = m_pFrameInfo->frameBlockSize;
                copied = block && IsWholeFrameBlock(block, size) && CopyFrameBlock(block, size, m_currentFrame);
            }
        }
        if (copied) {
            m_frameEnd = m_pFrameInfo->frameCount;
            if (m_previewOn)
                QualityPreview(true);
            else
                DrawFrameCopy(painter);
            drawn = true;
            if (GetDocument())
                GetDocument()->SetTitle(m_baseTitle + QStringLiteral(" - %1").arg(m_currentFrame) + PreviewNote());
        }
        // A frame that cannot be read draws nothing new: the last picture stays as it was.
        if (!drawn && !m_frameImage.isNull()) DrawFrameImage(painter);
        // (During a sort the title names the frame being scored.)
        if (made && !LoopGuard::Active()) {
            m_frameEnd = m_pFrameInfo->frameCount;
            if (GetDocument())
                GetDocument()->SetTitle(m_baseTitle + QStringLiteral(" - %1").arg(m_currentFrame) + PreviewNote());
        }
        if (onScreen && !LoopGuard::Active()) ShowFrameStatus();
        if (onScreen) SyncSeekSlider();
    }

    if (onScreen) {
        // The part of the view beside and below the frame gets the window colour.
        QRect visible(QPoint(GetScrollPosition()), viewport()->size());
        QRegion outside(visible);
        if (!m_frameImage.isNull()) {
            QSizeF shown = QSizeF(m_frameImage.size()) * m_zoom / ratio;
            outside -= QRect(0, 0, static_cast<int>(std::floor(shown.width())),
                             static_cast<int>(std::floor(shown.height())));
        }
        for (const QRect& r : outside) painter.fillRect(r, palette().color(QPalette::Window));
    }

    if (m_boxX1 != m_boxX2 || m_boxY1 != m_boxY2) {
        painter.save();
        painter.scale(1.0 / ratio, 1.0 / ratio);
        DrawBox(painter, ToDevice(m_boxX1), ToDevice(m_boxY1), ToDevice(m_boxX2), ToDevice(m_boxY2));
        painter.restore();
    }
    m_pPaintPainter = nullptr;
}

void CTessaronView::DrawFrameCopy(QPainter& painter) {
    const BITMAPINFOHEADER* header = sharedFrameBitmap.GetHeader();
    const uint8_t* bits = sharedFrameBitmap.GetBits();
    if (!header || !bits || header->biWidth <= 0 || header->biHeight <= 0) return;
    const int width = header->biWidth, height = header->biHeight;
    const int64_t stride = DibStride24(width);
    if (m_frameImage.width() != width || m_frameImage.height() != height) {
        m_frameImage = QImage(width, height, QImage::Format_RGB32);
        m_imageFrame = -1;
    }
    if (m_frameImage.isNull()) return;

    qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    if (ratio <= 0) ratio = 1.0;
    // Only the rows the paint can show are converted (the clip is in view units, shifted by the scroll);
    // a reduced picture is smoothed from the rows around it as well.
    int firstRow = 0, endRow = height;
    if (painter.hasClipping()) {
        QRectF clip = painter.clipBoundingRect();
        const qreal rows = ratio / m_zoom;
        const int margin = m_zoom < 1.0 ? static_cast<int>(std::ceil(rows)) + 1 : 0;
        firstRow = qBound(0, static_cast<int>(std::floor(clip.top() * rows)) - margin, height);
        endRow = qBound(firstRow, static_cast<int>(std::ceil(clip.bottom() * rows)) + 1 + margin, height);
    }
    // Rows converted for this frame by an earlier paint are not converted again.
    if (m_imageFrame < 0 || m_imageFrame != m_frameCopyFrame || bits != m_pFrameCopy.get() + kDibHeaderSize ||
        endRow < m_imageRowsFrom || firstRow > m_imageRowsTo) {
        BgrRowsToImage(bits, width, height, stride, m_frameImage, firstRow, endRow);
        m_imageRowsFrom = firstRow;
        m_imageRowsTo = endRow;
    } else {
        if (firstRow < m_imageRowsFrom)
            BgrRowsToImage(bits, width, height, stride, m_frameImage, firstRow, m_imageRowsFrom);
        if (endRow > m_imageRowsTo) BgrRowsToImage(bits, width, height, stride, m_frameImage, m_imageRowsTo, endRow);
        m_imageRowsFrom = std::min(m_imageRowsFrom, firstRow);
        m_imageRowsTo = std::max(m_imageRowsTo, endRow);
    }
    m_imageFrame = bits == m_pFrameCopy.get() + kDibHeaderSize ? m_frameCopyFrame : -1;
    DrawFrameImage(painter);
}

void CTessaronView::DrawFrameImage(QPainter& painter) {
    qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    if (ratio <= 0) ratio = 1.0;
    painter.save();
    painter.scale(m_zoom / ratio, m_zoom / ratio);
    // Reduced, the picture is smoothed so detail does not flicker; enlarged, every frame pixel stays a
    // sharp square to be inspected. While a long loop shows frame after frame they are only glimpsed:
    // the quick scaling keeps the loop's pace, and the frame shown afterwards is smoothed again.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_zoom < 1.0 && !LoopGuard::Active());
    painter.drawImage(QPointF(0, 0), m_frameImage);
    painter.restore();
}

bool CTessaronView::OnPreparePrinting(QPrinter* printer) { return CScrollView::OnPreparePrinting(printer); }

void CTessaronView::OnBeginPrinting(QPainter&, QPrinter*) {}

void CTessaronView::OnEndPrinting(QPainter&, QPrinter*) {}

bool CTessaronView::OnCommand(int id) {
    switch (id) {
    case ID_CROP_AND_SAVE: OnCropAndSave(); return true;
    case ID_FRAME_SELECTOR: OnFrameSelector(); return true;
    case ID_GO_TO_FRAME: OnGoToFrame(); return true;
    case ID_CROP_BOX: OnCropBoxDialog(); return true;
    case ID_ZOOM_FIT: FitToWindow(); return true;
    case ID_ZOOM_ACTUAL: ZoomTo(1.0); return true;
    case ID_ZOOM_IN: ZoomStep(1); return true;
    case ID_ZOOM_OUT: ZoomStep(-1); return true;
    default: return false;
    }
}

bool CTessaronView::IsCommandEnabled(int) const { return m_videoOpen != 0; }

void CTessaronView::ShowFrame(int frame) {
    m_currentFrame = frame;
    Invalidate();
}

void CTessaronView::BuildOriginalOrder() {
    // A header can claim far more frames than memory holds keys for: then the list stays empty and the
    // user is told, rather than the allocation failure ending the program.
    if (!FillOriginalOrder(m_frameOrder, m_frameEnd)) {
        m_frameOrder.clear();
        m_frameOrder.shrink_to_fit();
        AppFramework().MessageBox(this,
                                  QStringLiteral("The video claims %1 frames, more than the frame list can hold.\n"
                                                 "The Frame Selector lists none of them.")
                                      .arg(static_cast<int64_t>(m_frameEnd) + 1),
                                  QStringLiteral("Info"), MB_OK);
    }
    m_currentFrame = 0;
    Invalidate();
}
