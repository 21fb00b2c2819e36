#include "app/port_combo_box.h"

#include <QAbstractItemView>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <QStyledItemDelegate>
#include "window/window_lists.h"

namespace quillon {

namespace {

constexpr int kDescriptionRole = Qt::UserRole + 1;

// Draws and measures the open list's entries with their descriptions.
class PortEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = PortComboBox::OpenListText(index.data(Qt::DisplayRole).toString(),
                                                  index.data(kDescriptionRole).toString());
    }
};

}  // namespace

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentTextChanged, this, &QWidget::setToolTip);
    setItemDelegate(new PortEntryDelegate(this));
}

void PortComboBox::SetDescriptions(const QStringList& descriptions) {
    for (int i = 0; i < count() && i < descriptions.size(); ++i) {
        setItemData(i, descriptions[i], kDescriptionRole);
    }
}

QString PortComboBox::OpenListText(const QString& name, const QString& description) {
    return QString::fromStdString(OpenPortListText(name.toStdString(), description.toStdString()));
}

void PortComboBox::showPopup() {
    if (m_refresh) {
        m_refresh();
    }
    QAbstractItemView* list = view();
    list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                          style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    QComboBox::showPopup();
}

void PortComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideLeft, field.width());
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace quillon
