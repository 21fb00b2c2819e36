#pragma once

#include <QRect>
#include <QSize>

class QFont;

namespace quillon {

// Dialog units, the measure of window templates: horizontally a quarter of the font's average
// character width, vertically an eighth of its height. A template laid out in them keeps its
// proportions with whatever font the platform gives the window.
class DialogUnits {
public:
    // The base units of `font`: the average width of the 52 Latin letters, rounded, and the
    // font's height.
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int baseX() const { return m_baseX; }
    int baseY() const { return m_baseY; }

    // Pixels for a rectangle or size in dialog units, each value rounded to the nearest pixel.
    QRect MapRect(const QRect& units) const;
    QSize MapSize(const QSize& units) const;

private:
    int m_baseX;
    int m_baseY;
};

}  // namespace quillon
