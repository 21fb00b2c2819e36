#include "app/port_list.h"

#include <QComboBox>

namespace {

// The entries and the selection as `list` shows them.
PortListEntries Shown(const QComboBox& list) {
    PortListEntries shown;
    for (int i = 0; i < list.count(); ++i) {
        shown.ports.push_back(list.itemText(i).toStdString());
    }
    shown.selected = list.currentIndex();
    return shown;
}

void Show(QComboBox& list, const PortListEntries& ports) {
    list.clear();
    for (const std::string& port : ports.ports) {
        list.addItem(QString::fromStdString(port));
    }
    list.setCurrentIndex(ports.selected);
}

}  // namespace

void FillComPortList(QComboBox& list, const QString& storedPort, const PortEnumerator& enumerate) {
    Show(list, LoadPortListEntries(enumerate, storedPort.toStdString()));
}

void RefillComPortList(QComboBox& list, const QString& storedPort,
                       const PortEnumerator& enumerate) {
    Show(list, ReloadPortListEntries(enumerate, Shown(list), storedPort.toStdString()));
}

QString GetSelectedComPort(const QComboBox& list, QString& strComPort) {
    std::string port = strComPort.toStdString();
    const std::string selected = SelectedComPort(Shown(list), port);
    if (list.currentIndex() >= 0) {
        strComPort = QString::fromStdString(port);
    }
    return QString::fromStdString(selected);
}
