// CxImage::Draw, on the GUI side so that the core library links no Qt. Painting: the bottom-up
// rows are wrapped, not copied, and drawn mirrored. 24-bit images and
// 8-bit palette images (greyscale JPEGs decode to those) are drawn; 1- and 4-bit ones are not.
#include "image/ximage.h"

#include <QImage>
#include <QList>
#include <QPainter>
#include <QRect>

namespace {

QList<QRgb> ColourTable(const RGBQUAD* palette, uint32_t entries) {
    QList<QRgb> table;
    table.reserve(static_cast<qsizetype>(entries));
    for (uint32_t i = 0; i < entries; ++i)
        table.append(qRgb(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue));
    return table;
}

}  // namespace

int CxImage::Draw(QPainter* painter, int x, int y, int cx, int cy, const QRect* clipRect) {
    if (!m_dib || !painter || cx == 0 || cy == 0) return 0;
    const int width = m_head.biWidth;
    const int height = m_head.biHeight;
    if (cx < 0) cx = width;
    if (cy < 0) cy = height;
    if (width <= 0 || height <= 0 || !painter->isActive()) return 0;

    // Memory order is bottom row first, so this image is upside down until mirrored below.
    const auto stride = static_cast<qsizetype>(m_rowWidth);
    const uchar* bits = m_pixels;
    QImage rows;
    switch (m_head.biBitCount) {
    case 24: rows = QImage(bits, width, height, stride, QImage::Format_BGR888); break;
    case 8:
        if (IsIdentityGrey()) {
            rows = QImage(bits, width, height, stride, QImage::Format_Grayscale8);
        } else {
            rows = QImage(bits, width, height, stride, QImage::Format_Indexed8);
            rows.setColorTable(ColourTable(GetPalette(), m_head.biClrUsed));
        }
        break;
    default: return 0;
    }
    if (rows.isNull()) return 0;

    painter->save();
    if (clipRect) painter->setClipRect(*clipRect, Qt::IntersectClip);
    painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter->translate(x, y + cy);
    painter->scale(1, -1);
    painter->drawImage(QRect(0, 0, cx, cy), rows);
    painter->restore();
    return 1;
}

int CxImage::Draw(QPaintDevice* device, int x, int y, int cx, int cy, const QRect* clipRect) {
    if (!device || !m_dib || cx == 0 || cy == 0) return 0;
    QPainter painter;
    if (!painter.begin(device)) return 0;
    return Draw(&painter, x, y, cx, cy, clipRect);
}
