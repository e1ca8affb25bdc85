// The crop box: a rubber band dragged with the left button, drawn inverted over the frame, its corners
// and size shown in the status bar.
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <cmath>
#include <cstdlib>

#include "framework/Framework.h"
#include "view/CTessaronView.h"

namespace {

// Fills a run of pixels inverted (white XOR); where the device cannot invert (a printer), in black.
void InvertRect(QPainter& painter, int x, int y, int w, int h) {
    if (w <= 0 || h <= 0) return;
    painter.fillRect(QRect(x, y, w, h),
                     painter.compositionMode() == QPainter::RasterOp_SourceXorDestination ? Qt::white : Qt::black);
}

// The pixels from (x, y) towards (x2, y2) along one axis, the end point left out.
void InvertRun(QPainter& painter, int x, int y, int x2, int y2) {
    if (x == x2) {
        if (y2 > y)
            InvertRect(painter, x, y, 1, y2 - y);
        else if (y2 < y)
            InvertRect(painter, x, y2 + 1, 1, y - y2);
    } else {
        if (x2 > x)
            InvertRect(painter, x, y, x2 - x, 1);
        else
            InvertRect(painter, x2 + 1, y, x - x2, 1);
    }
}

}  // namespace

void CTessaronView::DrawBox(QPainter& painter, int x1, int y1, int x2, int y2) {
    painter.save();
    if (painter.paintEngine() && painter.paintEngine()->hasFeature(QPaintEngine::RasterOpModes))
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setRenderHint(QPainter::Antialiasing, false);
    InvertRun(painter, x1, y1, x1, y2);
    InvertRun(painter, x1, y2, x2, y2);
    InvertRun(painter, x2, y2, x2, y1);
    InvertRun(painter, x2, y1, x1, y1);
    painter.restore();
}

QPoint CTessaronView::ToFramePixels(const QPoint& viewportPos) const {
    qreal ratio = PixelRatio();
    QPoint scroll = GetScrollPosition();
    int x = static_cast<int>(std::floor((viewportPos.x() + scroll.x()) * ratio));
    int y = static_cast<int>(std::floor((viewportPos.y() + scroll.y()) * ratio));
    // Corners stay inside the frame; the right and bottom edges of the frame are reachable.
    int maxX = m_videoOpen ? m_imageWidth : static_cast<int>(std::ceil(viewport()->width() * ratio));
    int maxY = m_videoOpen ? m_imageHeight : static_cast<int>(std::ceil(viewport()->height() * ratio));
    return QPoint(qBound(0, x, maxX), qBound(0, y, maxY));
}

void CTessaronView::InvalidateBox(int x1, int y1, int x2, int y2) {
    if (x1 == x2 && y1 == y2) return;
    qreal ratio = PixelRatio();
    QPoint scroll = GetScrollPosition();
    int left = std::min(x1, x2), right = std::max(x1, x2), top = std::min(y1, y2), bottom = std::max(y1, y2);
    const QRect edges[] = {QRect(left, top, right - left + 1, 1), QRect(left, bottom, right - left + 1, 1),
                           QRect(left, top, 1, bottom - top + 1), QRect(right, top, 1, bottom - top + 1)};
    QRegion region;
    for (const QRect& e : edges) {
        QRectF logical(e.x() / ratio - scroll.x(), e.y() / ratio - scroll.y(), e.width() / ratio, e.height() / ratio);
        region += logical.toAlignedRect().adjusted(-1, -1, 1, 1);
    }
    viewport()->update(region);
}

void CTessaronView::StartBox(int x, int y) {
    m_dragging = 0;
    // The outline on the screen goes: the next paint draws the frame without it.
    InvalidateBox(m_boxX1, m_boxY1, m_boxX2, m_boxY2);
    m_boxX1 = m_boxX2 = x;
    m_boxY1 = m_boxY2 = y;
    m_dragging = 1;
}

void CTessaronView::TrackBox(int x, int y) {
    if (!m_dragging) return;
    InvalidateBox(m_boxX1, m_boxY1, m_boxX2, m_boxY2);
    InvalidateBox(m_boxX1, m_boxY1, x, y);
    m_boxX2 = x;
    m_boxY2 = y;
}

void CTessaronView::ShowBoxStatus(int x, int y) {
    int width = std::abs(m_boxX2 - m_boxX1);
    int height = std::abs(m_boxY2 - m_boxY1);
    QString text;
    if (width != 0 || height != 0)
        text = QString::asprintf("Box Corner Points: (%4d, %4d), (%4d, %4d) - Box Size:  %4d by %4d", m_boxX1, m_boxY1,
                                 m_boxX2, m_boxY2, width, height);
    else
        text = QString::asprintf("(%d, %d)  -  (Click and drag to create crop box...)", x, y);
    AppFramework().SetStatusText(text);
}

void CTessaronView::OnLButtonDown(Qt::KeyboardModifiers, const QPoint& point) {
    StartBox(point.x(), point.y());
    ShowBoxStatus(point.x(), point.y());
}

void CTessaronView::OnMouseMove(Qt::KeyboardModifiers, const QPoint& point) {
    viewport()->setCursor(Qt::CrossCursor);
    TrackBox(point.x(), point.y());
    ShowBoxStatus(point.x(), point.y());
}

void CTessaronView::OnLButtonUp(Qt::KeyboardModifiers, const QPoint& point) {
    TrackBox(point.x(), point.y());
    m_dragging = 0;
    ShowBoxStatus(m_boxX2, m_boxY2);
}

void CTessaronView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        CScrollView::mousePressEvent(event);
        return;
    }
    // The view keeps the pointer while the button is down, so a release outside it still ends the drag.
    OnLButtonDown(event->modifiers(), ToFramePixels(event->position().toPoint()));
    event->accept();
}

void CTessaronView::mouseMoveEvent(QMouseEvent* event) {
    OnMouseMove(event->modifiers(), ToFramePixels(event->position().toPoint()));
    event->accept();
}

void CTessaronView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        CScrollView::mouseReleaseEvent(event);
        return;
    }
    OnLButtonUp(event->modifiers(), ToFramePixels(event->position().toPoint()));
    event->accept();
}
