// Dialog layouts given in dialog units: a quarter of the dialog font's average character width
// horizontally, an eighth of its height vertically, so a layout scales with the font.
#pragma once

#include <QFontMetrics>
#include <QRect>

class DialogUnits {
public:
    explicit DialogUnits(const QFontMetrics& metrics)
        : m_baseX(qMax(1, metrics.horizontalAdvance(
                              QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                              52)),
          m_baseY(qMax(1, metrics.height())) {}

    int X(int units) const { return (units * m_baseX + 2) / 4; }
    int Y(int units) const { return (units * m_baseY + 4) / 8; }
    QRect Rect(int x, int y, int width, int height) const { return QRect(X(x), Y(y), X(width), Y(height)); }

private:
    int m_baseX;
    int m_baseY;
};
