#include "app/download_dlg.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "app/about_dlg.h"
#include "app/baudrate_list.h"
#include "app/dialog_units.h"
#include "app/download_app.h"
#include "app/gui_message_box.h"
#include "app/help_key_filter.h"
#include "app/image_file_edit.h"
#include "app/system_menu.h"
#include "app/target_list.h"
#include "app/window_message_target.h"
#include "image/target_folders.h"
#include "res/resource.h"
#include "ui_download_dlg.h"
#include "ui_log_menu.h"
#include "window/image_file_dialog.h"

namespace {

constexpr int kLogListMargin = 10;  // between the log list and the client area's right and bottom

// Grows `rect` to `wanted` where that is larger, keeping its left edge and vertical centre.
QRect GrowAroundCentre(QRect rect, const QSize& wanted) {
    rect.setWidth(std::max(rect.width(), wanted.width()));
    const int extra = wanted.height() - rect.height();
    if (extra > 0) {
        rect.adjust(0, -extra / 2, 0, extra - extra / 2);
    }
    return rect;
}

}  // namespace

CDownloadDlg::CDownloadDlg(CDownloadApp& app, QWidget* parent) : CDownloadDlg(app, {}, parent) {}

CDownloadDlg::CDownloadDlg(CDownloadApp& app, Sources sources, QWidget* parent)
    : QDialog(parent),
      m_app(app),
      m_sources(std::move(sources)),
      m_ui(std::make_unique<Ui::CDownloadDlg>()),
      m_hIcon(CDownloadApp::LoadAppIcon()) {
    // The template: its controls, laid out for the window's font.
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    LayOutTemplate();
    m_cmbTarget = m_ui->IDC_1001;
    m_cmbComPort = m_ui->IDC_1004;
    m_cmbBaudrate = m_ui->IDC_1005;
    m_edtImageFile = m_ui->IDC_1002;

    // 1. The worker, and where it posts to.
    m_target = std::make_shared<WindowMessageTarget>(this);
    m_pWorker = BeginThread<CWorkerThread>(m_app.m_bEraseAll);
    m_job.hWndOwner = m_target.get();

    // 2. The image file field's file dialog.
    m_edtImageFile->SetDialogTitle(QString::fromUtf8(kImageFileDialogTitle));
    m_edtImageFile->SetDefaultExtension(QString::fromUtf8(kImageFileDialogExtension));
    m_edtImageFile->SetFilter(QString::fromUtf8(kImageFileDialogFilter));

    // 3. The variables into the controls: an empty image file, "Erase all sectors" as saved.
    UpdateData(false);

    // 4. The About entry goes into the system menu where windows have one; elsewhere the log's
    // context menu offers it.
    const std::string about = LoadResourceString(IDS_ABOUTBOX);
    const auto window = static_cast<std::uintptr_t>(winId());
    m_bHasSystemMenu = HasSystemMenu(window);
    if (m_bHasSystemMenu && !about.empty()) {
        AppendSystemMenuEntry(window, IDM_ABOUTBOX, about);
    }

    // 5. The icon.
    setWindowIcon(m_hIcon);

    // 6. The lists, with the saved selections.
    FillTargetList();
    FillComPortList();
    FillBaudrateList();

    m_ui->IDC_1004->SetRefresh([this] { RefillComPortList(); });
    // The log shows a current line and a selection only where the operator makes them.
    m_ui->IDC_1007->installEventFilter(this);
    m_ui->IDC_1007->viewport()->installEventFilter(this);

    // The job controls as the state has them (not ready).
    ShowControls();

    connect(m_ui->IDOK, &QPushButton::clicked, this, &CDownloadDlg::OnCloseButton);
    connect(m_ui->IDC_1006, &QPushButton::clicked, this, &CDownloadDlg::OnBtnInitialize);
    connect(m_ui->IDC_1000, &QPushButton::clicked, this, &CDownloadDlg::OnBtnStartDownload);
    CHelpKeyFilter::Install(this);

    // 7. The focus starts on the first tab stop.
    m_ui->IDOK->setFocus();
}

CDownloadDlg::~CDownloadDlg() {
    // Destroyed without ending through exec: a job may still run.
    AbandonJobAndEndWorker();
    // Nothing reaches the window any more; messages still queued for it are deleted with it,
    // and their strings with them.
    m_target->Detach();
    QCoreApplication::removePostedEvents(this, PostedMessageEvent::Type());
}

void CDownloadDlg::EndWorker() {
    if (!m_pWorker) {
        return;
    }
    m_pWorker->PostThreadMessage(UM_QUIT, 0, 0);
    m_pWorker.reset();  // lets the loop run out and joins the thread
    g_bStopJob = 1;     // no job runs any more, whether or not its done message was handled
}

void CDownloadDlg::done(int result) {
    // The window closes at once. A job that still runs keeps the worker until it has ended
    // (see exec); without one the worker closes the port and ends now.
    if (!m_state.JobRunning()) {
        EndWorker();
        // The port has closed with the worker: a later job starts from Initialize.
        m_state.OnWorkerEnded();
        ShowControls();
    }
    QDialog::done(result);
}

void CDownloadDlg::AbandonJobAndEndWorker() {
    if (!m_pWorker) {
        return;
    }
    // Nobody is left to see the job: it ends at its next poll point. It may be waiting for
    // this thread to show one of the reader's boxes, which this thread will not do any more;
    // withdrawn, the box lets it go on to that point.
    const GuiMessageBoxesWithdrawn withdrawn;
    g_bStopJob = 1;
    EndWorker();
}

int CDownloadDlg::exec() {
    const int result = QDialog::exec();
    if (m_state.JobRunning()) {
        // Closed during a job (Escape, or button 1 after an abort request): the job ends by
        // itself or at its next poll point. Its messages and the reader's boxes are still
        // handled meanwhile; its done message ends this loop.
        QEventLoop untilJobDone;
        m_jobDoneLoop = &untilJobDone;
        untilJobDone.exec();
        m_jobDoneLoop = nullptr;
    }
    if (m_state.JobRunning()) {
        AbandonJobAndEndWorker();  // the wait was ended from outside: the application quits
    }
    EndWorker();
    return result;
}

std::shared_ptr<MessageTarget> CDownloadDlg::messageTarget() const {
    return m_target;
}

void CDownloadDlg::LayOutTemplate() {
    // setupUi placed the controls and sized the window in dialog units.
    const CDialogUnits units(font());
    const QSize templateSize = size();
    QSize laidOut = units.MapSize(templateSize);
    for (QWidget* control : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        QRect rect = units.MapRect(control->geometry());
        if (auto* list = qobject_cast<QComboBox*>(control)) {
            // A drop-down list's template height is that of its open list; closed, it is as
            // high as the style draws it.
            const int closed = list->sizeHint().height();
            const int item = std::max(1, list->fontMetrics().height() + 2);
            list->setMaxVisibleItems(std::max(1, (rect.height() - closed) / item));
            rect.setHeight(closed);
        } else if (qobject_cast<QLabel*>(control) != nullptr ||
                   qobject_cast<QCheckBox*>(control) != nullptr ||
                   qobject_cast<CImageFileEdit*>(control) != nullptr) {
            // Texts and the edit box stay whole where the style needs more room than the
            // template gives; there is free space to their right and around them.
            rect = GrowAroundCentre(rect, control->sizeHint());
        }
        control->setGeometry(rect);
        // A control grown past the template's edge widens the window to hold it whole.
        laidOut = laidOut.expandedTo(QSize(rect.right() + 1, rect.bottom() + 1));
    }
    // No smaller than the template: below it button 1 and the browse button would be cut off.
    setMinimumSize(laidOut);
    resize(laidOut);
}

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

void CDownloadDlg::SetImageFile(const QString& path) {
    m_strImageFile = path;
    m_edtImageFile->setText(path);
}

void CDownloadDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strImageFile = m_edtImageFile->text();
        m_app.m_bEraseAll = m_ui->IDC_1009->isChecked() ? 1 : 0;
    } else {
        m_edtImageFile->setText(m_strImageFile);
        m_ui->IDC_1009->setChecked(m_app.m_bEraseAll != 0);
    }
}

void CDownloadDlg::FillTargetList() {
    if (!m_sources.targetsFolder.isEmpty()) {
        ::FillTargetList(*m_cmbTarget, m_sources.targetsFolder, m_app.m_strTarget);
        return;
    }
    // Beside the program, in the installed tree's share folder, and the user's own folder.
    ::FillTargetList(*m_cmbTarget,
                     FindTargetFolders(QCoreApplication::applicationDirPath().toStdString()),
                     m_app.m_strTarget);
}

void CDownloadDlg::FillComPortList() {
    // An empty enumerator stands for EnumerateComPorts.
    ::FillComPortList(*m_cmbComPort, m_app.m_strComPort, m_sources.enumeratePorts);
}

void CDownloadDlg::RefillComPortList() {
    ::RefillComPortList(*m_cmbComPort, m_app.m_strComPort, m_sources.enumeratePorts);
}

void CDownloadDlg::FillBaudrateList() {
    ::FillBaudrateList(*m_cmbBaudrate, m_app.m_strBaudrate);
}

QString CDownloadDlg::GetSelectedTarget() {
    return ::GetSelectedTarget(*m_cmbTarget, m_app.m_strTarget);
}

QString CDownloadDlg::GetSelectedComPort() {
    return ::GetSelectedComPort(*m_cmbComPort, m_app.m_strComPort);
}

std::int32_t CDownloadDlg::GetSelectedBaudrate() {
    return ::GetSelectedBaudrate(*m_cmbBaudrate, m_app.m_strBaudrate);
}

void CDownloadDlg::OnBtnInitialize() {
    if (!m_state.BeginInitialize()) {
        return;
    }
    ShowControls();
    m_job.strPort = GetSelectedComPort().toStdString();
    m_job.strFile = GetSelectedTarget().toStdString();
    m_job.nBaudRate = GetSelectedBaudrate();
    BeginJob(UM_INITIALIZE);
}

void CDownloadDlg::OnBtnStartDownload() {
    UpdateData(true);
    if (!m_state.BeginDownload()) {
        return;
    }
    ShowControls();
    m_job.strPort = GetSelectedComPort().toStdString();
    m_job.strFile = m_strImageFile.toStdString();
    m_job.nBaudRate = GetSelectedBaudrate();
    BeginJob(UM_DOWNLOAD);
}

void CDownloadDlg::BeginJob(unsigned message) {
    ResetProgress();
    if (!m_pWorker) {
        m_pWorker = BeginThread<CWorkerThread>(m_app.m_bEraseAll);  // ended when it last ended
    }
    if (!m_pWorker->PostThreadMessage(message, 0, reinterpret_cast<LParam>(&m_job))) {
        // No worker takes the job: it ends at once as failed, so the window is not left
        // waiting for a done message that cannot come.
        OnJobDone(false, false);
    }
}

void CDownloadDlg::OnCloseButton() {
    if (m_state.OnCloseButton() == CloseButtonAction::kRequestAbort) {
        return;  // the worker ends the job at its next poll point
    }
    GetSelectedBaudrate();
    GetSelectedComPort();
    GetSelectedTarget();
    UpdateData(true);
    accept();
}

void CDownloadDlg::closeEvent(QCloseEvent* event) {
    // The close box and Alt+F4 do nothing while a job runs (on Windows they are grayed too).
    if (!m_state.MayCloseFromFrame()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CDownloadDlg::ShowControls() {
    const WindowControls controls = m_state.Controls();
    m_ui->IDC_1000->setEnabled(controls.startDownloadEnabled);
    m_ui->IDC_1006->setEnabled(controls.initializeEnabled);
    m_ui->IDOK->setText(QString::fromStdString(controls.closeButtonCaption));
    SetCloseEnabled(controls.closeEntryEnabled);
}

void CDownloadDlg::SetCloseEnabled(bool enable) {
    if (m_bHasSystemMenu) {
        EnableSystemMenuClose(static_cast<std::uintptr_t>(winId()), enable);
    }
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

bool CDownloadDlg::event(QEvent* event) {
    if (event->type() == PostedMessageEvent::Type()) {
        OnPostedMessage(*static_cast<PostedMessageEvent*>(event));
        return true;
    }
    return QDialog::event(event);
}

void CDownloadDlg::OnPostedMessage(PostedMessageEvent& posted) {
    switch (posted.message()) {
        case UM_LOG_LINE:
        case UM_LOG_APPEND: {
            const std::unique_ptr<std::string> text = TakePostedString(posted.TakeLParam());
            if (text) {
                const QString line = QString::fromStdString(*text);
                if (posted.message() == UM_LOG_LINE) {
                    AddLogLine(line);
                } else {
                    AppendToLastLogLine(line);
                }
            }
            break;
        }
        case UM_INIT_DONE:
        case UM_DOWNLOAD_DONE:
            OnJobDone(posted.wParam() != 0, posted.TakeLParam() != 0);
            break;
        case UM_PROGRESS:
            OnProgress(posted.wParam(), posted.TakeLParam());
            break;
        default:
            break;
    }
}

void CDownloadDlg::OnJobDone(bool aborted, bool succeeded) {
    // "Aborted by user!" or the hint for a port this user may not open; the flag back to 1.
    for (const std::string& line :
         m_state.OnJobDone(aborted, succeeded, m_log.Last(), m_job.strPort)) {
        ShowLogChange(m_log.Add(line));
    }
    ShowControls();
    ResetProgress();
    if (m_jobDoneLoop != nullptr) {
        m_jobDoneLoop->quit();  // the window closed while the job ran: the program goes on
    }
}

void CDownloadDlg::OnProgress(WParam wParam, LParam lParam) {
    const auto done = static_cast<int>(ProgressDoneOf(wParam));
    const auto total = static_cast<int>(std::clamp<LParam>(lParam, 0, kProgressDoneMask));
    if (!m_state.JobRunning() || total <= 0) {
        return;
    }
    m_ui->IDC_PROGRESS->setRange(0, total);
    m_ui->IDC_PROGRESS->setValue(std::clamp(done, 0, total));
}

void CDownloadDlg::ResetProgress() {
    QProgressBar* bar = m_ui->IDC_PROGRESS;
    bar->setValue(bar->minimum());
    bar->setRange(0, 1);
}

void CDownloadDlg::AddLogLine(const QString& text) {
    ShowLogChange(m_log.Add(text.toStdString()));
}

void CDownloadDlg::AppendToLastLogLine(const QString& text) {
    ShowLogChange(m_log.AppendToLast(text.toStdString()));
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

void CDownloadDlg::OnClearLog() {
    m_log.Clear();
    m_ui->IDC_1007->clear();
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
    connect(logMenu.ID_EDIT_CLEAR, &QAction::triggered, this, &CDownloadDlg::OnClearLog);
    const QString about = QString::fromUtf8(LoadResourceString(IDS_ABOUTBOX));
    if (!m_bHasSystemMenu && !about.isEmpty()) {
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
