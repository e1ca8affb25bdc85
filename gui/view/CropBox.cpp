// The crop box: a rubber band dragged with the left button, drawn inverted over the frame, its corners
// and size shown in the status bar. A press on its edges or corners resizes it, inside it moves it.
// Corners are frame pixels at any zoom; the outline is one device pixel wide.
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <algorithm>
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
    const qreal scale = ratio / m_zoom;
    int x = static_cast<int>(std::floor((viewportPos.x() + scroll.x()) * scale + 1e-9));
    int y = static_cast<int>(std::floor((viewportPos.y() + scroll.y()) * scale + 1e-9));
    // Corners stay inside the frame; the right and bottom edges of the frame are reachable.
    int maxX = m_videoOpen ? m_imageWidth : static_cast<int>(std::ceil(viewport()->width() * ratio));
    int maxY = m_videoOpen ? m_imageHeight : static_cast<int>(std::ceil(viewport()->height() * ratio));
    return QPoint(qBound(0, x, maxX), qBound(0, y, maxY));
}

void CTessaronView::InvalidateBox(int x1, int y1, int x2, int y2) {
    if (x1 == x2 && y1 == y2) return;
    qreal ratio = PixelRatio();
    QPoint scroll = GetScrollPosition();
    x1 = ToDevice(x1), x2 = ToDevice(x2), y1 = ToDevice(y1), y2 = ToDevice(y2);
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

int CTessaronView::BoxGripAt(const QPoint& point) const {
    if (m_boxX1 == m_boxX2 || m_boxY1 == m_boxY2) return 0;
    // Four screen pixels either side of an edge grab it, however far the frame is zoomed.
    const int reach = std::max(1, static_cast<int>(std::lround(4 * PixelRatio() / m_zoom)));
    const int left = std::min(m_boxX1, m_boxX2), right = std::max(m_boxX1, m_boxX2);
    const int top = std::min(m_boxY1, m_boxY2), bottom = std::max(m_boxY1, m_boxY2);
    const int x = point.x(), y = point.y();
    if (x < left - reach || x > right + reach || y < top - reach || y > bottom + reach) return 0;
    int grip = 0;
    if (std::abs(x - left) <= reach)
        grip |= kBoxLeft;
    else if (std::abs(x - right) <= reach)
        grip |= kBoxRight;
    if (std::abs(y - top) <= reach)
        grip |= kBoxTop;
    else if (std::abs(y - bottom) <= reach)
        grip |= kBoxBottom;
    if (grip) return grip;
    return x > left && x < right && y > top && y < bottom ? kBoxMove : 0;
}

namespace {

Qt::CursorShape GripCursor(int grip, int left, int right, int top, int bottom, int move) {
    if (grip == move) return Qt::SizeAllCursor;
    const bool horizontal = grip & (left | right), vertical = grip & (top | bottom);
    if (horizontal && vertical)
        return ((grip & left) != 0) == ((grip & top) != 0) ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
    if (horizontal) return Qt::SizeHorCursor;
    if (vertical) return Qt::SizeVerCursor;
    return Qt::CrossCursor;
}

}  // namespace

void CTessaronView::OnLButtonDown(Qt::KeyboardModifiers, const QPoint& point) {
    m_boxGrip = m_videoOpen ? BoxGripAt(point) : 0;
    if (m_boxGrip) {
        // The box is grabbed: its sides as they are now, anchor top left, moving corner bottom right.
        m_gripFrom = point;
        m_gripBox[0] = std::min(m_boxX1, m_boxX2);
        m_gripBox[1] = std::min(m_boxY1, m_boxY2);
        m_gripBox[2] = std::max(m_boxX1, m_boxX2);
        m_gripBox[3] = std::max(m_boxY1, m_boxY2);
        m_dragging = 0;
        ShowBoxStatus(point.x(), point.y());
        return;
    }
    StartBox(point.x(), point.y());
    ShowBoxStatus(point.x(), point.y());
}

void CTessaronView::OnMouseMove(Qt::KeyboardModifiers, const QPoint& point) {
    if (m_boxGrip) {
        int left = m_gripBox[0], top = m_gripBox[1], right = m_gripBox[2], bottom = m_gripBox[3];
        const int dx = point.x() - m_gripFrom.x(), dy = point.y() - m_gripFrom.y();
        if (m_boxGrip == kBoxMove) {
            // Moved whole, kept inside the frame.
            const int w = right - left, h = bottom - top;
            left = std::clamp(left + dx, 0, std::max(0, m_imageWidth - w));
            top = std::clamp(top + dy, 0, std::max(0, m_imageHeight - h));
            right = left + w;
            bottom = top + h;
        } else {
            if (m_boxGrip & kBoxLeft) left = std::clamp(left + dx, 0, m_imageWidth);
            if (m_boxGrip & kBoxRight) right = std::clamp(right + dx, 0, m_imageWidth);
            if (m_boxGrip & kBoxTop) top = std::clamp(top + dy, 0, m_imageHeight);
            if (m_boxGrip & kBoxBottom) bottom = std::clamp(bottom + dy, 0, m_imageHeight);
        }
        InvalidateBox(m_boxX1, m_boxY1, m_boxX2, m_boxY2);
        m_boxX1 = left, m_boxY1 = top, m_boxX2 = right, m_boxY2 = bottom;
        InvalidateBox(m_boxX1, m_boxY1, m_boxX2, m_boxY2);
        ShowBoxStatus(point.x(), point.y());
        return;
    }
    viewport()->setCursor(m_dragging || !m_videoOpen
                              ? Qt::CrossCursor
                              : GripCursor(BoxGripAt(point), kBoxLeft, kBoxRight, kBoxTop, kBoxBottom, kBoxMove));
    TrackBox(point.x(), point.y());
    ShowBoxStatus(point.x(), point.y());
}

void CTessaronView::OnLButtonUp(Qt::KeyboardModifiers modifiers, const QPoint& point) {
    if (m_boxGrip) {
        OnMouseMove(modifiers, point);
        m_boxGrip = 0;
        ShowBoxStatus(m_boxX2, m_boxY2);
        return;
    }
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
