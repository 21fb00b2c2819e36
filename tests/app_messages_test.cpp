// The help launcher's failure texts in their message boxes, and the F1 key. This file also creates
// the one QApplication that every app test of this program runs in (offscreen platform).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/about_window.h"
#include "app/download_app.h"
#include "app/help_key_filter.h"
#include "app/help_launcher.h"
#include "tests/support/qt_test_environment.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace {

// Confirms every message box that the GUI thread shows while it lives, recording each.
class BoxConfirmer {
public:
    struct Box {
        QString text;
        QMessageBox::Icon icon;
        Qt::TextFormat format;
    };

    BoxConfirmer() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box != nullptr && box->isVisible()) {
                    boxes.push_back({box->text(), box->icon(), box->textFormat()});
                    box->accept();
                }
            }
        });
        m_timer.start(5);
    }
    std::vector<Box> boxes;

private:
    QTimer m_timer;
};

class HelpTest : public ::testing::Test {
protected:
    // A help file in a folder whose name has spaces.
    QString WriteHelpFile() {
        const QString folder = QString::fromStdString(m_dir.path().string()) + "/Mein Handbuch";
        QDir().mkpath(folder);
        QFile file(folder + "/quillon_de.pdf");
        file.open(QIODevice::WriteOnly);
        file.write("%PDF-1.4\n");
        return file.fileName();
    }
    // Makes the desktop opener findable, or not, through PATH; installed, it is a script that
    // writes its arguments to Arguments() and ends with `end`.
    void SetOpenerInstalled(bool installed, const QByteArray& end = "exit 0",
                            const QByteArray& interpreter = "/bin/sh") {
        const QString bin = QString::fromStdString(m_dir.path().string()) + "/bin";
        QDir().mkpath(bin);
        if (installed) {
            QFile opener(bin + "/xdg-open");
            opener.open(QIODevice::WriteOnly);
            opener.write("#!" + interpreter + "\nprintf '%s\\n' \"$@\" >'" +
                         Arguments().toLocal8Bit() + "'\n" + end + "\n");
            opener.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        }
        qputenv("PATH", bin.toLocal8Bit());
    }
    QString Arguments() const {
        return QString::fromStdString((m_dir.path() / "arguments").string());
    }
    void TearDown() override { qputenv("PATH", m_savedPath); }

    TempDir m_dir;
    QByteArray m_savedPath = qgetenv("PATH");
};

}  // namespace

TEST_F(HelpTest, MissingFileNamesThePathWithItsSpaces) {
    SetOpenerInstalled(true);
    const QString path = QString::fromStdString(m_dir.path().string()) + "/Mein Handbuch/fehlt.pdf";
    BoxConfirmer confirmer;
    ShowHelp(nullptr, path);
    ASSERT_EQ(confirmer.boxes.size(), 1u);
    EXPECT_EQ(confirmer.boxes[0].text,
              "Die Hilfe '" + QDir::toNativeSeparators(path) +
                  "' oder der Acrobat-Reader konnte nicht gefunden werden!");
    EXPECT_EQ(confirmer.boxes[0].icon, QMessageBox::Warning);
}

TEST_F(HelpTest, NoViewerIsReportedAsNotFound) {
    const QString path = WriteHelpFile();
    SetOpenerInstalled(false);
    const Status launched = LaunchHelpViewer(path);
    ASSERT_FALSE(launched);
    EXPECT_EQ(launched.error().kind, ErrorKind::kNotFound);
}

// The opener runs on its own; what its exit reports comes as a box afterwards.
TEST_F(HelpTest, TheOpenersFailuresAreReported) {
    const QString path = WriteHelpFile();
    const QString notFound = "Die Hilfe '" + QDir::toNativeSeparators(path) +
                             "' oder der Acrobat-Reader konnte nicht gefunden werden!";
    const QString startFailed = "Fehler beim Starten des Acrobat-Readers!";
    const struct {
        QByteArray end;
        QByteArray interpreter;
        QString text;  // empty: no box
        QMessageBox::Icon icon;
    } cases[] = {
        {"exit 0", "/bin/sh", QString(), QMessageBox::NoIcon},
        {"exit 3", "/bin/sh", notFound, QMessageBox::Warning},  // no viewer for PDF files
        {"exit 2", "/bin/sh", notFound, QMessageBox::Warning},
        {"exit 4", "/bin/sh", startFailed, QMessageBox::Information},
        {"kill -9 $$", "/bin/sh", startFailed, QMessageBox::Information},
        {"exit 0", "/no/such/shell", startFailed, QMessageBox::Information},  // cannot start
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.end.toStdString() + " " + c.interpreter.toStdString());
        SetOpenerInstalled(true, c.end, c.interpreter);
        BoxConfirmer confirmer;
        ShowHelp(nullptr, path);
        // The opener has ended once its process object is gone.
        EXPECT_TRUE(QTest::qWaitFor([] { return qApp->findChildren<QProcess*>().isEmpty(); }));
        QApplication::processEvents();
        ASSERT_EQ(confirmer.boxes.size(), c.text.isEmpty() ? 0u : 1u);
        if (!c.text.isEmpty()) {
            EXPECT_EQ(confirmer.boxes[0].text, c.text);
            EXPECT_EQ(confirmer.boxes[0].icon, c.icon);
        }
        QFile::remove(Arguments());
    }
}

TEST_F(HelpTest, TheOpenerGetsTheFileAsOneUrlWhateverItsSpaces) {
    const QString path = WriteHelpFile();
    SetOpenerInstalled(true);
    EXPECT_TRUE(LaunchHelpViewer(path));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([] { return qApp->findChildren<QProcess*>().isEmpty(); }));
    QFile arguments(Arguments());
    ASSERT_TRUE(arguments.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromUtf8(arguments.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(QUrl(lines[0]).toLocalFile(), path);
}

TEST(HelpKeyTest, F1WithoutShiftCtrlOrAltInAnyControl) {
    QDialog window;
    auto* edit = new QLineEdit(&window);
    int helps = 0;
    HelpKeyFilter::Install(&window, [&] { ++helps; });

    QTest::keyClick(edit, Qt::Key_F1);
    QTest::keyClick(&window, Qt::Key_F1);
    EXPECT_EQ(helps, 2);
    QTest::keyClick(edit, Qt::Key_F1, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_F1, Qt::ShiftModifier);
    QTest::keyClick(edit, Qt::Key_F1, Qt::AltModifier);
    QTest::keyClick(edit, Qt::Key_F2);
    EXPECT_EQ(helps, 2);
}

TEST_F(HelpTest, F1InTheAboutBoxRunsTheApplicationsHelp) {
    QtDownloadApp app;
    app.SetHelpFilePath((m_dir.path() / "none.pdf").string());
    QtAboutWindow about;
    BoxConfirmer confirmer;
    QTest::keyClick(&about, Qt::Key_F1);
    ASSERT_EQ(confirmer.boxes.size(), 1u);
    EXPECT_TRUE(confirmer.boxes[0].text.contains("none.pdf"));
}
