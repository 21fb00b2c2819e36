#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutWindowTemplate;
}

namespace quillon {

// The about box: the application icon, "Quillon Version <product version>", the
// copyright line and the trademark line, read from the program file's version resource while
// the box opens. When the resource cannot be read, the template's own texts stay.
class QtAboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit QtAboutWindow(QWidget* parent = nullptr);
    ~QtAboutWindow() override;

private:
    std::unique_ptr<Ui::AboutWindowTemplate> m_ui;
};

}  // namespace quillon
