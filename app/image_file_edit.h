#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace quillon {

// The image file field: an edit box for the path of the HEX file to download, a browse button
// beside it that opens the platform's open-file dialog, and a drop target for files from the
// file manager. The field never writes a setting; the window reads its text when it needs it.
class QtImageFileEdit : public QWidget {
    Q_OBJECT
public:
    // Where the file dialog opens: in `folder`, with `file` preselected when not empty. Both
    // empty: where the platform chooses.
    struct StartLocation {
        QString folder;
        QString file;
    };

    explicit QtImageFileEdit(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    QLineEdit* edit() const { return m_edit; }
    QToolButton* browseButton() const { return m_browse; }

    // The file dialog's parameters. The filter uses the bar notation of description and
    // patterns, e.g. "Hex-Dateien (*.hex; *.h86)|*.hex;*.h86|"; the default extension (e.g.
    // ".HEX") is added to a typed name without one. Defaults: no title, "All files (*.*)|*.*||",
    // no extension, no default path.
    void SetDialogTitle(const QString& title) { m_title = title; }
    void SetDefaultExtension(const QString& extension) { m_defaultExtension = extension; }
    void SetFilter(const QString& filter) { m_filter = filter; }
    void SetDefaultPath(const QString& path) { m_defaultPath = path; }
    QString DialogTitle() const { return m_title; }
    QString DefaultExtension() const { return m_defaultExtension; }
    QString Filter() const { return m_filter; }

    // The browse operation (the button): opens the file dialog where ChooseStartLocation says
    // and puts the confirmed file's full path into the field; a cancel leaves the text. The
    // process's current directory is the same afterwards.
    virtual void OnBrowse();

    // Where the dialog opens for the field text `text` (ChooseBrowseStart): a text naming a
    // folder (with or without a trailing separator) opens in it; one naming a file opens in the
    // file's folder with the file preselected; a drive ("C:" or "C:\") opens in its root;
    // anything else opens in `defaultPath` when that is a folder, otherwise where the platform
    // chooses. Paths come back absolute, with the platform's separators.
    static StartLocation ChooseStartLocation(const QString& text, const QString& defaultPath);

    // The bar-notation filter (ParseFileFilter) as file dialog name filters,
    // "description (pattern pattern)".
    static QStringList NameFilters(const QString& filter);

signals:
    void textChanged(const QString& text);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QLineEdit* m_edit;
    QToolButton* m_browse;
    QString m_title;
    QString m_filter = QStringLiteral("All files (*.*)|*.*||");
    QString m_defaultExtension;
    QString m_defaultPath;
};

}  // namespace quillon
