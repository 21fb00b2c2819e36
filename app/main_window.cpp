#include "app/main_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <climits>
#include <cstdio>

#include "app/about_window.h"
#include "app/download_app.h"
#include "app/gui_message_box.h"
#include "app/help_key_filter.h"
#include "app/image_file_edit.h"
#include "app/options_window.h"
#include "app/port_combo_box.h"
#include "app/production_window.h"
#include "app/qt_settings_store.h"
#include "app/template_layout.h"
#include "res/resource.h"
#include "ui_log_menu.h"
#include "ui_main_window.h"
#include "window/image_file_dialog.h"

namespace quillon {

namespace {

constexpr int kLogListMargin = 10;  // between the log list and the client area's right and bottom
// The progress bar of a job that failed or was aborted.
const QColor kFailedProgressColor(0xC6, 0x28, 0x28);

MainWindowSources ProgramSources(const QtDownloadApp& app) {
    return {FindTargetFolders(QCoreApplication::applicationDirPath().toStdString()),
            {},
            {},
            app.SettingsNote(),
            app.Start()};
}

}  // namespace

QtMainWindow::QtMainWindow(QtDownloadApp& app, QWidget* parent)
    : QtMainWindow(app, ProgramSources(app), parent) {}

QtMainWindow::QtMainWindow(QtDownloadApp& app, MainWindowSources sources, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::MainWindowTemplate>()),
      m_icon(QtDownloadApp::LoadAppIcon()),
      m_app(app),
      m_controller(
          std::make_unique<MainWindowController>(*this, app.Settings(), std::move(sources))) {
    // The template: its controls, laid out for the window's font.
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    LayOutTemplate(*this);
    CreateStatusLine();

    // The image file field's file dialog.
    m_ui->imageFileEdit->SetDialogTitle(QString::fromUtf8(kImageFileDialogTitle));
    m_ui->imageFileEdit->SetDefaultExtension(QString::fromUtf8(kImageFileDialogExtension));
    m_ui->imageFileEdit->SetFilter(QString::fromUtf8(kImageFileDialogFilter));

    setWindowIcon(m_icon);

    ConnectControls();
    m_controller->Open();

    // The log shows a current line and a selection only where the operator makes them.
    m_ui->logList->installEventFilter(this);
    m_ui->logList->viewport()->installEventFilter(this);
    HelpKeyFilter::Install(this);
    // The focus starts on the first tab stop.
    m_ui->closeButton->setFocus();
}

QtMainWindow::~QtMainWindow() {
    // The controls reach no controller any more; a job that still runs is asked to stop and
    // waited for, and what it posted meanwhile goes with the window.
    for (QObject* control : std::initializer_list<QObject*>{
             m_ui->closeButton, m_ui->initializeButton, m_ui->startDownloadButton,
             m_ui->eraseAllCheckBox, m_ui->imageFileEdit, m_ui->targetList, m_ui->portList,
             m_ui->baudrateList}) {
        control->disconnect(this);
    }
    m_ui->portList->SetRefresh({});
    m_controller.reset();
}

void QtMainWindow::ConnectControls() {
    MainWindowController& controller = *m_controller;
    connect(m_ui->closeButton, &QPushButton::clicked, this,
            [&controller] { controller.OnCloseButton(); });
    connect(m_ui->initializeButton, &QPushButton::clicked, this,
            [&controller] { controller.OnInitialize(); });
    connect(m_ui->startDownloadButton, &QPushButton::clicked, this,
            [&controller] { controller.OnStartDownload(); });
    connect(m_ui->eraseAllCheckBox, &QCheckBox::toggled, this,
            [&controller](bool checked) { controller.OnEraseAllChanged(checked); });
    connect(
        m_ui->imageFileEdit, &QtImageFileEdit::textChanged, this,
        [&controller](const QString& text) { controller.OnImageFileEdited(text.toStdString()); });
    const std::pair<QComboBox*, void (MainWindowController::*)(int)> lists[] = {
        {m_ui->targetList, &MainWindowController::OnTargetSelected},
        {m_ui->portList, &MainWindowController::OnPortSelected},
        {m_ui->baudrateList, &MainWindowController::OnBaudrateSelected},
    };
    for (const auto& [list, onSelected] : lists) {
        connect(list, &QComboBox::currentIndexChanged, this,
                [this, &controller, onSelected = onSelected](int index) {
                    if (!m_showingList) {
                        (controller.*onSelected)(index);
                    }
                });
    }
    m_ui->portList->SetRefresh([&controller] { controller.OnPortListOpening(); });
}

int QtMainWindow::exec() {
    const int result = QDialog::exec();
    if (m_controller->JobRunning()) {
        // Closed during a job (button 1 after an abort request): the job ends by
        // itself or at its next poll point; its events are still handled, and its end ends
        // this loop.
        QEventLoop untilJobDone;
        m_jobDoneLoop = &untilJobDone;
        untilJobDone.exec();
        m_jobDoneLoop = nullptr;
    }
    return result;
}

void QtMainWindow::reject() {
    m_controller->OnCancel();
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
    // The close box and Alt+F4 do nothing while a job runs.
    if (!m_controller->MayCloseFromFrame()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void QtMainWindow::SetImageFile(const QString& path) {
    m_controller->SetImageFile(path.toStdString());
}

// --- What the controller shows ----------------------------------------------------------

QComboBox* QtMainWindow::List(WindowList list) const {
    switch (list) {
        case WindowList::kPort:
            return m_ui->portList;
        case WindowList::kBaudrate:
            return m_ui->baudrateList;
        case WindowList::kTarget:
            break;
    }
    return m_ui->targetList;
}

void QtMainWindow::ShowList(WindowList list, const std::vector<std::string>& entries,
                            int selected) {
    QComboBox* combo = List(list);
    m_showingList = true;
    combo->clear();
    for (const std::string& entry : entries) {
        combo->addItem(QString::fromStdString(entry));
    }
    // A combo box selects its first entry by itself; the controller decides instead.
    combo->setCurrentIndex(selected);
    m_showingList = false;
}

void QtMainWindow::ShowPortDescriptions(const std::vector<std::string>& descriptions) {
    QStringList texts;
    for (const std::string& description : descriptions) {
        texts.push_back(QString::fromStdString(description));
    }
    m_ui->portList->SetDescriptions(texts);
}

void QtMainWindow::ShowImageFile(const std::string& path) {
    m_ui->imageFileEdit->setText(QString::fromStdString(path));
}

void QtMainWindow::ShowEraseAll(bool checked) {
    m_ui->eraseAllCheckBox->setChecked(checked);
}

void QtMainWindow::ShowControls(const WindowControls& controls) {
    m_ui->startDownloadButton->setEnabled(controls.startDownloadEnabled);
    m_ui->initializeButton->setEnabled(controls.initializeEnabled);
    m_ui->closeButton->setText(QString::fromStdString(controls.closeButtonCaption));
}

void QtMainWindow::ShowLogChange(const LogLines::Change& change) {
    QListWidget* log = m_ui->logList;
    const QString text = QString::fromStdString(change.text);
    const int row = static_cast<int>(change.index);
    QListWidgetItem* item = change.replacesLast ? log->item(row) : nullptr;
    if (item != nullptr) {
        item->setText(text);
    } else {
        log->addItem(text);
        item = log->item(log->count() - 1);
    }
    log->scrollToItem(item, QAbstractItemView::PositionAtTop);
}

void QtMainWindow::ClearLog() {
    m_ui->logList->clear();
}

void QtMainWindow::ShowProgress(std::uint32_t done, std::uint32_t total, ProgressLook look) {
    QProgressBar* bar = m_ui->progressBar;
    // The failed look: the style draws its bar as ever, in the error colour.
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Highlight,
                     look == ProgressLook::kFailed
                         ? kFailedProgressColor
                         : QApplication::palette(bar).color(QPalette::Highlight));
    bar->setPalette(palette);
    bar->setProperty("failed", look == ProgressLook::kFailed);
    if (total == 0) {
        bar->setValue(bar->minimum());
        bar->setRange(0, 1);
        return;
    }
    const auto maximum = static_cast<int>(std::min<std::uint32_t>(total, INT_MAX));
    bar->setRange(0, maximum);
    bar->setValue(static_cast<int>(std::min<std::uint32_t>(done, INT_MAX)));
}

void QtMainWindow::ShowStatus(const std::string& text) {
    m_statusLine->setText(QString::fromStdString(text));
}

void QtMainWindow::ShowMessage(const WindowMessage& message) {
    ShowMessageBox(isVisible() ? this : QApplication::activeWindow(), message);
}

void QtMainWindow::WriteDebugText(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void QtMainWindow::Close(int result) {
    // Qt's own result for Cancel (2).
    QDialog::done(result == kDialogResultOk ? QDialog::Accepted : QDialog::Rejected);
}

void QtMainWindow::PostJobEvent(std::unique_ptr<JobEvent> event) {
    // The queued call owns the event until it has run in the GUI thread; calls still queued
    // when the window is destroyed are deleted with it, and their events with them.
    QMetaObject::invokeMethod(
        this, [this, queued = std::shared_ptr<JobEvent>(std::move(event))] { OnJobEvent(*queued); },
        Qt::QueuedConnection);
}

void QtMainWindow::OnJobEvent(const JobEvent& event) {
    if (!m_controller) {
        return;  // the window is being destroyed
    }
    m_controller->OnJobEvent(event);
    if (m_jobDoneLoop != nullptr && !m_controller->JobRunning()) {
        m_jobDoneLoop->quit();  // the window closed while the job ran: the program goes on
    }
}

// --- Layout, log and menus ---------------------------------------------------------------

void QtMainWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOutLogList();
}

void QtMainWindow::LayOutLogList() {
    QListWidget* log = m_ui->logList;
    const QRect rect = log->geometry();
    log->setGeometry(rect.x(), rect.y(), std::max(0, width() - kLogListMargin - rect.x()),
                     std::max(0, height() - kLogListMargin - StatusLineSpace() - rect.y()));
    if (m_statusLine != nullptr) {
        m_statusLine->setGeometry(rect.x(), height() - StatusLineSpace(),
                                  std::max(0, width() - kLogListMargin - rect.x()),
                                  m_statusLine->height());
    }
}

void QtMainWindow::CreateStatusLine() {
    // Twice the window's font, bold, to be read from across the room; its words say the
    // outcome whatever colour the progress bar shows.
    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    QFont font = m_statusLine->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() * 2 : 18);
    m_statusLine->setFont(font);
    m_statusLine->setTextFormat(Qt::PlainText);
    m_statusLine->resize(m_statusLine->width(), m_statusLine->fontMetrics().height() + 4);
    // The template's controls keep their places: the window grows downwards.
    const QSize grown(0, StatusLineSpace());
    setMinimumSize(minimumSize() + grown);
    resize(size() + grown);
    LayOutLogList();
}

int QtMainWindow::StatusLineSpace() const {
    return m_statusLine != nullptr ? m_statusLine->height() + kLogListMargin : 0;
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
    QListWidget* log = m_ui->logList;
    if (watched == log->viewport()) {
        // The right button opens the log's menu (the context menu event still comes) and
        // selects nothing.
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
                    return true;
                }
                break;
            default:
                break;
        }
    } else if (watched == log && event->type() == QEvent::FocusIn &&
               !log->currentIndex().isValid()) {
        // The view makes its first line current when it gets the focus without one, also when
        // a job button disables itself and passes the focus on. The operator picks a line with
        // the arrow keys or a left click instead.
        static_cast<QObject*>(log)->event(event);
        log->selectionModel()->clearCurrentIndex();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void QtMainWindow::contextMenuEvent(QContextMenuEvent* event) {
    // Only a click inside the log list opens its menu; a request from the keyboard points at
    // no place the operator chose, so it opens nothing.
    QListWidget* log = m_ui->logList;
    if (event->reason() != QContextMenuEvent::Mouse ||
        !log->rect().contains(log->mapFromGlobal(event->globalPos()))) {
        event->ignore();
        return;
    }
    event->accept();
    QMenu menu(this);
    Ui::LogMenuTemplate logMenu;
    logMenu.setupUi(&menu);
    connect(logMenu.ID_EDIT_CLEAR, &QAction::triggered, this,
            [this] { m_controller->OnClearLog(); });
    // The window has no system menu to hold the Options and About entries: the log's menu
    // offers them.
    menu.addSeparator();
    connect(menu.addAction(QString::fromUtf8(OptionsDialog::kMenuEntry)), &QAction::triggered, this,
            &QtMainWindow::OnOptions);
    connect(menu.addAction(QString::fromUtf8(kProductionMenuEntry)), &QAction::triggered, this,
            [this] { QtProductionWindow::RunModal(this, {}); });
    const QString about = QString::fromUtf8(LoadResourceString(IDS_ABOUTBOX));
    if (!about.isEmpty()) {
        connect(menu.addAction(about), &QAction::triggered, this, &QtMainWindow::OnAbout);
    }
    menu.exec(event->globalPos());
}

void QtMainWindow::OnOptions() {
    // The same store the settings were read from; the next Initialize takes the new values.
    QtSettingsStore store;
    QtOptionsWindow options(m_app.Settings(), store, this);
    if (options.exec() == QDialog::Accepted) {
        m_controller->OnOptionsAccepted();
    }
}

void QtMainWindow::OnAbout() {
    QtAboutWindow about(this);
    about.exec();
}

}  // namespace quillon
