#include "dialogs/AboutBox.h"

#include <QLabel>
#include <QPushButton>

#include <cstdio>
#include <jpeglib.h>

extern "C" {
#include <libavutil/avutil.h>
}

#include "framework/DialogUnits.h"

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Tessaron"));
    setObjectName(QStringLiteral("AboutBox"));
    DialogUnits du(fontMetrics());
    setFixedSize(du.X(330), du.Y(55));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("IDR_MAINFRAME"));
    icon->setPixmap(QPixmap(QStringLiteral(":/icons/tessaron.xpm")));
    icon->setGeometry(du.X(11), du.Y(17), 32, 32);

    const struct {
        const char* name;
        QString text;
        int y;
    } lines[] = {
        {"IDC_VERSION", QStringLiteral("Tessaron Version 1.7"), 10},
        {"IDC_DATE", QStringLiteral("22 Feb 04 -1800"), 21},
        {"IDC_LIBRARIES", LibraryVersions(), 32},
    };
    for (const auto& line : lines) {
        auto* label = new QLabel(line.text, this);
        label->setObjectName(QString::fromLatin1(line.name));
        // Shown exactly as written: no mnemonic or markup processing.
        label->setTextFormat(Qt::PlainText);
        QRect r = du.Rect(40, line.y, line.y == 32 ? 276 : 119, 8);
        r.setWidth(qMax(r.width(), label->sizeHint().width()));
        r.setHeight(qMax(r.height(), label->sizeHint().height()));
        label->setGeometry(r);
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setGeometry(du.Rect(273, 7, 50, 16));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QString AboutBox::LibraryVersions() {
    char jpeg[32];
    std::snprintf(jpeg, sizeof jpeg, "%d.%d.%d", LIBJPEG_TURBO_VERSION_NUMBER / 1000000,
                  LIBJPEG_TURBO_VERSION_NUMBER / 1000 % 1000, LIBJPEG_TURBO_VERSION_NUMBER % 1000);
    return QStringLiteral("Qt %1, FFmpeg %2, libjpeg-turbo %3")
        .arg(QString::fromLatin1(qVersion()), QString::fromUtf8(av_version_info()), QString::fromLatin1(jpeg));
}
