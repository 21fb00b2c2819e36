#include "app/baudrate_list.h"

#include <QComboBox>

#include <cstddef>
#include <string>
#include <vector>

#include "window/window_lists.h"

void FillBaudrateList(QComboBox& list, const QString& storedBaudrate) {
    const std::vector<std::string> texts = BaudrateTexts();
    list.clear();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        list.addItem(QString::fromStdString(texts[i]), kBaudrates[i]);
    }
    list.setCurrentIndex(SelectBaudrateEntry(storedBaudrate.toStdString()));
}

std::int32_t GetSelectedBaudrate(const QComboBox& list, QString& strBaudrate) {
    std::string text = strBaudrate.toStdString();
    const std::int32_t rate = SelectedBaudrate(list.currentIndex(), text);
    if (list.currentIndex() >= 0) {
        strBaudrate = QString::fromStdString(text);
    }
    return rate;
}
