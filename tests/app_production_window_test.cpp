// The Qt production view through its widgets: three stations against virtual targets, board
// after board on Enter, the record checked line by line.
#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/production_window.h"
#include "tests/support/memory_store.h"
#include "tests/support/process.h"
#include "tests/support/production_record.h"
#include "tests/support/qt_test_environment.h"
#include "tests/support/test_files.h"
#include "window/engine_production_runner.h"

using namespace quillon;

namespace {

const std::string kBin = QUILLON_BIN_DIR;

// A virtual target on a port of its own.
struct Sim {
    explicit Sim(std::vector<std::string> faults = {}) {
        std::vector<std::string> argv = {
            kBin + "/quillon-sim", "--link", "none", "--ram-test-ms", "0", "--erase-ms", "1"};
        argv.insert(argv.end(), faults.begin(), faults.end());
        process = std::make_unique<BackgroundProcess>(argv);
        port = process->ReadLine();
    }
    std::unique_ptr<BackgroundProcess> process;
    std::string port;
};

QString TileText(QWidget& window, int station, const char* label) {
    auto* tile = window.findChild<QFrame*>(QStringLiteral("tile%1").arg(station));
    return tile == nullptr ? QString() : tile->findChild<QLabel*>(label)->text();
}

}  // namespace

TEST(QtProductionWindow, ThreeStationsBoardAfterBoardWithTheRecordLineByLine) {
    // The third target answers a block of its second board with a CRC error.
    Sim sims[] = {Sim(), Sim(), Sim({"--crc-error-at", "block@3", "--fault-session", "2"})};
    TempDir dir;
    const std::string record = (dir.path() / "record.jsonl").string();
    MemoryStore store;
    store.values = {
        {"Production/Target", "Virtual Target"},
        {"Production/Image", kBin + "/samples/demo.hex"},
        {"Production/Stations", sims[0].port + "\n" + sims[1].port + "\n" + sims[2].port},
        {"Production/Record", record},
        {"Production/Repeat", "enter"}};
    ProductionSources sources;
    sources.targetFolders = FindTargetFolders(kBin);
    sources.enumeratePorts = [](std::vector<PortEntry>&) { return Status(); };
    QtProductionWindow window(store, std::move(sources), [](ProductionEvents& events) {
        return std::make_unique<EngineProductionRunner>(
            events, SystemEnv::Default(), kBin + "/quillon-cli", FindTargetFolders(kBin));
    });
    window.show();

    const auto round = [&window](const QStringList& results) {
        return QTest::qWaitFor(
            [&] {
                for (int station = 0; station < 3; ++station) {
                    if (TileText(window, station, "result") != results[station] ||
                        TileText(window, station, "phase") != "waiting for Enter") {
                        return false;
                    }
                }
                return true;
            },
            60000);
    };
    window.findChild<QPushButton*>("start")->click();
    ASSERT_TRUE(round({"OK", "OK", "OK"}));
    QTest::keyClick(&window, Qt::Key_Return);
    ASSERT_TRUE(round({"OK", "OK", "FAILED"}));
    EXPECT_TRUE(TileText(window, 2, "detail").startsWith("Wrong CRC!"));
    window.findChild<QPushButton*>("stop")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Controller().Running(); }, 30000));

    // One line per board: the first round ok everywhere, the second failed at the third.
    ExpectRecordOfRounds(record, {sims[0].port, sims[1].port, sims[2].port}, 2, 2, 2, "Wrong CRC!");
}
