// Build-time tool: writes the program's XPM icon as PNG files for the desktop's icon theme.
// Usage: tessaron-icon-png ICON.xpm OUTDIR SIZE...  ->  OUTDIR/<SIZE>x<SIZE>/apps/tessaron.png
// Whole multiples of the drawn size are scaled pixel for pixel so the edges stay sharp.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s ICON.xpm OUTDIR SIZE...\n", argv[0]);
        return 1;
    }
    const QImage icon = QImage(QString::fromLocal8Bit(argv[1]), "XPM").convertToFormat(QImage::Format_ARGB32);
    if (icon.isNull() || icon.width() <= 0 || icon.width() != icon.height()) {
        std::fprintf(stderr, "%s: cannot read a square XPM image from %s\n", argv[0], argv[1]);
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0 || size > 1024) {
            std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[i]);
            return 1;
        }
        const Qt::TransformationMode mode = size % icon.width() == 0 ? Qt::FastTransformation
                                                                     : Qt::SmoothTransformation;
        const QImage scaled = icon.scaled(size, size, Qt::IgnoreAspectRatio, mode);
        const QString dir = QString::fromLocal8Bit(argv[2]) + QString("/%1x%1/apps").arg(size);
        const QString out = dir + QStringLiteral("/tessaron.png");
        if (!QDir().mkpath(dir) || !scaled.save(out, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(out));
            return 1;
        }
    }
    return 0;
}
