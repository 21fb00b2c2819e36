#include "app/options_window.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/gui_message_box.h"

namespace quillon {

QtOptionsWindow::QtOptionsWindow(WindowSettings& settings, SettingsStore& store, QWidget* parent)
    : QDialog(parent), m_dialog(settings), m_settings(settings), m_store(store) {
    setWindowTitle(QString::fromUtf8(OptionsDialog::kTitle));
    auto* layout = new QVBoxLayout(this);
    // One row per line option; later options take rows of their own here.
    auto* fields = new QFormLayout;
    m_echoWindow = new QLineEdit(QString::fromStdString(m_dialog.EchoWindowText()), this);
    m_echoWindow->setObjectName(QStringLiteral("echoWindowEdit"));
    fields->addRow(QString::fromUtf8(OptionsDialog::kEchoWindowLabel), m_echoWindow);
    layout->addLayout(fields);
    auto* note = new QLabel(QString::fromUtf8(OptionsDialog::kEchoWindowNote), this);
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* rateFields = new QFormLayout;
    m_addedBaudRates = new QLineEdit(QString::fromStdString(m_dialog.AddedBaudRatesText()), this);
    m_addedBaudRates->setObjectName(QStringLiteral("addedBaudRatesEdit"));
    rateFields->addRow(QString::fromUtf8(OptionsDialog::kAddedBaudRatesLabel), m_addedBaudRates);
    layout->addLayout(rateFields);
    auto* rateNote = new QLabel(QString::fromUtf8(OptionsDialog::kAddedBaudRatesNote), this);
    rateNote->setWordWrap(true);
    layout->addWidget(rateNote);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QtOptionsWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QtOptionsWindow::reject);
    layout->addWidget(buttons);
}

void QtOptionsWindow::accept() {
    const Status accepted =
        m_dialog.Accept(m_echoWindow->text().toStdString(), m_addedBaudRates->text().toStdString(),
                        m_settings, m_store);
    if (!accepted) {
        ShowMessageBox(this, {accepted.error().text, MessageIcon::kWarning});
        QLineEdit* refused = m_dialog.refusedField() == OptionsDialog::Field::kAddedBaudRates
                                 ? m_addedBaudRates
                                 : m_echoWindow;
        refused->setFocus();
        refused->selectAll();
        return;
    }
    QDialog::accept();
}

}  // namespace quillon
