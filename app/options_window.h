#pragma once

#include <QDialog>

#include "window/options_dialog.h"

class QLineEdit;

namespace quillon {

// The Options dialog in Qt: the line options of OptionsDialog, which checks them and writes
// them to the store on OK; a field it does not take keeps the dialog open with a box saying why.
class QtOptionsWindow : public QDialog {
    Q_OBJECT
public:
    // `settings` and `store` must outlive the dialog.
    QtOptionsWindow(WindowSettings& settings, SettingsStore& store, QWidget* parent = nullptr);

    void accept() override;

private:
    OptionsDialog m_dialog;
    WindowSettings& m_settings;
    SettingsStore& m_store;
    QLineEdit* m_addedBaudRates = nullptr;
    QLineEdit* m_echoWindow = nullptr;
};

}  // namespace quillon
