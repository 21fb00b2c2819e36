#include "app/image_file_edit.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>

#include "window/image_file_dialog.h"

namespace quillon {

namespace {

// The first local file among dropped URLs, or an empty text.
QString FirstDroppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) {
        return QString();
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            return QDir::toNativeSeparators(url.toLocalFile());
        }
    }
    return QString();
}

}  // namespace

QtImageFileEdit::QtImageFileEdit(QWidget* parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_browse(new QToolButton(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_browse);

    m_browse->setText(QStringLiteral("..."));
    m_browse->setFocusPolicy(Qt::TabFocus);
    setFocusProxy(m_edit);

    // Dropped files are handled by the field as a whole, never inserted as text.
    m_edit->setAcceptDrops(false);
    setAcceptDrops(true);

    connect(m_edit, &QLineEdit::textChanged, this, &QtImageFileEdit::textChanged);
    connect(m_browse, &QToolButton::clicked, this, [this] { OnBrowse(); });
}

QString QtImageFileEdit::text() const {
    return m_edit->text();
}

void QtImageFileEdit::setText(const QString& text) {
    m_edit->setText(text);
}

QtImageFileEdit::StartLocation QtImageFileEdit::ChooseStartLocation(const QString& text,
                                                                    const QString& defaultPath) {
    const BrowseStart start = ChooseBrowseStart(text.toStdString(), defaultPath.toStdString());
    return {QString::fromStdString(start.folder), QString::fromStdString(start.file)};
}

QStringList QtImageFileEdit::NameFilters(const QString& filter) {
    QStringList result;
    for (const FileFilterEntry& entry : ParseFileFilter(filter.toStdString())) {
        QStringList patterns;
        for (const std::string& pattern : entry.patterns) {
            // "*.*" stands for every file, also those without an extension.
            patterns << (pattern == "*.*" ? QStringLiteral("*") : QString::fromStdString(pattern));
        }
        // The dialog shows the description alone (HideNameFilterDetails) and matches the
        // patterns in the last parentheses.
        result << QString::fromStdString(entry.description) + QStringLiteral(" (") +
                      patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result;
}

void QtImageFileEdit::OnBrowse() {
    const QString previousDirectory = QDir::currentPath();
    const StartLocation start = ChooseStartLocation(text(), m_defaultPath);

    QFileDialog dialog(this, m_title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(NameFilters(m_filter));
    dialog.setDefaultSuffix(m_defaultExtension);
    if (!start.folder.isEmpty()) {
        dialog.setDirectory(start.folder);
    }
    if (!start.file.isEmpty()) {
        dialog.selectFile(start.file);
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
    }
    QDir::setCurrent(previousDirectory);
}

void QtImageFileEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (!FirstDroppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void QtImageFileEdit::dragMoveEvent(QDragMoveEvent* event) {
    if (!FirstDroppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void QtImageFileEdit::dropEvent(QDropEvent* event) {
    const QString path = FirstDroppedFile(event->mimeData());
    if (!path.isEmpty()) {
        setText(path);
        event->acceptProposedAction();
    }
}

}  // namespace quillon
