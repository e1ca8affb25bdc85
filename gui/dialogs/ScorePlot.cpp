#include "dialogs/ScorePlot.h"

#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// A press that moves less than this many pixels is a click.
constexpr int kDragDistance = 4;
// Height of the strip below the curve that marks checked frames.
constexpr int kMarkStrip = 5;

}  // namespace

ScorePlot::ScorePlot(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ScorePlot"));
    setMouseTracking(false);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("Click a point to show that frame; drag across frames to check them."));
}

void ScorePlot::SetScores(std::vector<double> scores) {
    m_scores = std::move(scores);
    m_scored = 0;
    m_low = m_high = 0;
    for (double s : m_scores) {
        if (std::isnan(s)) continue;
        if (m_scored++ == 0) m_low = m_high = s;
        m_low = std::min(m_low, s);
        m_high = std::max(m_high, s);
    }
    update();
}

void ScorePlot::SetChecked(std::vector<uint8_t> checked) {
    m_checked = std::move(checked);
    update();
}

void ScorePlot::SetPicks(std::vector<int32_t> frames) {
    m_picks = std::move(frames);
    update();
}

void ScorePlot::SetMarks(int in, int out) {
    if (in == m_markIn && out == m_markOut) return;
    m_markIn = in;
    m_markOut = out;
    update();
}

void ScorePlot::SetCurrentFrame(int frame) {
    if (frame == m_current) return;
    m_current = frame;
    update();
}

void ScorePlot::SetCaption(const QString& caption) {
    m_caption = caption;
    update();
}

QRect ScorePlot::PlotArea() const {
    const int text = fontMetrics().height();
    return QRect(2, text + 2, std::max(1, width() - 4), std::max(1, height() - text - 4 - kMarkStrip));
}

int ScorePlot::FrameAt(int x) const {
    const int frames = static_cast<int>(m_scores.size());
    if (frames <= 0) return -1;
    const QRect area = PlotArea();
    const double at = (x - area.left()) * static_cast<double>(frames) / area.width();
    return std::clamp(static_cast<int>(std::floor(at)), 0, frames - 1);
}

int ScorePlot::XOf(int frame) const {
    const int frames = std::max<int>(1, static_cast<int>(m_scores.size()));
    const QRect area = PlotArea();
    return area.left() + static_cast<int>((frame + 0.5) * area.width() / frames);
}

void ScorePlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(rect(), pal.color(QPalette::Base));
    painter.setPen(pal.color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setPen(pal.color(QPalette::Text));
    const QRect textRow(4, 1, width() - 8, fontMetrics().height());
    // The range of the scores at the right, so the curve's height can be read.
    QString range;
    if (m_scored > 0)
        range = QStringLiteral("%1 to %2").arg(QLocale().toString(m_low, 'f', 0), QLocale().toString(m_high, 'f', 0));
    const int rangeWidth = range.isEmpty() ? 0 : fontMetrics().horizontalAdvance(range) + 8;
    painter.drawText(textRow.adjusted(0, 0, -rangeWidth, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(m_caption, Qt::ElideRight, std::max(0, textRow.width() - rangeWidth)));
    if (!range.isEmpty()) painter.drawText(textRow, Qt::AlignRight | Qt::AlignVCenter, range);

    const QRect area = PlotArea();
    const int frames = static_cast<int>(m_scores.size());
    if (frames == 0) return;

    // A dragged range underneath everything else.
    if (m_dragX >= 0 && m_pressX >= 0) {
        const int a = FrameAt(m_pressX), b = FrameAt(m_dragX);
        const int left = XOf(std::min(a, b)) - std::max(1, area.width() / frames / 2);
        const int right = XOf(std::max(a, b)) + std::max(1, area.width() / frames / 2);
        QColor band = pal.color(QPalette::Highlight);
        band.setAlpha(70);
        painter.fillRect(QRect(left, area.top(), right - left + 1, area.height() + kMarkStrip), band);
    }

    // The marks: the span between them shaded, each mark a line across the plot.
    if (m_markIn >= 0 || m_markOut >= 0) {
        const int half = std::max(1, area.width() / frames / 2);
        const int left = m_markIn >= 0 ? XOf(std::min(m_markIn, frames - 1)) - half : area.left();
        const int right = m_markOut >= 0 ? XOf(std::min(m_markOut, frames - 1)) + half : area.right();
        const QColor edge(40, 140, 60);
        QColor span = edge;
        span.setAlpha(40);
        if (right > left) painter.fillRect(QRect(left, area.top(), right - left + 1, area.height()), span);
        painter.setPen(QPen(edge, 1, Qt::DashLine));
        if (m_markIn >= 0) painter.drawLine(left, area.top(), left, area.bottom());
        if (m_markOut >= 0) painter.drawLine(right, area.top(), right, area.bottom());
    }

    // Checked frames: ticks in the strip below the curve.
    const QColor mark(220, 110, 0);
    // (One tick per pixel column, however many checked frames share it.)
    int lastTick = INT_MIN;
    for (int f = 0; f < frames && f < static_cast<int>(m_checked.size()); ++f) {
        if (!m_checked[static_cast<size_t>(f)] || XOf(f) == lastTick) continue;
        lastTick = XOf(f);
        painter.fillRect(QRect(lastTick - 1, area.bottom() + 2, 3, kMarkStrip), mark);
    }

    // The curve: each pixel column shows the largest score of the frames it covers, so a single very
    // detailed frame stays visible in an hour of video.
    if (m_scored > 0) {
        const double span = m_high > m_low ? m_high - m_low : 1.0;
        auto yOf = [&](double s) { return area.bottom() - (s - m_low) / span * (area.height() - 1) * 0.95; };
        QPainterPath path;
        bool open = false;
        int column = -1;
        double best = 0;
        bool have = false;
        auto flush = [&] {
            if (!have) return;
            const QPointF p(column, yOf(best));
            if (open)
                path.lineTo(p);
            else
                path.moveTo(p);
            open = true;
            have = false;
        };
        for (int f = 0; f < frames; ++f) {
            const double s = m_scores[static_cast<size_t>(f)];
            const int x = XOf(f);
            if (x != column) {
                flush();
                column = x;
            }
            if (std::isnan(s)) continue;
            best = have ? std::max(best, s) : s;
            have = true;
        }
        flush();
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(pal.color(QPalette::Link), 1.5));
        painter.drawPath(path);
        // Checked frames also get a dot on the curve where there is room for one.
        if (area.width() >= 2 * frames) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(mark);
            for (int f = 0; f < frames && f < static_cast<int>(m_checked.size()); ++f) {
                const double s = m_scores[static_cast<size_t>(f)];
                if (m_checked[static_cast<size_t>(f)] && !std::isnan(s))
                    painter.drawEllipse(QPointF(XOf(f), yOf(s)), 2.5, 2.5);
            }
        }
        // The picks of "Check best...": a ring on the curve and a tick along the top, so they stand out
        // from frames checked by hand even where the frames lie close together.
        const QColor pick(0, 140, 60);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(pick, 1.5));
        for (int32_t f : m_picks) {
            if (f < 0 || f >= frames) continue;
            const double s = m_scores[static_cast<size_t>(f)];
            if (!std::isnan(s)) painter.drawEllipse(QPointF(XOf(f), yOf(s)), 4, 4);
            painter.drawLine(QPointF(XOf(f), area.top()), QPointF(XOf(f), area.top() + 4));
        }
        painter.setRenderHint(QPainter::Antialiasing, false);
    }

    if (m_current >= 0 && m_current < frames) {
        painter.setPen(QPen(pal.color(QPalette::Highlight), 1));
        painter.drawLine(XOf(m_current), area.top(), XOf(m_current), area.bottom());
    }
}

void ScorePlot::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    m_pressX = event->position().toPoint().x();
    m_dragX = -1;
    event->accept();
}

void ScorePlot::mouseMoveEvent(QMouseEvent* event) {
    if (m_pressX < 0 || !(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
    const int x = event->position().toPoint().x();
    if (m_dragX >= 0 || std::abs(x - m_pressX) >= kDragDistance) {
        m_dragX = x;
        update();
    }
    event->accept();
}

void ScorePlot::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_pressX < 0) return QWidget::mouseReleaseEvent(event);
    const int x = event->position().toPoint().x();
    const bool drag = m_dragX >= 0 || std::abs(x - m_pressX) >= kDragDistance;
    const int first = FrameAt(m_pressX), last = FrameAt(x);
    m_pressX = m_dragX = -1;
    update();
    event->accept();
    if (first < 0) return;
    if (drag)
        emit rangeDragged(std::min(first, last), std::max(first, last));
    else
        emit frameClicked(last);
}
