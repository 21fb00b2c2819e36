#pragma once

#include <QDialog>

class CDownloadApp;
class CImageFileEdit;
class QCheckBox;
class QComboBox;

// A small window over the application's settings: the target list, the image file field and
// "Erase all sectors", with About and Close. It runs no job. Close records the selections in
// the application object and ends with OK, so they are saved; Escape or the caption's close
// button end with Cancel and nothing is saved. F1 opens the help.
class CSetupDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSetupDlg(CDownloadApp& app, QWidget* parent = nullptr);

    QComboBox* targetList() const { return m_cmbTarget; }
    CImageFileEdit* imageFileEdit() const { return m_edtImageFile; }
    QCheckBox* eraseAllBox() const { return m_chkEraseAll; }

private:
    void OnCloseButton();

    CDownloadApp& m_app;
    QComboBox* m_cmbTarget;
    CImageFileEdit* m_edtImageFile;
    QCheckBox* m_chkEraseAll;
};
