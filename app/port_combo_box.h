#pragma once

#include <QComboBox>

// The drop-down list of serial ports. Port names can be long paths that differ only at their
// end (/dev/ttyUSB0, a virtual target's link), so the closed list shows the end of the
// selected name, with an ellipsis in front where it does not fit, and the open list is wide
// enough for every name. The tooltip holds the selected name in full.
class CPortComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CPortComboBox(QWidget* parent = nullptr);

    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
