// A plot of one score per frame, in frame order: frame numbers across, the score upwards (the larger
// the more detailed), checked frames marked below the curve and the shown frame as a vertical line.
// A click names the frame under the pointer, a drag across the plot a range of frames. It knows only
// numbers, so any score (JPEG size, sharpness) can be shown.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

class ScorePlot : public QWidget {
    Q_OBJECT
public:
    explicit ScorePlot(QWidget* parent = nullptr);

    // One score per frame, index = frame number; NaN marks a frame without a score (not drawn).
    void SetScores(std::vector<double> scores);
    const std::vector<double>& Scores() const { return m_scores; }
    // Whether any frame has a score.
    bool HasScores() const { return m_scored > 0; }
    // Check marks by frame number (nonzero: checked); missing entries count as unchecked.
    void SetChecked(std::vector<uint8_t> checked);
    // The frames "Check best..." chose, drawn as rings on the curve and ticks above it; empty for none.
    void SetPicks(std::vector<int32_t> frames);
    const std::vector<int32_t>& Picks() const { return m_picks; }
    // The marks the video window's I and O set, drawn as a shaded span with its edges; -1 for a mark
    // not set (the span then reaches that end).
    void SetMarks(int in, int out);
    int MarkIn() const { return m_markIn; }
    int MarkOut() const { return m_markOut; }
    // The frame drawn as a vertical line; -1 for none.
    void SetCurrentFrame(int frame);
    int CurrentFrame() const { return m_current; }
    // The line of text at the plot's top left, naming the score.
    void SetCaption(const QString& caption);
    QString Caption() const { return m_caption; }

    // The frame shown at x (widget coordinates), kept within the frames; -1 without frames.
    int FrameAt(int x) const;
    // The horizontal centre of a frame's place.
    int XOf(int frame) const;
    // The area the curve is drawn in.
    QRect PlotArea() const;

    QSize sizeHint() const override { return QSize(300, 90); }
    QSize minimumSizeHint() const override { return QSize(60, 40); }

signals:
    // A click (press and release without a drag) on the plot.
    void frameClicked(int frame);
    // A drag across the plot from one frame to another, first <= last.
    void rangeDragged(int first, int last);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::vector<double> m_scores;
    std::vector<uint8_t> m_checked;
    std::vector<int32_t> m_picks;
    int m_scored = 0;  // frames with a score
    double m_low = 0, m_high = 0;
    int m_current = -1;
    int m_markIn = -1, m_markOut = -1;
    QString m_caption;
    int m_pressX = -1;  // where the left button went down; -1: not pressed
    int m_dragX = -1;   // where a drag has reached; -1: no drag
};
