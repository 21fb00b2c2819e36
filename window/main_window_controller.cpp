#include "window/main_window_controller.h"

#include <algorithm>
#include <utility>

#include "platform/latency_timer.h"
#include "window/job_status_line.h"
#include "window/options_dialog.h"

namespace quillon {

namespace {

// The job's events, each posted to the view from the job's thread as it is.
class PostingJobEvents : public JobEventSink {
public:
    explicit PostingJobEvents(MainWindowView& view) : m_view(view) {}

    void OnJobEvent(const JobEvent& event) override {
        m_view.PostJobEvent(std::make_unique<JobEvent>(event));
    }

private:
    MainWindowView& m_view;
};

}  // namespace

MainWindowController::MainWindowController(MainWindowView& view, WindowSettings& settings,
                                           MainWindowSources sources)
    : m_view(view),
      m_settings(settings),
      m_sources(std::move(sources)),
      m_events(std::make_unique<PostingJobEvents>(view)),
      m_jobs(m_sources.jobs ? std::move(m_sources.jobs) : MakeJobRunner()) {}

MainWindowController::~MainWindowController() {
    m_jobs.reset();  // before the events the job posts through
}

void MainWindowController::Open() {
    if (!m_sources.settingsNote.empty()) {
        AddLogLine(m_sources.settingsNote);
    }
    // The variables into the controls: the image file field (empty unless given) and "Erase
    // all sectors" as saved.
    m_view.ShowImageFile(m_imageFileText);
    m_eraseAllChecked = m_settings.eraseAll != 0;
    m_view.ShowEraseAll(m_eraseAllChecked);

    // The lists, with the saved selections. Each monitor file's reader texts come as the scan
    // reads it.
    // A name from the command line is a listed one: the first entry that begins with it is the
    // one of that name, as the list is sorted.
    m_targets = LoadTargetListEntries(m_sources.targetFolders,
                                      m_sources.start.target.value_or(m_settings.target),
                                      [this](const std::string&, const std::string& text) {
                                          m_view.ShowMessage({text, MessageIcon::kWarning});
                                      });
    std::vector<std::string> names;
    for (const MonitorFileEntry& entry : m_targets.entries) {
        names.push_back(entry.displayName);
    }
    m_view.ShowList(WindowList::kTarget, names, m_targets.selected);
    std::vector<std::string> notes;
    LoadPorts(nullptr, &notes);
    ShowPortListNotes(notes);
    if (m_ports.storedMissing) {
        AddLogLine(MissingPortLine(!m_sources.start.port,
                                   m_sources.start.port.value_or(m_settings.port),
                                   SelectedPort(m_ports)));
    }
    m_baudRate = m_sources.start.baudRate ? m_sources.start.baudRate : m_settings.baudRate;
    ShowBaudRateList();

    m_view.ShowControls(m_state.Controls());
    ShowProgress(0, 0, ProgressLook::kNormal);
}

void MainWindowController::SetImageFile(const std::string& path) {
    m_imageFileText = path;
    m_view.ShowImageFile(path);
}

void MainWindowController::OnInitialize() {
    if (m_closed || (m_state.Controls().initializeEnabled && PortHeldByStation()) ||
        !m_state.BeginInitialize()) {
        return;
    }
    // The selections as they are now, recorded in the settings. The image file field and the
    // check box are not read.
    RecordLineSelection();
    RecordTargetSelection();
    const std::optional<MonitorFileEntry> target = SelectedTarget(m_targets);
    JobRequest request;
    request.line = SelectedLine();
    request.job = InitializeRequest{target ? target->path : std::string(), m_settings.echoWindow};
    if (const std::optional<std::string> echoWindow = EchoWindowLogLine(m_settings.echoWindow)) {
        AddLogLine(*echoWindow);  // before the job's own lines: it may change how they go
    }
    StartJob(std::move(request));
}

void MainWindowController::OnStartDownload() {
    if (m_closed) {
        return;
    }
    TakeFields();
    if ((m_state.Controls().startDownloadEnabled && PortHeldByStation()) ||
        !m_state.BeginDownload()) {
        return;
    }
    // The job reads the file on its own thread, where a stop request ends the read.
    RecordLineSelection();
    JobRequest request;
    request.line = SelectedLine();
    request.job = DownloadRequest{nullptr, m_imageFileText, m_settings.eraseAll != 0};
    StartJob(std::move(request));
}

void MainWindowController::StartJob(JobRequest request) {
    m_view.ShowControls(m_state.Controls());
    ShowProgress(0, 0, ProgressLook::kNormal);
    ShowStatus(RunningJobStatus(m_state.State(), false));
    m_jobLine = request.line;
    m_jobs->Start(std::move(request), *m_events);
}

bool MainWindowController::PortHeldByStation() {
    const std::string port = SelectedLine().port;
    const std::optional<std::string> station =
        m_sources.stationHolding ? m_sources.stationHolding(port) : std::nullopt;
    if (station) {
        m_view.ShowMessage(
            {"The port " + port + " is in use by " + *station + " of the production line.",
             MessageIcon::kWarning});
    }
    return station.has_value();
}

void MainWindowController::OnCloseButton() {
    if (m_closed) {
        return;
    }
    if (m_state.OnCloseButton() == CloseButtonAction::kRequestAbort) {
        m_jobs->RequestStop();  // the job ends at its next poll point; the window stays
        ShowStatus(RunningJobStatus(m_state.State(), true));
        return;
    }
    RecordLineSelection();
    RecordTargetSelection();
    TakeFields();
    CloseWindow(kDialogResultOk);
}

void MainWindowController::OnCancel() {
    if (!m_closed && !m_state.JobRunning()) {
        CloseWindow(kDialogResultCancel);
    }
}

void MainWindowController::TakeFields() {
    m_settings.eraseAll = m_eraseAllChecked ? 1 : 0;
}

void MainWindowController::CloseWindow(int result) {
    m_closed = true;
    m_view.Close(result);
}

void MainWindowController::OnPortSelected(int index) {
    m_ports.selected = index;
    CheckSelection();
}

void MainWindowController::OnBaudrateSelected(int index) {
    m_baudRate = BaudRateOfEntry(index, m_settings.addedBaudRates);
    CheckSelection();
}

void MainWindowController::OnOptionsAccepted() {
    ShowBaudRateList();
    CheckSelection();
}

void MainWindowController::ShowBaudRateList() {
    const int entry = BaudRateEntry(m_baudRate, m_settings.addedBaudRates);
    if (entry == kNoSelection) {
        m_baudRate.reset();  // a rate no longer listed: the list selects nothing
    }
    m_view.ShowList(WindowList::kBaudrate, BaudRateTexts(m_settings.addedBaudRates), entry);
}

void MainWindowController::OnPortListOpening() {
    std::vector<std::string> notes;
    const PortListEntries previous = m_ports;
    LoadPorts(&previous, &notes);
    ShowPortListNotes(notes);
    CheckSelection();  // the port may have gone from the list
}

void MainWindowController::LoadPorts(const PortListEntries* previous,
                                     std::vector<std::string>* notes) {
    const std::optional<std::string>& wanted = m_sources.start.port;
    const std::string& stored = wanted ? *wanted : m_settings.port;
    const MissingPortChoice missing = wanted ? MissingPortChoice::kNoSelection : kMissingPortChoice;
    m_ports = previous ? ReloadPortListEntries(m_sources.enumeratePorts, *previous, stored, missing,
                                               notes)
                       : LoadPortListEntries(m_sources.enumeratePorts, stored, missing, notes);
    if (wanted && (!previous || previous->selected == kNoSelection) &&
        SelectedPort(m_ports) != wanted) {
        // The command line names one port: another that merely begins with its name is
        // another device.
        const auto found = std::find(m_ports.ports.begin(), m_ports.ports.end(), *wanted);
        m_ports.selected = found == m_ports.ports.end()
                               ? kNoSelection
                               : static_cast<int>(found - m_ports.ports.begin());
        m_ports.storedMissing = m_ports.selected == kNoSelection;
    }
    m_view.ShowList(WindowList::kPort, m_ports.ports, m_ports.selected);
    m_view.ShowPortDescriptions(m_ports.descriptions);
}

LineSettings MainWindowController::SelectedLine() const {
    LineSettings line;
    line.port = SelectedPort(m_ports).value_or(kDefaultPortName);
    line.baud = m_baudRate.value_or(kDefaultBaudRate);
    return line;
}

void MainWindowController::RecordLineSelection() {
    // What the command line selected keeps the saved choice: this start only.
    const std::optional<std::string> port = SelectedPort(m_ports);
    if (port && !m_sources.start.port) {
        m_settings.port = *port;
    }
    if (m_baudRate && !m_sources.start.baudRate) {
        m_settings.baudRate = m_baudRate;
    }
}

void MainWindowController::RecordTargetSelection() {
    const std::optional<MonitorFileEntry> target = SelectedTarget(m_targets);
    if (target && !m_sources.start.target) {
        m_settings.target = target->displayName;
    }
}

void MainWindowController::CheckSelection() {
    if (m_closed) {
        return;
    }
    const WindowControls before = m_state.Controls();
    if (const auto why = m_state.OnSelectionChanged(SelectedLine(), m_jobLine)) {
        AddLogLine(*why);
    }
    if (!(m_state.Controls() == before)) {
        m_view.ShowControls(m_state.Controls());
    }
}

void MainWindowController::ShowPortListNotes(const std::vector<std::string>& notes) {
    // Each time the list is read again the same notes come: the log shows them once, until
    // they change.
    if (notes != m_shownPortListNotes) {
        for (const std::string& note : notes) {
            AddLogLine(note);
        }
        m_shownPortListNotes = notes;
    }
}

void MainWindowController::OnClearLog() {
    m_log.Clear();
    m_view.ClearLog();
}

void MainWindowController::OnJobEvent(const JobEvent& event) {
    m_pendingEvents.push_back(event);
    if (m_handlingEvents) {
        return;  // a box of an earlier event is open: this one follows once it is confirmed
    }
    m_handlingEvents = true;
    while (!m_pendingEvents.empty()) {
        const JobEvent next = std::move(m_pendingEvents.front());
        m_pendingEvents.pop_front();
        HandleJobEvent(next);
    }
    m_handlingEvents = false;
}

void MainWindowController::HandleJobEvent(const JobEvent& event) {
    switch (event.kind) {
        case JobEvent::Kind::kLine:
            AddLogLine(event.text);
            break;
        case JobEvent::Kind::kAppend:
            m_view.ShowLogChange(m_log.AppendToLast(event.text));
            break;
        case JobEvent::Kind::kProgress:
            if (m_state.JobRunning() && event.total > 0) {
                ShowProgress(std::min(event.done, event.total), event.total, ProgressLook::kNormal);
            }
            break;
        case JobEvent::Kind::kReaderMessage:
            m_view.ShowMessage({event.text, MessageIcon::kWarning});
            break;
        case JobEvent::Kind::kDebug:
            m_view.WriteDebugText(event.text);
            break;
        case JobEvent::Kind::kMessage:
        case JobEvent::Kind::kFlashedDigest:
        case JobEvent::Kind::kDownloadStart:
        case JobEvent::Kind::kUnwrittenRecord:
        case JobEvent::Kind::kAlive:
        case JobEvent::Kind::kBoardEnd:
            break;  // a job of the window's own reports none of these
        case JobEvent::Kind::kDone:
            if (!m_state.JobRunning()) {
                break;  // a job ends once
            }
            const WindowJobState ended = m_state.State();
            // "Aborted by user!" or the hint for a port this user may not open.
            for (const std::string& line : m_state.OnJobDone(event.result, m_jobLine.port)) {
                AddLogLine(line);
            }
            AdviseOnLatencyTimer(event.result);
            // The selection may have changed while the job ran.
            if (const auto why = m_state.OnSelectionChanged(SelectedLine(), m_jobLine)) {
                AddLogLine(*why);
            }
            m_view.ShowControls(m_state.Controls());
            if (event.result.succeeded()) {
                const std::uint32_t total = m_progressTotal > 0 ? m_progressTotal : 1;
                ShowProgress(total, total, ProgressLook::kNormal);
            } else {
                ShowProgress(m_progressDone, m_progressTotal, ProgressLook::kFailed);
            }
            ShowStatus(EndedJobStatus(ended, event.result));
            break;
    }
}

void MainWindowController::AdviseOnLatencyTimer(const JobResult& result) {
    const std::optional<DownloadTiming>& timing = result.downloadTiming;
    if (!timing || !timing->ShowsLatencyTimer() ||
        std::find(m_latencyAdvisedPorts.begin(), m_latencyAdvisedPorts.end(), m_jobLine.port) !=
            m_latencyAdvisedPorts.end()) {
        return;
    }
    m_latencyAdvisedPorts.push_back(m_jobLine.port);
    AddLogLine(LatencyTimerAdvice(m_jobLine.port, timing->answerDelayUs));
}

void MainWindowController::ShowProgress(std::uint32_t done, std::uint32_t total,
                                        ProgressLook look) {
    m_progressDone = done;
    m_progressTotal = total;
    m_view.ShowProgress(done, total, look);
}

void MainWindowController::ShowStatus(const std::string& text) {
    if (text != m_status) {
        m_status = text;
        m_view.ShowStatus(text);
    }
}

void MainWindowController::AddLogLine(const std::string& text) {
    m_view.ShowLogChange(m_log.Add(text));
}

}  // namespace quillon
