#include "app/gui_message_box.h"

#include <QMessageBox>
#include <QPointer>

namespace quillon {

void ShowMessageBox(QWidget* parent, const WindowMessage& message) {
    // On the heap: the parent may be destroyed while the box is open, and deletes it then;
    // the guard tells.
    QPointer<QMessageBox> box = new QMessageBox(
        message.icon == MessageIcon::kWarning ? QMessageBox::Warning : QMessageBox::Information,
        QStringLiteral("Quillon"), QString::fromStdString(message.text), QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->exec();
    delete box.data();
}

}  // namespace quillon
