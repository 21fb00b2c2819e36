#include "app/baudrate_list.h"

#include <QComboBox>

#include "app/list_selection.h"

namespace {

constexpr std::int32_t kBaudrates[] = {9600, 19200, 38400, 57600, 115200};
constexpr std::int32_t kDefaultBaudrate = 57600;

}  // namespace

void FillBaudrateList(QComboBox& list, const QString& storedBaudrate) {
    for (const std::int32_t rate : kBaudrates) {
        list.addItem(QString::number(rate), rate);
    }
    SelectEntryStartingWith(list, storedBaudrate);
}

std::int32_t GetSelectedBaudrate(const QComboBox& list, QString& strBaudrate) {
    if (list.currentIndex() < 0) {
        return kDefaultBaudrate;
    }
    strBaudrate = list.currentText();
    return list.currentData().toInt();
}
