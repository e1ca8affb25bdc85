// The seek slider under a video: one step per frame, as wide as the window. While it is dragged the view
// shows the key frame at or before the slider's place (one picture's decoding, so dragging keeps up
// with the hand), and on release the exact frame. Its label gives the frame number and time.
#include <QEvent>
#include <QVBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>

#include "dialogs/ViewDialogs.h"
#include "video/VideoFrameReader.h"
#include "view/CTessaronView.h"

namespace {

constexpr int kPageFrames = 10;

}  // namespace

void CTessaronView::MakeSeekSlider() {
    m_seekRow = new QWidget(this);
    m_seekRow->setObjectName(QStringLiteral("SeekRow"));
    m_seekRow->setAutoFillBackground(true);
    // The slider takes the whole width, however small the video; the label sits under its right end.
    auto* layout = new QVBoxLayout(m_seekRow);
    layout->setContentsMargins(4, 1, 4, 1);
    layout->setSpacing(0);
    m_seekSlider = new QSlider(Qt::Horizontal, m_seekRow);
    m_seekSlider->setObjectName(QStringLiteral("SeekSlider"));
    // The picture keeps the keyboard: its keys move the slider with the frame.
    m_seekSlider->setFocusPolicy(Qt::NoFocus);
    m_seekSlider->setPageStep(kPageFrames);
    m_seekSlider->setTracking(true);
    m_seekLabel = new QLabel(m_seekRow);
    m_seekLabel->setObjectName(QStringLiteral("SeekLabel"));
    m_seekLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(m_seekSlider);
    layout->addWidget(m_seekLabel);
    m_seekRow->hide();
    connect(m_seekSlider, &QSlider::valueChanged, this, &CTessaronView::OnSeekMoved);
    connect(m_seekSlider, &QSlider::sliderReleased, this, [this] { StepTo(m_seekSlider->value()); });
    viewport()->installEventFilter(this);
}

QSize CTessaronView::ViewExtra() const {
    const int edge = 2 * frameWidth();
    const int row = m_seekRow && !m_seekRow->isHidden() ? m_seekRow->sizeHint().height() : 0;
    return QSize(edge, edge + row);
}

QString CTessaronView::SeekText(int frame) const {
    return QStringLiteral("Frame %1   %2").arg(frame).arg(ClockTimeText(m_pReader ? m_pReader->FrameTime(frame) : 0));
}

void CTessaronView::ShowSeekSlider() {
    if (!m_pFrameInfo || m_pFrameInfo->frameCount <= 0) return;
    const int last = m_pFrameInfo->frameCount - 1;
    {
        const QSignalBlocker quiet(m_seekSlider);
        m_seekSlider->setRange(0, last);
        m_seekSlider->setValue(std::clamp(m_currentFrame, 0, last));
    }
    m_seekLabel->setText(SeekText(m_seekSlider->value()));
    m_seekRow->show();
    setViewportMargins(0, 0, 0, m_seekRow->sizeHint().height());
    PlaceSeekSlider();
}

void CTessaronView::PlaceSeekSlider() {
    if (!m_seekRow || m_seekRow->isHidden()) return;
    const QRect port = viewport()->geometry();
    m_seekRow->setGeometry(port.left(), port.bottom() + 1, port.width(), m_seekRow->sizeHint().height());
}

bool CTessaronView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) PlaceSeekSlider();
    return CScrollView::eventFilter(watched, event);
}

void CTessaronView::OnSeekMoved(int value) {
    m_seekLabel->setText(SeekText(value));
    if (!m_videoOpen || !m_pReader) return;
    if (!m_seekSlider->isSliderDown()) {
        // A click beside the handle, the wheel: the exact frame at once.
        StepTo(value);
        return;
    }
    const int key = m_pReader->KeyFrameAtOrBefore(value);
    StepTo(key >= 0 ? key : value);
}

void CTessaronView::SyncSeekSlider() {
    if (!m_seekSlider || m_seekSlider->isSliderDown() || !m_videoOpen) return;
    if (m_seekSlider->value() != m_currentFrame) {
        const QSignalBlocker quiet(m_seekSlider);
        m_seekSlider->setValue(m_currentFrame);
    }
    m_seekLabel->setText(SeekText(m_seekSlider->value()));
}
