#include "app/port_list.h"

#include <QComboBox>

#include "app/list_selection.h"

namespace {

// Adds one reported port to the list the context points to, and goes on.
int AddPort(std::uintptr_t context, const ComPortInfo* info) {
    auto* list = reinterpret_cast<QComboBox*>(context);
    if (info != nullptr && info->portName != nullptr) {
        InsertSortedEntry(*list, QString::fromUtf8(info->portName));
    }
    return 1;
}

}  // namespace

void FillComPortList(QComboBox& list, const QString& storedPort, const PortEnumerator& enumerate) {
    const int listed = enumerate(&AddPort, reinterpret_cast<std::uintptr_t>(&list));
    if (listed == 1) {
        SelectEntryStartingWith(list, storedPort);
    } else {
        list.setCurrentIndex(-1);
    }
}

void RefillComPortList(QComboBox& list, const QString& storedPort,
                       const PortEnumerator& enumerate) {
    const bool selected = list.currentIndex() >= 0;
    const QString previous = list.currentText();
    list.clear();
    FillComPortList(list, storedPort, enumerate);
    if (selected) {
        // Only the same port again: one that merely begins with its name is another device.
        list.setCurrentIndex(
            list.findText(previous, Qt::MatchFixedString | Qt::MatchCaseSensitive));
    }
}

QString GetSelectedComPort(const QComboBox& list, QString& strComPort) {
    if (list.currentIndex() < 0) {
        return QStringLiteral("COM1");
    }
    strComPort = list.currentText();
    return strComPort;
}
