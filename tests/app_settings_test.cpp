// The application object's settings: defaults, the EraseAll rule, and saving only on OK.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QSettings>
#include <QTimer>
#include <filesystem>
#include <functional>

#include <sys/stat.h>

#include "app/download_app.h"
#include "app/qt_settings_store.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() {
        // The native format is a file here (the registry on Windows).
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_dir.path().string()));
    }
    static QSettings Store() { return QSettings("Brenwick", "Quillon"); }

    // Runs start-up with a main window that `act` ends.
    static void Run(QtDownloadApp& app, std::function<void(QDialog&)> act) {
        static_cast<void>(app.RunMainWindow([act](QtDownloadApp&) {
            auto window = std::make_unique<QDialog>();
            QDialog* raw = window.get();
            QTimer::singleShot(0, raw, [raw, act] { act(*raw); });
            return window;
        }));
    }

    TempDir m_dir;
};

}  // namespace

TEST_F(SettingsTest, EmptyStoreGivesTheDefaults) {
    QtDownloadApp app;
    app.LoadSettings();
    EXPECT_EQ(app.Settings(), (WindowSettings{"", "COM1", BaudRate{57600}, 1}));
}

TEST_F(SettingsTest, StoredValuesAreReadAndAnyNonzeroEraseAllIsOne) {
    {
        QSettings store = Store();
        store.setValue("Last Connection/Target", "Board A  ");
        store.setValue("Last Connection/COMPort", "COM10");
        store.setValue("Last Connection/Baudrate", "115200");
        store.setValue("Settings/EraseAll", 5);
    }
    QtDownloadApp app;
    app.LoadSettings();
    EXPECT_EQ(app.Settings(), (WindowSettings{"Board A  ", "COM10", BaudRate{115200}, 1}));

    Store().setValue("Settings/EraseAll", 0);
    app.LoadSettings();
    EXPECT_EQ(app.Settings().eraseAll, 0);
    Store().setValue("Settings/EraseAll", "kaputt");
    app.LoadSettings();
    EXPECT_EQ(app.Settings().eraseAll, 1);
}

TEST_F(SettingsTest, OkWritesTheChoicesBackWithEraseAllAsOne) {
    Store().setValue("Settings/EraseAll", 5);
    QtDownloadApp app;
    Run(app, [&app](QDialog& window) {
        app.Settings().target = "Board B";
        app.Settings().port = "COM3";
        window.accept();
    });
    QSettings store = Store();
    EXPECT_EQ(store.value("Last Connection/Target").toString(), QStringLiteral("Board B"));
    EXPECT_EQ(store.value("Last Connection/COMPort").toString(), QStringLiteral("COM3"));
    EXPECT_EQ(store.value("Last Connection/Baudrate").toString(), QStringLiteral("57600"));
    EXPECT_EQ(store.value("Settings/EraseAll").toInt(), 1);
    EXPECT_EQ(QString::fromStdString(app.HelpFilePath()),
              QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("quillon_de.pdf"));
    EXPECT_EQ(app.MainWindow(), nullptr);
}

TEST_F(SettingsTest, CancelWritesNothing) {
    QtDownloadApp app;
    Run(app, [&app](QDialog& window) {
        app.Settings() = {"Board B", "COM3", BaudRate{9600}, 0};
        window.reject();
    });
    EXPECT_TRUE(Store().allKeys().isEmpty());
}

// A FIFO or a device where the settings file belongs neither holds the window up nor fills its
// memory: the window starts with the defaults, its log's note names the file, and saving writes
// nothing there, also when a FIFO took the file's place while the window ran.
TEST_F(SettingsTest, ASettingsFileThatIsNoFileIsLeftAlone) {
    namespace fs = std::filesystem;
    const fs::path file = m_dir.path() / "Brenwick" / "Quillon.conf";
    EXPECT_EQ(QtSettingsStore::UserSettingsFile("Brenwick", "Quillon").toStdString(),
              file.string());
    fs::create_directory(file.parent_path());
    const auto fifo = [&file] { return mkfifo(file.c_str(), 0600) == 0; };
    const auto zero = [&file] { return fs::create_symlink("/dev/zero", file), true; };
    for (const auto& make : {std::function<bool()>(fifo), std::function<bool()>(zero)}) {
        ASSERT_TRUE(make());
        const fs::file_type type = fs::symlink_status(file).type();
        QtDownloadApp app;
        Run(app, [&app](QDialog& window) {
            app.Settings().port = "COM3";
            window.accept();
        });
        EXPECT_EQ(app.Settings(), (WindowSettings{"", "COM3", BaudRate{57600}, 1}));
        EXPECT_EQ(app.SettingsNote().rfind(
                      "The settings file " + file.string() + " is not a regular file: ", 0),
                  0u)
            << app.SettingsNote();
        EXPECT_EQ(fs::symlink_status(file).type(), type) << "left as it was";
        fs::remove(file);
    }
    Store().setValue("Last Connection/COMPort", "COM7");
    QtDownloadApp app;
    Run(app, [&](QDialog& window) {
        fs::remove(file);
        EXPECT_TRUE(fifo());
        window.accept();
    });
    EXPECT_EQ(app.Settings().port, "COM7");
    EXPECT_EQ(app.SettingsNote(), "");
    EXPECT_EQ(fs::symlink_status(file).type(), fs::file_type::fifo) << "nothing written through it";
}
