#include "dialogs/ViewDialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace

QString ClockTimeText(double seconds) {
    if (!(seconds >= 0) || !std::isfinite(seconds)) seconds = 0;
    const long long ms = std::llround(seconds * 1000.0);
    return QString::asprintf("%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

bool ParseFrameOrTime(const QString& text, const std::function<int(double seconds)>& frameAtTime, double lastTime,
                      int frameCount, int* frame, QString* reason) {
    const QString t = text.trimmed();
    long long number = -1;
    static const QRegularExpression kNumber(QStringLiteral("^\\d{1,10}$"));
    // [[hh:]mm:]ss[.fff] or seconds with an "s" or a decimal point.
    static const QRegularExpression kTime(QStringLiteral("^(?:(\\d+):)?(?:(\\d+):)?(\\d+(?:\\.\\d*)?)\\s*(s)?$"));
    if (kNumber.match(t).hasMatch()) {
        number = t.toLongLong();
    } else if (const QRegularExpressionMatch m = kTime.match(t); m.hasMatch()) {
        double seconds = m.captured(3).toDouble();
        if (m.hasCaptured(2)) {
            seconds += 60.0 * m.captured(2).toDouble() + 3600.0 * m.captured(1).toDouble();
        } else if (m.hasCaptured(1)) {
            seconds += 60.0 * m.captured(1).toDouble();
        }
        if (!frameAtTime) {
            if (reason) *reason = QStringLiteral("This video has no frame times, so a time cannot be used.");
            return false;
        }
        // The frame on the screen at that moment; half a millisecond's tolerance for times typed as the
        // status bar shows them (rounded to the millisecond).
        // A time past the last frame's own span (one mean frame period after its start) is outside the video.
        const double period = frameCount > 1 ? lastTime / (frameCount - 1) : 0;
        number = seconds + 0.0005 >= lastTime + period && period > 0 ? frameCount : frameAtTime(seconds + 0.0005);
    } else {
        if (reason) *reason = QStringLiteral("\"%1\" is neither a frame number nor a time.").arg(t);
        return false;
    }
    if (number < 0 || number >= frameCount) {
        if (reason)
            *reason = QStringLiteral("The video has frames 0 to %1 (%2 to %3).")
                          .arg(frameCount - 1)
                          .arg(ClockTimeText(0))
                          .arg(ClockTimeText(lastTime));
        return false;
    }
    if (frame) *frame = static_cast<int>(number);
    return true;
}

GoToFrameDialog::GoToFrameDialog(QWidget* parent, int current, int frameCount, double lastTime) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Go to Frame"));
    setObjectName(QStringLiteral("GoToFrame"));
    auto* layout = new QVBoxLayout(this);
    const QString last = ClockTimeText(lastTime);
    auto* label = new QLabel(QStringLiteral(
                                 "Frame number (0 to %1) or time (00:00:00.000 to %2, or seconds such as 12.5s):")
                                 .arg(frameCount - 1)
                                 .arg(last),
                             this);
    label->setWordWrap(true);
    layout->addWidget(label);
    m_field = new QLineEdit(QString::number(current), this);
    m_field->setObjectName(QStringLiteral("IDC_FRAME"));
    m_field->selectAll();
    label->setBuddy(m_field);
    layout->addWidget(m_field);
    layout->addWidget(OkCancel(this));
}

QString GoToFrameDialog::Text() const { return m_field->text(); }

CropBoxDialog::CropBoxDialog(QWidget* parent, int frameWidth, int frameHeight, int x, int y, int width, int height)
    : QDialog(parent), m_frameWidth(qMax(1, frameWidth)), m_frameHeight(qMax(1, frameHeight)) {
    setWindowTitle(QStringLiteral("Crop Box"));
    setObjectName(QStringLiteral("CropBox"));
    auto* form = new QFormLayout(this);
    auto make = [this, form](const char* name, const QString& label) {
        auto* box = new QSpinBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setSuffix(QStringLiteral(" px"));
        form->addRow(label, box);
        return box;
    };
    m_x = make("IDC_BOX_X", QStringLiteral("&Left (x):"));
    m_y = make("IDC_BOX_Y", QStringLiteral("&Top (y):"));
    m_width = make("IDC_BOX_WIDTH", QStringLiteral("&Width:"));
    m_height = make("IDC_BOX_HEIGHT", QStringLiteral("&Height:"));
    m_x->setRange(0, m_frameWidth - 1);
    m_y->setRange(0, m_frameHeight - 1);
    m_x->setValue(x);
    m_y->setValue(y);
    UpdateLimits();
    m_width->setValue(width);
    m_height->setValue(height);
    form->addRow(new QLabel(QStringLiteral("The frame is %1 x %2 pixels.").arg(m_frameWidth).arg(m_frameHeight), this));
    form->addRow(OkCancel(this));
    connect(m_x, &QSpinBox::valueChanged, this, &CropBoxDialog::UpdateLimits);
    connect(m_y, &QSpinBox::valueChanged, this, &CropBoxDialog::UpdateLimits);
}

void CropBoxDialog::UpdateLimits() {
    m_width->setRange(1, m_frameWidth - m_x->value());
    m_height->setRange(1, m_frameHeight - m_y->value());
}
