#pragma once

#include <QString>
#include <cstdint>

#include "window/window_lists.h"

class QComboBox;

// The port list over a combo box: it shows what LoadPortListEntries and ReloadPortListEntries
// (window/window_lists.h) read and selected, the serial ports by their port names, sorted by
// name with letter case ignored. The setting COMPort keeps the name of the last used one.
// Where the ports come from: PortEnumerator (EnumerateComPorts, or any function with its
// contract).

// Empties `list` and shows every port that `enumerate` reports. When the enumeration succeeds,
// selects the first entry that begins with `storedPort`, letter case ignored; when it fails,
// the ports reported before the failure stay listed and none is selected.
void FillComPortList(QComboBox& list, const QString& storedPort, const PortEnumerator& enumerate);

// Reads the ports again into `list`, which holds an earlier reading: the selected port stays
// selected while it is listed (none is selected once it is gone); without a selection
// `storedPort` is selected as FillComPortList does.
void RefillComPortList(QComboBox& list, const QString& storedPort, const PortEnumerator& enumerate);

// The selected port's name, also recorded in `strComPort`; without a selection "COM1", and
// `strComPort` is left as it was.
QString GetSelectedComPort(const QComboBox& list, QString& strComPort);
