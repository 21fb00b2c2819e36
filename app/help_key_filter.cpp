#include "app/help_key_filter.h"

#include <QKeyEvent>
#include <QWidget>
#include <utility>

#include "app/download_app.h"

namespace quillon {

HelpKeyFilter* HelpKeyFilter::Install(QWidget* window, std::function<void()> onHelp) {
    auto* filter = new HelpKeyFilter(window, std::move(onHelp));
    window->installEventFilter(filter);
    return filter;
}

HelpKeyFilter::HelpKeyFilter(QWidget* window, std::function<void()> onHelp)
    : QObject(window), m_onHelp(std::move(onHelp)) {}

bool HelpKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return QObject::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers blocking =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    if (key->key() != Qt::Key_F1 || (key->modifiers() & blocking) != 0) {
        return QObject::eventFilter(watched, event);
    }
    if (m_onHelp) {
        m_onHelp();
    } else if (QtDownloadApp* app = GetDownloadApp()) {
        app->OpenHelp();
    }
    return true;
}

}  // namespace quillon
