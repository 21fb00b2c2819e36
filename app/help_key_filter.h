#pragma once

#include <QObject>
#include <functional>

class QWidget;

namespace quillon {

// Opens the help when F1 is pressed, without Shift, Ctrl or Alt, in a window or in any of its
// controls. The filter is a child of the window and watches the key presses that reach the
// window, including those its controls leave unhandled.
class HelpKeyFilter : public QObject {
    Q_OBJECT
public:
    // Installs the filter on `window`; `onHelp` runs for each F1 press. Without a function the
    // application object's OpenHelp runs.
    static HelpKeyFilter* Install(QWidget* window, std::function<void()> onHelp = {});

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    HelpKeyFilter(QWidget* window, std::function<void()> onHelp);

    std::function<void()> m_onHelp;
};

}  // namespace quillon
