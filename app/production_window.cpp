#include "app/production_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/qt_settings_store.h"
#include "platform/system_env.h"
#include "production/port_check.h"
#include "window/engine_production_runner.h"
#include "window/window_lists.h"

namespace quillon {

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Text(const QString& text) {
    return text.trimmed().toStdString();
}

// Gives a tile's label its text when the text changes, and only then: a label given a text,
// even its own or none, has the tile's layout worked out anew in the next pass of the event
// loop, and the run's events come many times a second.
void SetLabelText(QLabel* label, const QString& text) {
    if (label->text() != text) {
        label->setText(text);
    }
}

// The serial number sources in the order of their list.
constexpr SerialNumberSource kSources[] = {
    SerialNumberSource::kOff, SerialNumberSource::kCounterFile, SerialNumberSource::kListFile,
    SerialNumberSource::kDatabaseCounter};

// The repeat modes in the order of their list.
constexpr RepeatMode kRepeatModes[] = {RepeatMode::kOnce, RepeatMode::kEnter, RepeatMode::kReplug};

// A line edit with a button that picks a file for it.
QWidget* FileField(QLineEdit*& edit, QWidget* parent, bool save) {
    auto* field = new QWidget(parent);
    auto* layout = new QHBoxLayout(field);
    layout->setContentsMargins(0, 0, 0, 0);
    edit = new QLineEdit(field);
    auto* browse = new QPushButton(QStringLiteral("…"), field);
    layout->addWidget(edit, 1);
    layout->addWidget(browse);
    QLineEdit* target = edit;
    QObject::connect(browse, &QPushButton::clicked, field, [target, field, save] {
        const QString path =
            save ? QFileDialog::getSaveFileName(field, QString(), target->text(), QString(),
                                                nullptr, QFileDialog::DontConfirmOverwrite)
                 : QFileDialog::getOpenFileName(field, QString(), target->text());
        if (!path.isEmpty()) {
            target->setText(path);
        }
    });
    return field;
}

}  // namespace

QtProductionWindow::QtProductionWindow(SettingsStore& store, ProductionSources sources,
                                       const ProductionRunnerFactory& makeRunner, QWidget* parent)
    : QDialog(parent), m_poster([this](ProductionEventPoster::Call call) {
          // Queued for the GUI thread; dropped by Qt once the window is gone.
          QMetaObject::invokeMethod(
              this,
              [this, call = std::move(call)] {
                  if (m_controller) {
                      call(*m_controller);
                  }
              },
              Qt::QueuedConnection);
      }) {
    setWindowTitle(QStringLiteral("Quillon – Production"));
    auto* layout = new QVBoxLayout(this);
    m_setup = new QWidget(this);
    auto* setupLayout = new QGridLayout(m_setup);
    setupLayout->setContentsMargins(0, 0, 0, 0);
    CreateSetup(m_setup, setupLayout);
    layout->addWidget(m_setup);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    m_tileArea = new QWidget(scroll);
    m_tileLayout = new QGridLayout(m_tileArea);
    scroll->setWidget(m_tileArea);
    layout->addWidget(scroll, 1);

    m_totals = new QLabel(this);
    m_recordPath = new QLabel(this);
    m_recordPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_runMessage = new QLabel(this);
    layout->addWidget(m_totals);
    layout->addWidget(m_recordPath);
    layout->addWidget(m_runMessage);

    auto* buttons = new QHBoxLayout;
    m_next = new QPushButton(QStringLiteral("Next"), this);
    m_next->setObjectName(QStringLiteral("next"));
    QFont big = m_next->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    big.setBold(true);
    m_next->setFont(big);
    m_next->setMinimumHeight(m_next->sizeHint().height() * 3 / 2);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_stop->setObjectName(QStringLiteral("stop"));
    m_abort = new QPushButton(QStringLiteral("Abort"), this);
    m_abort->setObjectName(QStringLiteral("abort"));
    for (QPushButton* button : {m_next, m_stop, m_abort}) {
        button->setAutoDefault(false);
    }
    buttons->addWidget(m_next, 2);
    buttons->addWidget(m_stop, 1);
    buttons->addWidget(m_abort, 1);
    layout->addLayout(buttons);

    sources.runner = makeRunner(m_poster);
    m_controller = std::make_unique<ProductionViewController>(*this, store, std::move(sources));
    connect(m_start, &QPushButton::clicked, this,
            [this] { m_controller->OnStart(SetupFromFields()); });
    connect(m_next, &QPushButton::clicked, this, [this] { m_controller->OnNext(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { m_controller->OnStop(); });
    connect(m_abort, &QPushButton::clicked, this, [this] { m_controller->OnAbort(); });
    m_controller->Open();
    resize(900, 700);
}

int QtProductionWindow::RunModal(QWidget* owner, const std::string& imageFile) {
    const std::string folder = QCoreApplication::applicationDirPath().toStdString();
    QtSettingsStore store;
    ProductionSources sources;
    sources.targetFolders = FindTargetFolders(folder);
    sources.sameDevice = [](const std::vector<std::string>& ports) { return SameDevice(ports); };
    sources.imageFile = imageFile;
    QtProductionWindow window(
        store, std::move(sources),
        [folder](ProductionEvents& events) {
            return std::make_unique<EngineProductionRunner>(
                events, SystemEnv::Default(), folder + "/quillon-cli", FindTargetFolders(folder));
        },
        owner);
    return window.exec();
}

QtProductionWindow::~QtProductionWindow() {
    // The runner ends its run here, while the window still takes (and drops) its posts.
    m_controller.reset();
}

void QtProductionWindow::CreateSetup(QWidget* parent, QGridLayout* layout) {
    auto* left = new QFormLayout;
    auto* right = new QFormLayout;
    m_target = new QComboBox(parent);
    m_target->setObjectName(QStringLiteral("target"));
    left->addRow(QStringLiteral("Target"), m_target);
    left->addRow(QStringLiteral("Image file"), FileField(m_image, parent, false));
    m_image->setObjectName(QStringLiteral("image"));
    m_baudRate = new QComboBox(parent);
    m_baudRate->setObjectName(QStringLiteral("baudRate"));
    left->addRow(QStringLiteral("Baud rate"), m_baudRate);
    m_echoWindow = new QSpinBox(parent);
    m_echoWindow->setRange(1, static_cast<int>(EchoWindow::kLargest));
    left->addRow(QStringLiteral("Echo window"), m_echoWindow);
    m_eraseAll = new QCheckBox(QStringLiteral("Erase all sectors"), parent);
    left->addRow(QString(), m_eraseAll);
    left->addRow(QStringLiteral("Record file"), FileField(m_record, parent, true));
    m_record->setObjectName(QStringLiteral("record"));
    m_repeat = new QComboBox(parent);
    m_repeat->addItems({QStringLiteral("One board per station"),
                        QStringLiteral("Next board on Enter"),
                        QStringLiteral("Next board when the port comes back")});
    left->addRow(QStringLiteral("Repeat"), m_repeat);

    m_stations = new QListWidget(parent);
    m_stations->setObjectName(QStringLiteral("stations"));
    right->addRow(QStringLiteral("Stations"), m_stations);
    auto* network = new QWidget(parent);
    auto* networkLayout = new QHBoxLayout(network);
    networkLayout->setContentsMargins(0, 0, 0, 0);
    m_networkPort = new QLineEdit(network);
    m_networkPort->setPlaceholderText(QStringLiteral("HOST:PORT"));
    auto* add = new QPushButton(QStringLiteral("Add"), network);
    add->setAutoDefault(false);
    networkLayout->addWidget(m_networkPort, 1);
    networkLayout->addWidget(add);
    connect(add, &QPushButton::clicked, this, &QtProductionWindow::AddNetworkPort);
    right->addRow(QStringLiteral("Network port"), network);
    m_serialSource = new QComboBox(parent);
    m_serialSource->addItems({QStringLiteral("no serial numbers"), QStringLiteral("counter file"),
                              QStringLiteral("list file"), QStringLiteral("database counter")});
    right->addRow(QStringLiteral("Serial numbers"), m_serialSource);
    right->addRow(QStringLiteral("Counter or list file"), FileField(m_serialFile, parent, true));
    m_serialCounter = new QLineEdit(parent);
    right->addRow(QStringLiteral("Database counter"), m_serialCounter);
    m_serialAt = new QLineEdit(parent);
    m_serialAt->setPlaceholderText(QStringLiteral("0x1FF00"));
    right->addRow(QStringLiteral("Place"), m_serialAt);
    m_serialFormat = new QLineEdit(parent);
    m_serialFormat->setPlaceholderText(QStringLiteral("dec:6"));
    right->addRow(QStringLiteral("Format"), m_serialFormat);
    m_serialPlaceholder = new QLineEdit(parent);
    right->addRow(QStringLiteral("Placeholder"), m_serialPlaceholder);
    m_database = new QLineEdit(parent);
    m_database->setPlaceholderText(QStringLiteral("postgresql://HOST/DB (no password)"));
    right->addRow(QStringLiteral("Factory database"), m_database);

    m_start = new QPushButton(QStringLiteral("Start"), parent);
    m_start->setObjectName(QStringLiteral("start"));
    m_start->setAutoDefault(false);
    layout->addLayout(left, 0, 0);
    layout->addLayout(right, 0, 1);
    layout->addWidget(m_start, 1, 1, Qt::AlignRight);
}

void QtProductionWindow::AddNetworkPort() {
    const QString port = m_networkPort->text().trimmed();
    if (port.isEmpty()) {
        return;
    }
    auto* item = new QListWidgetItem(port, m_stations);
    item->setData(Qt::UserRole, port);
    item->setCheckState(Qt::Checked);
    m_networkPort->clear();
}

ProductionSettings QtProductionWindow::SetupFromFields() const {
    ProductionSettings settings;
    settings.target = Text(m_target->currentText());
    settings.image = Text(m_image->text());
    settings.baudRate = OfferedBaudRate(Text(m_baudRate->currentText()));
    settings.echoWindow = EchoWindow{static_cast<std::uint32_t>(m_echoWindow->value())};
    settings.eraseAll = m_eraseAll->isChecked();
    for (int row = 0; row < m_stations->count(); ++row) {
        const QListWidgetItem* item = m_stations->item(row);
        if (item->checkState() == Qt::Checked) {
            settings.stations.push_back(item->data(Qt::UserRole).toString().toStdString());
        }
    }
    settings.record = Text(m_record->text());
    settings.serialSource = kSources[std::max(0, m_serialSource->currentIndex())];
    settings.serialFile = Text(m_serialFile->text());
    settings.serialCounter = Text(m_serialCounter->text());
    settings.serialAt = Text(m_serialAt->text());
    settings.serialFormat = Text(m_serialFormat->text());
    settings.serialPlaceholder = Text(m_serialPlaceholder->text());
    settings.database = Text(m_database->text());
    settings.repeat = kRepeatModes[std::max(0, m_repeat->currentIndex())];
    return settings;
}

void QtProductionWindow::ShowSetup(const ProductionSetupLists& lists,
                                   const ProductionSettings& settings) {
    m_target->clear();
    for (const std::string& target : lists.targets) {
        m_target->addItem(Text(target));
    }
    m_target->setCurrentIndex(m_target->findText(Text(settings.target)));
    m_image->setText(Text(settings.image));
    m_baudRate->clear();
    for (const std::string& rate : lists.baudRates) {
        m_baudRate->addItem(Text(rate));
    }
    m_baudRate->setCurrentIndex(
        settings.baudRate ? m_baudRate->findText(Text(BaudRateText(*settings.baudRate))) : -1);
    m_echoWindow->setValue(static_cast<int>(settings.echoWindow.bytes));
    m_eraseAll->setChecked(settings.eraseAll);
    m_stations->clear();
    std::vector<std::string> ports = lists.ports;
    std::vector<std::string> descriptions = lists.portDescriptions;
    descriptions.resize(ports.size());
    // A saved station that is not listed (a port on the network, an adapter unplugged now)
    // stays in the list, checked.
    for (const std::string& station : settings.stations) {
        if (std::find(ports.begin(), ports.end(), station) == ports.end()) {
            ports.push_back(station);
            descriptions.push_back(station);
        }
    }
    for (std::size_t index = 0; index < ports.size(); ++index) {
        auto* item = new QListWidgetItem(Text(OpenPortListText(ports[index], descriptions[index])),
                                         m_stations);
        item->setData(Qt::UserRole, Text(ports[index]));
        const bool checked = std::find(settings.stations.begin(), settings.stations.end(),
                                       ports[index]) != settings.stations.end();
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
    m_record->setText(Text(settings.record));
    for (int index = 0; index < static_cast<int>(std::size(kSources)); ++index) {
        if (kSources[index] == settings.serialSource) {
            m_serialSource->setCurrentIndex(index);
        }
    }
    m_serialFile->setText(Text(settings.serialFile));
    m_serialCounter->setText(Text(settings.serialCounter));
    m_serialAt->setText(Text(settings.serialAt));
    m_serialFormat->setText(Text(settings.serialFormat));
    m_serialPlaceholder->setText(Text(settings.serialPlaceholder));
    m_database->setText(Text(settings.database));
    for (int index = 0; index < static_cast<int>(std::size(kRepeatModes)); ++index) {
        if (kRepeatModes[index] == settings.repeat) {
            m_repeat->setCurrentIndex(index);
        }
    }
}

void QtProductionWindow::ShowTiles(const std::vector<StationTile>& tiles) {
    for (TileWidgets& tile : m_tiles) {
        delete tile.frame;
    }
    m_tiles.clear();
    const int columns = tiles.size() <= 4 ? static_cast<int>(tiles.size()) : 4;
    for (std::size_t index = 0; index < tiles.size(); ++index) {
        TileWidgets widgets;
        auto* frame = new QFrame(m_tileArea);
        frame->setFrameShape(QFrame::StyledPanel);
        frame->setObjectName(QStringLiteral("tile%1").arg(index));
        auto* layout = new QVBoxLayout(frame);
        widgets.frame = frame;
        widgets.port = new QLabel(frame);
        widgets.port->setWordWrap(true);
        widgets.boards = new QLabel(frame);
        widgets.phase = new QLabel(frame);
        widgets.phase->setObjectName(QStringLiteral("phase"));
        widgets.progress = new QProgressBar(frame);
        widgets.progress->setTextVisible(false);
        widgets.result = new QLabel(frame);
        widgets.result->setObjectName(QStringLiteral("result"));
        widgets.result->setAlignment(Qt::AlignCenter);
        QFont big = widgets.result->font();
        big.setPointSizeF(big.pointSizeF() * 3);
        big.setBold(true);
        widgets.result->setFont(big);
        widgets.result->setAutoFillBackground(true);
        widgets.detail = new QLabel(frame);
        widgets.detail->setObjectName(QStringLiteral("detail"));
        widgets.detail->setWordWrap(true);
        auto* log = new QPushButton(QStringLiteral("Log"), frame);
        log->setAutoDefault(false);
        connect(log, &QPushButton::clicked, this,
                [this, index] { m_controller->OnOpenStationLog(index); });
        for (QWidget* widget :
             {static_cast<QWidget*>(widgets.port), static_cast<QWidget*>(widgets.boards),
              static_cast<QWidget*>(widgets.phase), static_cast<QWidget*>(widgets.progress),
              static_cast<QWidget*>(widgets.result), static_cast<QWidget*>(widgets.detail),
              static_cast<QWidget*>(log)}) {
            layout->addWidget(widget);
        }
        layout->addStretch(1);
        m_tileLayout->addWidget(frame, static_cast<int>(index) / columns,
                                static_cast<int>(index) % columns);
        m_tiles.push_back(widgets);
        ShowTile(index, tiles[index]);
    }
}

void QtProductionWindow::ShowTile(std::size_t index, const StationTile& tile) {
    if (index >= m_tiles.size()) {
        return;
    }
    const TileWidgets& widgets = m_tiles[index];
    SetLabelText(widgets.port,
                 QStringLiteral("<b>%1</b><br>%2")
                     .arg(Text(tile.port).toHtmlEscaped(), Text(tile.description).toHtmlEscaped()));
    SetLabelText(widgets.boards, QStringLiteral("Boards: %1").arg(tile.boards));
    SetLabelText(widgets.phase, Text(StationPhaseText(tile.phase)));
    widgets.progress->setMaximum(tile.total == 0 ? 1 : static_cast<int>(tile.total));
    widgets.progress->setValue(static_cast<int>(tile.done));
    QPalette palette = widgets.result->palette();
    if (!tile.last) {
        SetLabelText(widgets.result, QString());
        SetLabelText(widgets.detail, QString());
        palette.setColor(QPalette::Window, this->palette().color(QPalette::Window));
    } else {
        SetLabelText(widgets.result, Text(BoardResultText(tile.last->result)));
        const bool ok = tile.last->result == BoardOutcome::kOk;
        const bool failed = tile.last->result == BoardOutcome::kFailed;
        palette.setColor(QPalette::Window, ok       ? QColor(0x2e, 0x9e, 0x3e)
                                           : failed ? QColor(0xd0, 0x2c, 0x2c)
                                                    : this->palette().color(QPalette::Window));
        palette.setColor(QPalette::WindowText, ok || failed
                                                   ? QColor(Qt::white)
                                                   : this->palette().color(QPalette::WindowText));
        QString detail = Text(BoardDetailText(*tile.last));
        if (failed && !tile.last->failure.empty()) {
            detail = Text(tile.last->failure) + QLatin1Char('\n') + detail;
        }
        SetLabelText(widgets.detail, detail);
    }
    if (palette != widgets.result->palette()) {
        widgets.result->setPalette(palette);
    }
}

void QtProductionWindow::ShowTotals(const ProductionTotals& totals, const std::string& recordPath) {
    m_totals->setText(QStringLiteral("Boards: %1    OK: %2    Failed: %3    Aborted: %4    "
                                     "Boards per hour: %5")
                          .arg(totals.boards)
                          .arg(totals.ok)
                          .arg(totals.failed)
                          .arg(totals.aborted)
                          .arg(totals.boardsPerHour, 0, 'f', 0));
    m_recordPath->setText(QStringLiteral("Record: ") + Text(recordPath));
}

void QtProductionWindow::ShowRunMessage(const std::string& text) {
    m_runMessage->setText(Text(text));
}

void QtProductionWindow::ShowControls(const ProductionControls& controls) {
    // While a run goes its setup stays as it started: hidden, so that the tiles have the room.
    m_setup->setVisible(controls.setup);
    m_next->setEnabled(controls.next);
    m_stop->setEnabled(controls.stop);
    m_abort->setEnabled(controls.abort);
}

void QtProductionWindow::ShowMessage(const WindowMessage& message) {
    QMessageBox box(
        message.icon == MessageIcon::kWarning ? QMessageBox::Warning : QMessageBox::Information,
        QStringLiteral("Quillon"), Text(message.text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtProductionWindow::Confirm(const std::string& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quillon"), Text(question),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtProductionWindow::ShowStationLog(const std::string& title,
                                        const std::vector<std::string>& lines) {
    auto* window = new QDialog(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(Text(title));
    auto* layout = new QVBoxLayout(window);
    auto* text = new QPlainTextEdit(window);
    text->setReadOnly(true);
    for (const std::string& line : lines) {
        text->appendPlainText(Text(line));
    }
    layout->addWidget(text);
    window->resize(600, 400);
    window->show();
}

void QtProductionWindow::Close() {
    m_closing = true;
    done(QDialog::Rejected);
}

void QtProductionWindow::reject() {
    m_controller->OnEscape();
}

void QtProductionWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!m_setup->isVisible() || !m_setup->isAncestorOf(focusWidget())) {
            m_controller->OnNext();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void QtProductionWindow::closeEvent(QCloseEvent* event) {
    if (m_closing) {
        event->accept();
        return;
    }
    event->ignore();
    m_controller->OnClose();
}

}  // namespace quillon
