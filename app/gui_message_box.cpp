#include "app/gui_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>

namespace {

void ShowInThisThread(const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quillon"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    // The reader's texts quote file content ("Nr. '<'"): never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace

void ShowGuiMessageBox(const std::string& text) {
    QCoreApplication* app = QCoreApplication::instance();
    if (qobject_cast<QApplication*>(app) == nullptr) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    const QString message = QString::fromStdString(text);
    if (QThread::currentThread() == app->thread()) {
        ShowInThisThread(message);
    } else {
        QMetaObject::invokeMethod(
            app, [message] { ShowInThisThread(message); }, Qt::BlockingQueuedConnection);
    }
}

MessageBoxHandler InstallGuiMessageBoxHandler() {
    return SetMessageBoxHandler(ShowGuiMessageBox);
}
