#include "app/download_dlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <climits>
#include <cstdio>

#include "app/about_dlg.h"
#include "app/download_app.h"
#include "app/gui_message_box.h"
#include "app/help_key_filter.h"
#include "app/image_file_edit.h"
#include "app/port_combo_box.h"
#include "app/system_menu.h"
#include "app/template_layout.h"
#include "res/resource.h"
#include "ui_download_dlg.h"
#include "ui_log_menu.h"
#include "window/image_file_dialog.h"

namespace {

constexpr int kLogListMargin = 10;  // between the log list and the client area's right and bottom

MainWindowSources ProgramSources() {
    return {FindTargetFolders(QCoreApplication::applicationDirPath().toStdString()), {}, {}};
}

}  // namespace

CDownloadDlg::CDownloadDlg(CDownloadApp& app, QWidget* parent)
    : CDownloadDlg(app, ProgramSources(), parent) {}

CDownloadDlg::CDownloadDlg(CDownloadApp& app, MainWindowSources sources, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::CDownloadDlg>()),
      m_icon(CDownloadApp::LoadAppIcon()),
      m_controller(
          std::make_unique<MainWindowController>(*this, app.m_settings, std::move(sources))) {
    // The template: its controls, laid out for the window's font.
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    LayOutTemplate(*this);

    // The image file field's file dialog.
    m_ui->IDC_1002->SetDialogTitle(QString::fromUtf8(kImageFileDialogTitle));
    m_ui->IDC_1002->SetDefaultExtension(QString::fromUtf8(kImageFileDialogExtension));
    m_ui->IDC_1002->SetFilter(QString::fromUtf8(kImageFileDialogFilter));

    // The About entry goes into the system menu where windows have one; elsewhere the log's
    // context menu offers it.
    const std::string about = LoadResourceString(IDS_ABOUTBOX);
    const auto window = static_cast<std::uintptr_t>(winId());
    m_hasSystemMenu = HasSystemMenu(window);
    if (m_hasSystemMenu && !about.empty()) {
        AppendSystemMenuEntry(window, IDM_ABOUTBOX, about);
    }
    setWindowIcon(m_icon);

    ConnectControls();
    m_controller->Open();

    // The log shows a current line and a selection only where the operator makes them.
    m_ui->IDC_1007->installEventFilter(this);
    m_ui->IDC_1007->viewport()->installEventFilter(this);
    CHelpKeyFilter::Install(this);
    // The focus starts on the first tab stop.
    m_ui->IDOK->setFocus();
}

CDownloadDlg::~CDownloadDlg() {
    // The controls reach no controller any more; a job that still runs is asked to stop and
    // waited for, and what it posted meanwhile goes with the window.
    for (QObject* control : std::initializer_list<QObject*>{
             m_ui->IDOK, m_ui->IDC_1006, m_ui->IDC_1000, m_ui->IDC_1009, m_ui->IDC_1002,
             m_ui->IDC_1001, m_ui->IDC_1004, m_ui->IDC_1005}) {
        control->disconnect(this);
    }
    m_ui->IDC_1004->SetRefresh({});
    m_controller.reset();
}

void CDownloadDlg::ConnectControls() {
    MainWindowController& controller = *m_controller;
    connect(m_ui->IDOK, &QPushButton::clicked, this, [&controller] { controller.OnCloseButton(); });
    connect(m_ui->IDC_1006, &QPushButton::clicked, this,
            [&controller] { controller.OnInitialize(); });
    connect(m_ui->IDC_1000, &QPushButton::clicked, this,
            [&controller] { controller.OnStartDownload(); });
    connect(m_ui->IDC_1009, &QCheckBox::toggled, this,
            [&controller](bool checked) { controller.OnEraseAllChanged(checked); });
    connect(m_ui->IDC_1002, &CImageFileEdit::textChanged, this, [&controller](const QString& text) {
        controller.OnImageFileEdited(text.toStdString());
    });
    const std::pair<QComboBox*, void (MainWindowController::*)(int)> lists[] = {
        {m_ui->IDC_1001, &MainWindowController::OnTargetSelected},
        {m_ui->IDC_1004, &MainWindowController::OnPortSelected},
        {m_ui->IDC_1005, &MainWindowController::OnBaudrateSelected},
    };
    for (const auto& [list, onSelected] : lists) {
        connect(list, &QComboBox::currentIndexChanged, this,
                [this, &controller, onSelected = onSelected](int index) {
                    if (!m_showingList) {
                        (controller.*onSelected)(index);
                    }
                });
    }
    m_ui->IDC_1004->SetRefresh([&controller] { controller.OnPortListOpening(); });
}

int CDownloadDlg::exec() {
    const int result = QDialog::exec();
    if (m_controller->JobRunning()) {
        // Closed during a job (Escape, or button 1 after an abort request): the job ends by
        // itself or at its next poll point; its events are still handled, and its end ends
        // this loop.
        QEventLoop untilJobDone;
        m_jobDoneLoop = &untilJobDone;
        untilJobDone.exec();
        m_jobDoneLoop = nullptr;
    }
    return result;
}

void CDownloadDlg::reject() {
    m_controller->OnCancel();
}

void CDownloadDlg::closeEvent(QCloseEvent* event) {
    // The close box and Alt+F4 do nothing while a job runs (on Windows they are grayed too).
    if (!m_controller->MayCloseFromFrame()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CDownloadDlg::SetImageFile(const QString& path) {
    m_controller->SetImageFile(path.toStdString());
}

// --- What the controller shows ----------------------------------------------------------

QComboBox* CDownloadDlg::List(WindowList list) const {
    switch (list) {
        case WindowList::kPort:
            return m_ui->IDC_1004;
        case WindowList::kBaudrate:
            return m_ui->IDC_1005;
        case WindowList::kTarget:
            break;
    }
    return m_ui->IDC_1001;
}

void CDownloadDlg::ShowList(WindowList list, const std::vector<std::string>& entries,
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

void CDownloadDlg::ShowImageFile(const std::string& path) {
    m_ui->IDC_1002->setText(QString::fromStdString(path));
}

void CDownloadDlg::ShowEraseAll(bool checked) {
    m_ui->IDC_1009->setChecked(checked);
}

void CDownloadDlg::ShowControls(const WindowControls& controls) {
    m_ui->IDC_1000->setEnabled(controls.startDownloadEnabled);
    m_ui->IDC_1006->setEnabled(controls.initializeEnabled);
    m_ui->IDOK->setText(QString::fromStdString(controls.closeButtonCaption));
    if (m_hasSystemMenu) {
        EnableSystemMenuClose(static_cast<std::uintptr_t>(winId()), controls.closeEntryEnabled);
    }
}

void CDownloadDlg::ShowLogChange(const LogLines::Change& change) {
    QListWidget* log = m_ui->IDC_1007;
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

void CDownloadDlg::ClearLog() {
    m_ui->IDC_1007->clear();
}

void CDownloadDlg::ShowProgress(std::uint32_t done, std::uint32_t total) {
    QProgressBar* bar = m_ui->IDC_PROGRESS;
    if (total == 0) {
        bar->setValue(bar->minimum());
        bar->setRange(0, 1);
        return;
    }
    const auto maximum = static_cast<int>(std::min<std::uint32_t>(total, INT_MAX));
    bar->setRange(0, maximum);
    bar->setValue(static_cast<int>(std::min<std::uint32_t>(done, INT_MAX)));
}

void CDownloadDlg::ShowMessage(const WindowMessage& message) {
    ShowMessageBox(isVisible() ? this : QApplication::activeWindow(), message);
}

void CDownloadDlg::WriteDebugText(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void CDownloadDlg::Close(int result) {
    // Qt's own result for Cancel (2).
    QDialog::done(result == kDialogResultOk ? QDialog::Accepted : QDialog::Rejected);
}

void CDownloadDlg::PostJobEvent(std::unique_ptr<JobEvent> event) {
    // The queued call owns the event until it has run in the GUI thread; calls still queued
    // when the window is destroyed are deleted with it, and their events with them.
    QMetaObject::invokeMethod(
        this, [this, queued = std::shared_ptr<JobEvent>(std::move(event))] { OnJobEvent(*queued); },
        Qt::QueuedConnection);
}

void CDownloadDlg::OnJobEvent(const JobEvent& event) {
    if (!m_controller) {
        return;  // the window is being destroyed
    }
    m_controller->OnJobEvent(event);
    if (m_jobDoneLoop != nullptr && !m_controller->JobRunning()) {
        m_jobDoneLoop->quit();  // the window closed while the job ran: the program goes on
    }
}

// --- Layout, log and menus ---------------------------------------------------------------

void CDownloadDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOutLogList();
}

void CDownloadDlg::LayOutLogList() {
    QListWidget* log = m_ui->IDC_1007;
    const QRect rect = log->geometry();
    log->setGeometry(rect.x(), rect.y(), std::max(0, width() - kLogListMargin - rect.x()),
                     std::max(0, height() - kLogListMargin - rect.y()));
}

bool CDownloadDlg::eventFilter(QObject* watched, QEvent* event) {
    QListWidget* log = m_ui->IDC_1007;
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

void CDownloadDlg::contextMenuEvent(QContextMenuEvent* event) {
    // Only a click inside the log list opens its menu; a request from the keyboard points at
    // no place the operator chose, so it opens nothing.
    QListWidget* log = m_ui->IDC_1007;
    if (event->reason() != QContextMenuEvent::Mouse ||
        !log->rect().contains(log->mapFromGlobal(event->globalPos()))) {
        event->ignore();
        return;
    }
    event->accept();
    QMenu menu(this);
    Ui::CLogMenu logMenu;
    logMenu.setupUi(&menu);
    connect(logMenu.ID_EDIT_CLEAR, &QAction::triggered, this,
            [this] { m_controller->OnClearLog(); });
    const QString about = QString::fromUtf8(LoadResourceString(IDS_ABOUTBOX));
    if (!m_hasSystemMenu && !about.isEmpty()) {
        menu.addSeparator();
        connect(menu.addAction(about), &QAction::triggered, this, &CDownloadDlg::OnAbout);
    }
    menu.exec(event->globalPos());
}

bool CDownloadDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    if (SystemCommandOf(message) == IDM_ABOUTBOX) {
        OnAbout();
        if (result != nullptr) {
            *result = 0;
        }
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}

void CDownloadDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}
