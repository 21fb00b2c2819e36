#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "window/production_event_poster.h"
#include "window/production_runner.h"
#include "window/production_view_controller.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QWidget;

namespace quillon {

// The production view in Qt: the setup above (target, image, baud rate, echo window, "Erase
// all sectors", the stations' ports checked in a list, the record file, the serial numbers,
// the factory database, the repeat mode), one tile per station below it, the totals and the
// controls Next, Stop and Abort at the bottom. A view of ProductionViewController, which
// decides everything. Enter presses Next; Escape and the close box go to the controller,
// which keeps the view open while boards are in work.
class QtProductionWindow : public QDialog, public ProductionView {
    Q_OBJECT
public:
    // `store` must outlive the window. The runner that `makeRunner` makes reports to the
    // window, which hands its events to the controller in the GUI thread.
    QtProductionWindow(SettingsStore& store, ProductionSources sources,
                       const ProductionRunnerFactory& makeRunner, QWidget* parent = nullptr);
    // A run still going is aborted and waited for (every board started gets its line).
    ~QtProductionWindow() override;

    ProductionViewController& Controller() { return *m_controller; }

    // Runs the production view of this program, modal over `owner`: the targets of its
    // folders, its stations run by quillon-cli beside it, the setup in the user's settings;
    // `imageFile` (when not empty) in place of the saved image.
    static int RunModal(QWidget* owner, const std::string& imageFile);

    // ProductionView.
    void ShowSetup(const ProductionSetupLists& lists, const ProductionSettings& settings) override;
    void ShowTiles(const std::vector<StationTile>& tiles) override;
    void ShowTile(std::size_t index, const StationTile& tile) override;
    void ShowTotals(const ProductionTotals& totals, const std::string& recordPath) override;
    void ShowRunMessage(const std::string& text) override;
    void ShowControls(const ProductionControls& controls) override;
    void ShowMessage(const WindowMessage& message) override;
    [[nodiscard]] bool Confirm(const std::string& question) override;
    void ShowStationLog(const std::string& title, const std::vector<std::string>& lines) override;
    void Close() override;

    // Escape goes to the controller.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The widgets of one station's tile.
    struct TileWidgets {
        QWidget* frame = nullptr;
        QLabel* port = nullptr;
        QLabel* boards = nullptr;
        QLabel* phase = nullptr;
        QProgressBar* progress = nullptr;
        QLabel* result = nullptr;
        QLabel* detail = nullptr;
    };

    void CreateSetup(QWidget* parent, QGridLayout* layout);
    // The setup as the fields hold it.
    ProductionSettings SetupFromFields() const;
    void AddNetworkPort();

    QComboBox* m_target = nullptr;
    QLineEdit* m_image = nullptr;
    QComboBox* m_baudRate = nullptr;
    QSpinBox* m_echoWindow = nullptr;
    QCheckBox* m_eraseAll = nullptr;
    QListWidget* m_stations = nullptr;
    QLineEdit* m_networkPort = nullptr;
    QLineEdit* m_record = nullptr;
    QComboBox* m_serialSource = nullptr;
    QLineEdit* m_serialFile = nullptr;
    QLineEdit* m_serialCounter = nullptr;
    QLineEdit* m_serialAt = nullptr;
    QLineEdit* m_serialFormat = nullptr;
    QLineEdit* m_serialPlaceholder = nullptr;
    QLineEdit* m_database = nullptr;
    QComboBox* m_repeat = nullptr;
    QWidget* m_setup = nullptr;
    QPushButton* m_start = nullptr;
    QWidget* m_tileArea = nullptr;
    QGridLayout* m_tileLayout = nullptr;
    std::vector<TileWidgets> m_tiles;
    QLabel* m_totals = nullptr;
    QLabel* m_recordPath = nullptr;
    QLabel* m_runMessage = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_abort = nullptr;
    bool m_closing = false;  // the controller closed the view
    ProductionEventPoster m_poster;
    std::unique_ptr<ProductionViewController> m_controller;
};

}  // namespace quillon
