#include "app/template_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <algorithm>

#include "app/dialog_units.h"
#include "app/image_file_edit.h"

namespace quillon {

namespace {

// Grows `rect` to `wanted` where that is larger, keeping its left edge and vertical centre.
QRect GrowAroundCentre(QRect rect, const QSize& wanted) {
    rect.setWidth(std::max(rect.width(), wanted.width()));
    const int extra = wanted.height() - rect.height();
    if (extra > 0) {
        rect.adjust(0, -extra / 2, 0, extra - extra / 2);
    }
    return rect;
}

}  // namespace

void LayOutTemplate(QWidget& window) {
    const DialogUnits units(window.font());
    QSize laidOut = units.MapSize(window.size());
    for (QWidget* control : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        QRect rect = units.MapRect(control->geometry());
        if (auto* list = qobject_cast<QComboBox*>(control)) {
            const int closed = list->sizeHint().height();
            const int item = std::max(1, list->fontMetrics().height() + 2);
            list->setMaxVisibleItems(std::max(1, (rect.height() - closed) / item));
            rect.setHeight(closed);
        } else if (qobject_cast<QLabel*>(control) != nullptr ||
                   qobject_cast<QCheckBox*>(control) != nullptr ||
                   qobject_cast<QtImageFileEdit*>(control) != nullptr) {
            // There is free space to their right and around them.
            rect = GrowAroundCentre(rect, control->sizeHint());
        }
        control->setGeometry(rect);
        laidOut = laidOut.expandedTo(QSize(rect.right() + 1, rect.bottom() + 1));
    }
    // No smaller than the template: below it button 1 and the browse button would be cut off.
    window.setMinimumSize(laidOut);
    window.resize(laidOut);
}

}  // namespace quillon
