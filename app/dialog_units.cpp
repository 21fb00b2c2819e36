#include "app/dialog_units.h"

#include <QFont>
#include <QFontMetrics>

namespace quillon {

namespace {

// value * numerator / denominator, rounded half away from zero.
int Scale(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : -((-product + half) / denominator));
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
}

QRect DialogUnits::MapRect(const QRect& units) const {
    return QRect(Scale(units.x(), m_baseX, 4), Scale(units.y(), m_baseY, 8),
                 Scale(units.width(), m_baseX, 4), Scale(units.height(), m_baseY, 8));
}

QSize DialogUnits::MapSize(const QSize& units) const {
    return QSize(Scale(units.width(), m_baseX, 4), Scale(units.height(), m_baseY, 8));
}

}  // namespace quillon
