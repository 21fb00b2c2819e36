#include "app/gui_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// A box asked for by another thread, on its way to or shown in the GUI thread.
struct BoxRequest {
    bool shown = false;      // the GUI thread has put it up
    bool answered = false;   // confirmed or withdrawn: the asking thread goes on
    bool withdrawn = false;  // answered without the operator
};

std::mutex g_mutex;
std::condition_variable g_answered;
int g_withdrawals = 0;                               // GuiMessageBoxesWithdrawn alive
std::vector<std::shared_ptr<BoxRequest>> g_waiting;  // requests whose thread waits

void PrintToStderr(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void ShowInThisThread(const QString& text) {
    // On the heap: the parent (the active window) may be destroyed while the box is open, and
    // deletes it then; the guard tells.
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("Quillon"), text, QMessageBox::Ok,
                        QApplication::activeWindow());
    // The reader's texts quote file content ("Nr. '<'"): never read them as markup.
    box->setTextFormat(Qt::PlainText);
    box->exec();
    delete box.data();
}

void Answer(const std::shared_ptr<BoxRequest>& request) {
    std::lock_guard<std::mutex> lock(g_mutex);
    request->answered = true;
    std::erase(g_waiting, request);
    g_answered.notify_all();
}

// Shows `text` in the GUI thread and waits there for the confirmation, unless the boxes are
// withdrawn before or meanwhile.
void ShowFromOtherThread(QCoreApplication& app, const std::string& text) {
    auto request = std::make_shared<BoxRequest>();
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_withdrawals > 0) {
            PrintToStderr(text);
            return;
        }
        g_waiting.push_back(request);
    }
    const QString message = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        &app,
        [request, message] {
            {
                std::lock_guard<std::mutex> lock(g_mutex);
                if (request->answered) {
                    return;  // withdrawn before it came up
                }
                request->shown = true;
            }
            ShowInThisThread(message);
            Answer(request);
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(g_mutex);
    g_answered.wait(lock, [&request] { return request->answered; });
    if (request->withdrawn && !request->shown) {
        PrintToStderr(text);  // the operator never saw it
    }
}

}  // namespace

void ShowGuiMessageBox(const std::string& text) {
    QCoreApplication* app = QCoreApplication::instance();
    if (qobject_cast<QApplication*>(app) == nullptr) {
        PrintToStderr(text);
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        ShowInThisThread(QString::fromStdString(text));
    } else {
        ShowFromOtherThread(*app, text);
    }
}

MessageBoxHandler InstallGuiMessageBoxHandler() {
    return SetMessageBoxHandler(ShowGuiMessageBox);
}

GuiMessageBoxesWithdrawn::GuiMessageBoxesWithdrawn() {
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_withdrawals;
    for (const std::shared_ptr<BoxRequest>& request : g_waiting) {
        request->answered = true;
        request->withdrawn = true;
    }
    g_waiting.clear();
    g_answered.notify_all();
}

GuiMessageBoxesWithdrawn::~GuiMessageBoxesWithdrawn() {
    std::lock_guard<std::mutex> lock(g_mutex);
    --g_withdrawals;
}
