// Seeing and moving through the video: the zoom (Fit to Window, 100 %, in and out), where a new window
// opens, stepping from frame to frame, Go to Frame, the typed crop box and the status bar's frame pane.
// Whatever the zoom, everything the user picks is in frame pixels: the crop box, its status text and
// what Crop and Save writes.
#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMdiArea>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <string>

#include "doc/CTessaronDoc.h"
#include "dialogs/SelectVideoFrames.h"
#include "dialogs/ViewDialogs.h"
#include "framework/ChildFrame.h"
#include "framework/Framework.h"
#include "framework/StatusBar.h"
#include "video/VideoFrameReader.h"
#include "view/CTessaronView.h"
#include "view/LoopGuard.h"

namespace {

// The zoom's steps: the usual fractions and multiples of 100 %.
constexpr double kZoomSteps[] = {1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3, 1.0,
                                 1.5,      2.0,      3.0,     4.0,     6.0,     8.0,     12.0,    16.0};
constexpr double kMinZoom = 1.0 / 16, kMaxZoom = 16.0;
constexpr int kPageFrames = 10;

// The step after zoom in the direction's sense (> 0 larger, else smaller); zoom itself at either end.
double NextZoomStep(double zoom, int direction) {
    double next = zoom;
    if (direction > 0) {
        for (double step : kZoomSteps) {
            if (step > zoom * 1.001) return step;
        }
    } else {
        for (double step : kZoomSteps) {
            if (step < zoom / 1.001) next = step;
        }
    }
    return next;
}

}  // namespace

int CTessaronView::ToDevice(int framePixel) const {
    return m_zoom == 1.0 ? framePixel : static_cast<int>(std::lround(framePixel * m_zoom));
}

double CTessaronView::FitZoom() const {
    if (m_imageWidth <= 0 || m_imageHeight <= 0) return 1.0;
    const QSize room = maximumViewportSize();
    const double ratio = PixelRatio();
    const double zoom = std::min(room.width() * ratio / m_imageWidth, room.height() * ratio / m_imageHeight);
    return std::clamp(zoom, kMinZoom, kMaxZoom);
}

void CTessaronView::UpdateFrameLimits() {
    CChildFrame* frame = GetParentFrame();
    if (!frame) return;
    const QSize outer = frame->CalcWindowSize(LogicalFrameSize() + ViewExtra());
    m_maxFrameWidth = outer.width();
    m_maxFrameHeight = outer.height();
    frame->UpdateSizeLimits();
}

void CTessaronView::ApplyZoom(double zoom, const QPointF* anchor) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    const double ratio = PixelRatio();
    const QPointF at = anchor ? *anchor : QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0);
    const QPointF framePoint = (at + QPointF(GetScrollPosition())) * ratio / m_zoom;
    m_zoom = zoom;
    SetScrollSizes(LogicalFrameSize(), QSize(1, 1), QSize(10, 10));
    UpdateFrameLimits();
    // Zoomed in, the window grows with the picture as far as the main window has room (the limits
    // shrink it when zoomed out).
    CChildFrame* frame = GetParentFrame();
    QMdiArea* area = frame ? frame->mdiArea() : nullptr;
    if (!m_fit && area && !frame->isMaximized() && !frame->isMinimized()) {
        const QSize room = area->viewport()->size() - QSize(frame->x(), frame->y());
        const QSize wanted = frame->CalcWindowSize(LogicalFrameSize() + ViewExtra()).boundedTo(room);
        if (wanted.width() > frame->width() || wanted.height() > frame->height())
            frame->resize(wanted.expandedTo(frame->size()));
    }
    const QPointF scroll = framePoint * m_zoom / ratio - at;
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(scroll.x())));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(scroll.y())));
    Invalidate();
    ShowFrameStatus();
}

void CTessaronView::ZoomTo(double zoom) {
    if (!m_videoOpen) return;
    m_fit = 0;
    ApplyZoom(zoom);
}

void CTessaronView::ZoomStep(int direction) {
    if (!m_videoOpen) return;
    const double next = NextZoomStep(m_zoom, direction);
    ZoomTo(next);
}

void CTessaronView::FitToWindow() {
    if (!m_videoOpen) return;
    m_fit = 1;
    UpdateFrameLimits();
    ApplyZoom(FitZoom());
}

void CTessaronView::resizeEvent(QResizeEvent* event) {
    CScrollView::resizeEvent(event);
    if (m_fit && m_imageWidth > 0) {
        const double zoom = FitZoom();
        if (std::abs(zoom - m_zoom) > 1e-9) ApplyZoom(zoom);
    }
}

void CTessaronView::PlaceWindow() {
    CChildFrame* frame = GetParentFrame();
    QMdiArea* area = frame ? frame->mdiArea() : nullptr;
    if (!frame || !area) {
        SetScrollSizes(LogicalFrameSize(), QSize(1, 1), QSize(10, 10));
        return;
    }
    const QSize margins = frame->CalcWindowSize(ViewExtra());
    const QSize whole = frame->CalcWindowSize(LogicalFrameSize() + ViewExtra());

    // The main window grows to hold the whole video at 100 %, as far as its screen allows (with the
    // window's frame), and is kept inside the screen.
    // (Before the main window is first shown its parts have their places but have not been told, so
    // the room is measured from the area's own geometry.)
    QWidget* main = area->window();
    if (main && main->layout()) main->layout()->activate();
    auto measureRoom = [area] { return area->contentsRect().size(); };
    QSize room = measureRoom();
    if (main && main->isWindow()) {
        const QSize before = main->size();
        FitWindowIntoScreen(main, main->size() + (whole - room).expandedTo(QSize(0, 0)));
        if (main->size() != before) {
            if (main->layout()) main->layout()->activate();
            room = measureRoom();
        }
    }

    // A frame larger than the room is fitted when the preference says so, otherwise shown at 100 % with
    // scroll bars.
    if (fitLargeVideos && (whole.width() > room.width() || whole.height() > room.height()) && m_imageWidth > 0 &&
        m_imageHeight > 0) {
        const QSize client = (room - margins).expandedTo(QSize(1, 1));
        const double ratio = PixelRatio();
        m_zoom = std::clamp(std::min(client.width() * ratio / m_imageWidth, client.height() * ratio / m_imageHeight),
                            kMinZoom, 1.0);
        m_fit = 1;
    }
    SetScrollSizes(LogicalFrameSize(), QSize(1, 1), QSize(10, 10));
    UpdateFrameLimits();
    const QSize size = frame->CalcWindowSize(LogicalFrameSize() + ViewExtra()).boundedTo(room);

    // Cascaded below the windows already open, by a caption's height each, and moved back inside the room.
    int others = 0;
    for (QMdiSubWindow* sub : area->subWindowList()) others += sub != frame && sub->isVisible() ? 1 : 0;
    const int step = std::max(8, frame->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, frame));
    QPoint pos(others * step, others * step);
    if (pos.x() + size.width() > room.width()) pos.setX(std::max(0, room.width() - size.width()));
    if (pos.y() + size.height() > room.height()) pos.setY(std::max(0, room.height() - size.height()));
    frame->setGeometry(QRect(pos, size));
}

void CTessaronView::StepTo(int frame) {
    if (!m_videoOpen || !m_pFrameInfo || m_pFrameInfo->frameCount <= 0) return;
    m_currentFrame = std::clamp(frame, 0, m_pFrameInfo->frameCount - 1);
    Invalidate();
    ShowFrameStatus();
    SyncSeekSlider();
    // The selector open beside the video shows where the video is.
    if (m_pSelector && m_pSelector->isVisible()) m_pSelector->FollowFrame(m_currentFrame);
}

void CTessaronView::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (m_videoOpen && mods == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Left: StepTo(m_currentFrame - 1); return;
        case Qt::Key_Right: StepTo(m_currentFrame + 1); return;
        case Qt::Key_PageUp: StepTo(m_currentFrame - kPageFrames); return;
        case Qt::Key_PageDown: StepTo(m_currentFrame + kPageFrames); return;
        case Qt::Key_Home: StepTo(0); return;
        case Qt::Key_End: StepTo(m_pFrameInfo ? m_pFrameInfo->frameCount - 1 : 0); return;
        case Qt::Key_I: SetMark(true); return;
        case Qt::Key_O: SetMark(false); return;
        default: break;
        }
    }
    CScrollView::keyPressEvent(event);
}

void CTessaronView::wheelEvent(QWheelEvent* event) {
    if (m_videoOpen && (event->modifiers() & Qt::ControlModifier)) {
        const int delta = event->angleDelta().y();
        if (delta != 0) {
            // The frame point under the pointer stays under it.
            const QPointF at = event->position();  // viewport coordinates: the viewport's events come here
            const double next = NextZoomStep(m_zoom, delta);
            m_fit = 0;
            ApplyZoom(next, &at);
        }
        event->accept();
        return;
    }
    CScrollView::wheelEvent(event);
}

QString CTessaronView::FrameStatusText() const {
    if (!m_videoOpen || !m_pFrameInfo) return QString();
    QString text = QStringLiteral("Frame %1 of %2   %3")
                       .arg(m_currentFrame)
                       .arg(m_pFrameInfo->frameCount)
                       .arg(ClockTimeText(m_pReader ? m_pReader->FrameTime(m_currentFrame) : 0));
    if (const QString score = ScoreStatusText(); !score.isEmpty()) text += QStringLiteral("   ") + score;
    text += QStringLiteral("   %1%2 %").arg(m_fit ? QStringLiteral("Fit ") : QString()).arg(std::lround(m_zoom * 100));
    return text;
}

void CTessaronView::ShowFrameStatus() {
    if (!mainStatusBar) return;
    CChildFrame* frame = GetParentFrame();
    QMdiArea* area = frame ? frame->mdiArea() : nullptr;
    if (area && area->currentSubWindow() && area->currentSubWindow() != frame) return;
    mainStatusBar->SetFrameText(FrameStatusText());
}

void CTessaronView::OnGoToFrame() {
    if (!m_videoOpen || !m_pFrameInfo) return;
    const int count = m_pFrameInfo->frameCount;
    const double lastTime = m_pReader->FrameTime(count - 1);
    GoToFrameDialog dialog(window(), m_currentFrame, count, lastTime);
    if (AppFramework().DoModal(&dialog) != QDialog::Accepted) return;
    int frame = 0;
    QString reason;
    // Times are the reader's own: each frame has the time it is presented at.
    const auto frameAtTime = [this](double seconds) { return static_cast<int>(m_pReader->FrameAtTime(seconds)); };
    if (!ParseFrameOrTime(dialog.Text(), frameAtTime, lastTime, count, &frame, &reason)) {
        AppFramework().MessageBox(this, reason, QStringLiteral("Go to Frame"), MB_OK | MB_ICONWARNING);
        return;
    }
    StepTo(frame);
}

void CTessaronView::SetBox(int x1, int y1, int x2, int y2) {
    if (!m_videoOpen) return;
    InvalidateBox(m_boxX1, m_boxY1, m_boxX2, m_boxY2);
    m_boxX1 = std::clamp(x1, 0, m_imageWidth);
    m_boxY1 = std::clamp(y1, 0, m_imageHeight);
    m_boxX2 = std::clamp(x2, 0, m_imageWidth);
    m_boxY2 = std::clamp(y2, 0, m_imageHeight);
    m_dragging = 0;
    InvalidateBox(m_boxX1, m_boxY1, m_boxX2, m_boxY2);
    ShowBoxStatus(m_boxX2, m_boxY2);
}

void CTessaronView::OnCropBoxDialog() {
    if (!m_videoOpen) return;
    const bool box = m_boxX1 != m_boxX2 && m_boxY1 != m_boxY2;
    const int left = box ? std::min(m_boxX1, m_boxX2) : 0, top = box ? std::min(m_boxY1, m_boxY2) : 0;
    const int width = box ? std::abs(m_boxX2 - m_boxX1) : m_imageWidth;
    const int height = box ? std::abs(m_boxY2 - m_boxY1) : m_imageHeight;
    CropBoxDialog dialog(window(), m_imageWidth, m_imageHeight, left, top, width, height);
    if (AppFramework().DoModal(&dialog) != QDialog::Accepted) return;
    const int x = dialog.XBox()->value(), y = dialog.YBox()->value();
    SetBox(x, y, x + dialog.WidthBox()->value(), y + dialog.HeightBox()->value());
}

void CTessaronView::SetMark(bool in) {
    // A mark that would end the span before it starts moves the other mark out of the way.
    (in ? m_markIn : m_markOut) = m_currentFrame;
    if (m_markIn >= 0 && m_markOut >= 0 && m_markOut < m_markIn) (in ? m_markOut : m_markIn) = m_currentFrame;
    AppFramework().SetStatusText(QString::asprintf("Marks: %s to %s",
                                                   m_markIn >= 0 ? std::to_string(m_markIn).c_str() : "the start",
                                                   m_markOut >= 0 ? std::to_string(m_markOut).c_str() : "the end"));
    if (m_pSelector) m_pSelector->RefreshScores();
}
