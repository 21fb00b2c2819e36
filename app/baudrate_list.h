#pragma once

#include <QString>
#include <cstdint>

class QComboBox;

// The baud rate list over a combo box: BaudrateTexts (window/window_lists.h), 9600, 19200,
// 38400, 57600 and 115200 in this order, each entry with its rate as item data. The setting
// Baudrate keeps the text of the last used one.

// Empties `list`, adds the five rates and selects the first entry that begins with
// `storedBaudrate`, letter case ignored (none: no selection).
void FillBaudrateList(QComboBox& list, const QString& storedBaudrate);

// The selected rate, its text recorded in `strBaudrate`; without a selection 57600, and
// `strBaudrate` is left as it was.
std::int32_t GetSelectedBaudrate(const QComboBox& list, QString& strBaudrate);
