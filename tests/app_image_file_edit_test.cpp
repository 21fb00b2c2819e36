// The image file field: dropped files, where the file dialog opens, and the dialog itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <functional>

#include "app/image_file_edit.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace {

using Location = QtImageFileEdit::StartLocation;

class ImageFileEditTest : public ::testing::Test {
protected:
    QString Folder() const { return QString::fromStdString(m_dir.path().string()); }
    QString Write(const std::string& name) {
        return QString::fromStdString(m_dir.Write(name, ":00000001FF\n"));
    }
    bool Drop(const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&m_field, &enter);
        QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&m_field, &drop);
        return enter.isAccepted();
    }
    // Browses, letting `act` handle the file dialog while it is open.
    void Browse(std::function<void(QFileDialog&)> act) {
        QTimer::singleShot(0, [act] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            act(*dialog);
        });
        m_field.OnBrowse();
    }

    TempDir m_dir;
    QtImageFileEdit m_field;
};

}  // namespace

TEST_F(ImageFileEditTest, DropTakesTheFirstFileOnly) {
    const QString first = Write("first image.hex");
    const QString second = Write("second.hex");
    m_field.setText("old");
    EXPECT_TRUE(Drop({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)}));
    EXPECT_EQ(m_field.text(), QDir::toNativeSeparators(first));

    EXPECT_FALSE(Drop({QUrl("https://example.invalid/x.hex")}));
    EXPECT_EQ(m_field.text(), QDir::toNativeSeparators(first));
    EXPECT_FALSE(m_field.edit()->acceptDrops());
}

TEST_F(ImageFileEditTest, StartLocationFollowsTheText) {
    const QString file = Write("fw.hex");
    const QString sub = Folder() + "/sub";
    QDir().mkpath(sub);

    // ChooseBrowseStart decides (window_model_tests); the paths come back native.
    const Location inFolder = QtImageFileEdit::ChooseStartLocation(sub + "/", QString());
    EXPECT_EQ(inFolder.folder, QDir::toNativeSeparators(sub));
    EXPECT_EQ(inFolder.file, QString());
    const Location atFile = QtImageFileEdit::ChooseStartLocation(file, QString());
    EXPECT_EQ(atFile.folder, QDir::toNativeSeparators(Folder()));
    EXPECT_EQ(atFile.file, QDir::toNativeSeparators(file));

    // A missing path or a drive that does not exist here falls back to the default path.
    for (const QString& text : {Folder() + "/missing.hex", QStringLiteral("Q:")}) {
        EXPECT_EQ(QtImageFileEdit::ChooseStartLocation(text, sub).folder,
                  QDir::toNativeSeparators(sub))
            << text.toStdString();
        EXPECT_EQ(QtImageFileEdit::ChooseStartLocation(text, QString()).folder, QString());
    }
    EXPECT_EQ(QtImageFileEdit::ChooseStartLocation(QString(), QString()).folder, QString());
}

// The bar notation (ParseFileFilter) as the dialog's name filters; "*.*" matches every file.
TEST_F(ImageFileEditTest, NameFiltersFromTheBarNotation) {
    EXPECT_EQ(QtImageFileEdit::NameFilters("Hex-Dateien (*.hex; *.h86)|*.hex; *.h86|"),
              QStringList({"Hex-Dateien (*.hex; *.h86) (*.hex *.h86)"}));
    EXPECT_EQ(QtImageFileEdit::NameFilters(m_field.Filter()), QStringList({"All files (*.*) (*)"}));
}

TEST_F(ImageFileEditTest, DialogOpensAtTheFileAndOkTakesTheChoice) {
    const QString current = Write("current.hex");
    const QString chosen = Write("chosen.h86");
    m_field.SetDialogTitle("Datei wählen");
    m_field.SetDefaultExtension(".HEX");
    m_field.SetFilter("Hex-Dateien (*.hex; *.h86)|*.hex;*.h86|");
    m_field.setText(current);
    const QString before = QDir::currentPath();

    Browse([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Datei wählen"));
        EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("HEX"));
        EXPECT_EQ(dialog.directory().absolutePath(), Folder());
        EXPECT_EQ(dialog.selectedFiles(), QStringList({current}));
        EXPECT_EQ(dialog.findChild<QFileSystemModel*>()->nameFilters(),
                  QStringList({"*.hex", "*.h86"}));
        QDir::setCurrent(Folder());  // as a platform dialog may do
        dialog.selectFile(chosen);
        static_cast<QDialog&>(dialog).accept();  // QFileDialog::accept checks the choice
    });
    EXPECT_EQ(m_field.text(), QDir::toNativeSeparators(chosen));
    EXPECT_EQ(QDir::currentPath(), before);
}

TEST_F(ImageFileEditTest, CancelLeavesTheTextAndTheCurrentDirectory) {
    m_field.setText(Folder());
    const QString before = QDir::currentPath();
    Browse([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.directory().absolutePath(), Folder());
        QDir::setCurrent(Folder());
        dialog.reject();
    });
    EXPECT_EQ(m_field.text(), Folder());
    EXPECT_EQ(QDir::currentPath(), before);
}
