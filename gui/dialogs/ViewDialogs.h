// Small dialogs of a video window: Go to Frame (a frame number or a time) and Crop Box (the box's place
// and size typed in frame pixels).
#pragma once

#include <QDialog>
#include <functional>

class QLineEdit;
class QSpinBox;

// Reads what a user types for a frame: a frame number ("120"), or a time ("1:02.5", "00:01:02.500",
// "62.5s", "2.5" with a decimal point). A time gives the frame shown at that moment, as frameAtTime (the
// reader's) says; lastTime is the last frame's time, for the reason. False, with a reason, for text that
// is neither, or a frame outside 0 to frameCount - 1.
bool ParseFrameOrTime(const QString& text, const std::function<int(double seconds)>& frameAtTime, double lastTime,
                      int frameCount, int* frame, QString* reason);

// A time in seconds as hh:mm:ss.mmm.
QString ClockTimeText(double seconds);

class GoToFrameDialog : public QDialog {
    Q_OBJECT
public:
    // frameCount and the last frame's time say what can be typed; current is offered at first.
    GoToFrameDialog(QWidget* parent, int current, int frameCount, double lastTime);

    QLineEdit* Field() const { return m_field; }
    // The field's text when the dialog was accepted.
    QString Text() const;

private:
    QLineEdit* m_field = nullptr;
};

class CropBoxDialog : public QDialog {
    Q_OBJECT
public:
    // The box (left, top, width, height) offered at first, inside a frame of frameWidth x frameHeight.
    CropBoxDialog(QWidget* parent, int frameWidth, int frameHeight, int x, int y, int width, int height);

    QSpinBox* XBox() const { return m_x; }
    QSpinBox* YBox() const { return m_y; }
    QSpinBox* WidthBox() const { return m_width; }
    QSpinBox* HeightBox() const { return m_height; }

private:
    // The size's limits follow the place, so the box always stays inside the frame.
    void UpdateLimits();

    int m_frameWidth, m_frameHeight;
    QSpinBox* m_x = nullptr;
    QSpinBox* m_y = nullptr;
    QSpinBox* m_width = nullptr;
    QSpinBox* m_height = nullptr;
};
