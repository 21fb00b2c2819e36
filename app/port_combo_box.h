#pragma once

#include <QComboBox>
#include <QStringList>
#include <functional>
#include <utility>

namespace quillon {

// The drop-down list of serial ports. Port names can be long paths that differ only at their
// end (/dev/ttyUSB0, a virtual target's link), so the closed list shows the end of the
// selected name, with an ellipsis in front where it does not fit, and the open list is wide
// enough for every name and the description beside it (a USB adapter's product, "Quillon
// virtual target"). The tooltip holds the selected name in full. Each time the list drops
// down it runs its refresh first, so ports that appeared since show up.
class PortComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit PortComboBox(QWidget* parent = nullptr);

    // What runs before the list drops down (the window reads the ports again); none: nothing.
    void SetRefresh(std::function<void()> refresh) { m_refresh = std::move(refresh); }

    // The descriptions of the entries, in their order; one that repeats its entry's name (a
    // port the system describes no further) is not shown again.
    void SetDescriptions(const QStringList& descriptions);
    // What the open list shows for a port.
    static QString OpenListText(const QString& name, const QString& description);

    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void()> m_refresh;
};

}  // namespace quillon
