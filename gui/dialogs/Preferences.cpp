#include "dialogs/Preferences.h"

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <unistd.h>
#include <algorithm>
#include <QPushButton>

#include "framework/DialogUnits.h"

Preferences::Preferences(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Preferences"));
    setObjectName(QStringLiteral("Preferences"));
    DialogUnits du(fontMetrics());
    setFixedSize(du.X(186), du.Y(115));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setGeometry(du.Rect(129, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("IDCANCEL"));
    cancel->setGeometry(du.Rect(129, 24, 50, 14));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    m_deinterlaceBox = new QCheckBox(QStringLiteral("Deinterlace images"), this);
    m_deinterlaceBox->setObjectName(QStringLiteral("IDC_DEINTERLACE"));
    QRect box = du.Rect(41, 46, 76, 10);
    box.setWidth(qMax(box.width(), m_deinterlaceBox->sizeHint().width()));
    box.setHeight(qMax(box.height(), m_deinterlaceBox->sizeHint().height()));
    m_deinterlaceBox->setGeometry(box);
    connect(m_deinterlaceBox, &QCheckBox::clicked, this, &Preferences::OnDeinterlaceClicked);

    // Below the first box, as wide as its text needs.
    m_fitLargeBox = new QCheckBox(QStringLiteral("Fit large videos to the window"), this);
    m_fitLargeBox->setObjectName(QStringLiteral("IDC_FIT_LARGE"));
    QRect fit = du.Rect(41, 62, 76, 10);
    fit.setWidth(qMax(fit.width(), m_fitLargeBox->sizeHint().width()));
    fit.setHeight(qMax(fit.height(), m_fitLargeBox->sizeHint().height()));
    m_fitLargeBox->setGeometry(fit);
    if (fit.right() + du.X(7) > width()) setFixedSize(fit.right() + du.X(7), height());
    connect(m_fitLargeBox, &QCheckBox::clicked, this, [this](bool on) { fitLargeChecked = on ? 1 : 0; });

    // Decoded pictures kept so that Left is served from memory; 0 keeps none.
    auto* label = new QLabel(QStringLiteral("Memory for stepping back:"), this);
    label->setObjectName(QStringLiteral("IDC_STEP_BACK_LABEL"));
    QRect labelRect = du.Rect(41, 80, 90, 10);
    labelRect.setSize(labelRect.size().expandedTo(label->sizeHint()));
    label->setGeometry(labelRect);
    m_stepBackBox = new QSpinBox(this);
    m_stepBackBox->setObjectName(QStringLiteral("IDC_STEP_BACK"));
    m_stepBackBox->setRange(0, MaxStepBackMegabytes());
    m_stepBackBox->setSuffix(QStringLiteral(" MB"));
    m_stepBackBox->setSingleStep(128);
    m_stepBackBox->setToolTip(
        QStringLiteral("Pictures decoded on the way to a frame are kept, so that stepping back "
                       "shows them at once; 0 keeps none"));
    label->setBuddy(m_stepBackBox);
    QRect spin = du.Rect(41, 92, 60, 12);
    spin.setSize(spin.size().expandedTo(m_stepBackBox->sizeHint()));
    m_stepBackBox->setGeometry(spin);
    if (labelRect.right() + du.X(7) > width()) setFixedSize(labelRect.right() + du.X(7), height());
    if (spin.bottom() + du.Y(7) > height()) setFixedSize(width(), spin.bottom() + du.Y(7));
    connect(m_stepBackBox, &QSpinBox::valueChanged, this, [this](int value) { stepBackMegabytes = value; });
}

int Preferences::MaxStepBackMegabytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 4096;
    return static_cast<int>(std::clamp<int64_t>(int64_t(pages) * pageSize >> 20, 256, 65536));
}

void Preferences::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void Preferences::OnInitDialog() {
    m_deinterlaceBox->setChecked(deinterlaceChecked != 0);
    m_fitLargeBox->setChecked(fitLargeChecked != 0);
    m_stepBackBox->setValue(stepBackMegabytes);
}

void Preferences::OnDeinterlaceClicked() { deinterlaceChecked = m_deinterlaceBox->isChecked() ? 1 : 0; }
