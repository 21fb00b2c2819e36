#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <memory>

#include "window/main_window_controller.h"

namespace Ui {
class MainWindowTemplate;
}

class QComboBox;
class QEventLoop;
class QLabel;

namespace quillon {

class QtDownloadApp;

// The main window in Qt: target, port, baud rate and image file, "Erase all
// sectors", the job buttons "Initialize" and "Start Download", the Close/Cancel button, the log
// and a slim progress bar, and below them the status line. It is a view of MainWindowController,
// which decides everything: the window passes the operator's actions in and shows what the
// controller says. The job's events come from the job's thread; PostJobEvent queues each for the
// GUI thread.
//
// A window closed while its job runs disappears at once; exec then goes on handling the job's
// events (and the reader's boxes) until the job has ended by itself or at its next poll point.
// Destroying the window asks a job that still runs to stop, waits for it and closes the line.
class QtMainWindow : public QDialog, public MainWindowView {
    Q_OBJECT
public:
    // The monitor files of the program's target folders (FindTargetFolders), the serial
    // ports, jobs on the serial ports.
    explicit QtMainWindow(QtDownloadApp& app, QWidget* parent = nullptr);
    QtMainWindow(QtDownloadApp& app, MainWindowSources sources, QWidget* parent = nullptr);
    ~QtMainWindow() override;

    // Puts `path` into the image file field (a file named on the command line).
    void SetImageFile(const QString& path);

    // Runs the window; a job that still runs when it closes is waited for here, with its
    // events still handled.
    int exec() override;
    // Escape and the close box: the controller closes the window with Cancel.
    void reject() override;

    // MainWindowView.
    void ShowList(WindowList list, const std::vector<std::string>& entries, int selected) override;
    void ShowPortDescriptions(const std::vector<std::string>& descriptions) override;
    void ShowImageFile(const std::string& path) override;
    void ShowEraseAll(bool checked) override;
    void ShowControls(const WindowControls& controls) override;
    void ShowLogChange(const LogLines::Change& change) override;
    void ClearLog() override;
    void ShowProgress(std::uint32_t done, std::uint32_t total, ProgressLook look) override;
    void ShowStatus(const std::string& text) override;
    void ShowMessage(const WindowMessage& message) override;
    void WriteDebugText(const std::string& text) override;
    void Close(int result) override;
    void PostJobEvent(std::unique_ptr<JobEvent> event) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void ConnectControls();
    void OnJobEvent(const JobEvent& event);
    void OnAbout();
    QComboBox* List(WindowList list) const;
    void LayOutLogList();
    // The status line below the template's controls; the window grows by its height.
    void CreateStatusLine();
    int StatusLineSpace() const;
    void OnOptions();

    std::unique_ptr<Ui::MainWindowTemplate> m_ui;
    QIcon m_icon;
    bool m_showingList = false;           // the lists' own changes are no operator's choice
    QEventLoop* m_jobDoneLoop = nullptr;  // runs in exec while a job ends after the window closed
    QtDownloadApp& m_app;
    QLabel* m_statusLine = nullptr;
    std::unique_ptr<MainWindowController> m_controller;
};

}  // namespace quillon
