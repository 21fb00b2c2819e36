#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "helpers/result.h"
#include "link/echo_window.h"
#include "link/line_settings.h"
#include "platform/baud_rate.h"

namespace quillon {

// The operator's choices the window keeps between runs, and how they are stored: per user,
// below the company key "Brenwick" and the profile "Quillon", one section per group:
//
//   section            value       type     default when missing
//   "Last Connection"  "Target"    string   empty
//   "Last Connection"  "COMPort"   string   "COM1"
//   "Last Connection"  "Baudrate"  string   "57600" (the first offered rate it begins, else
//                                           the added rate it names)
//   "Settings"         "EraseAll"    integer  1 (any value but 0 reads as 1)
//   "Settings"         "EchoWindow"  integer  1 (1 to 1024; anything else reads as 1)
//   "Settings"         "AddedBaudrates" string  empty (rates apart by spaces; a text with
//                                               anything else adds none)
//
// Each is read into its value once, when the program starts; an integer as Qt reads one (white
// space around it and a sign in front allowed).
// They are read when the program starts and written, in this order, only when the main window
// ends with its OK result (button 1); Escape and the close box write nothing. The image file
// path is never stored. EchoWindow, the monitor bytes Initialize lets travel before the oldest
// one's echo is awaited, is for a board whose loader keeps up: the main window never writes
// it, the Options dialog writes it when the operator confirms a new value (OptionsDialog), and
// AddedBaudrates when the operator changed the rates the baud rate list adds.

inline constexpr const char* kSettingsCompany = "Brenwick";
inline constexpr const char* kSettingsProfile = "Quillon";
inline constexpr const char* kLastConnectionSection = "Last Connection";
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kTargetValue = "Target";
inline constexpr const char* kComPortValue = "COMPort";
inline constexpr const char* kBaudrateValue = "Baudrate";
inline constexpr const char* kEraseAllValue = "EraseAll";
inline constexpr const char* kEchoWindowValue = "EchoWindow";
inline constexpr const char* kAddedBaudratesValue = "AddedBaudrates";

// The dialog result on which the settings are saved (the OK result).
inline constexpr int kDialogResultOk = 1;
inline constexpr int kDialogResultCancel = 2;

struct WindowSettings {
    std::string target;  // display name of the last used target (UTF-8)
    std::string port = kDefaultPortName;
    // None when the stored text begins no offered rate: the list selects nothing, and the text
    // stays in the store as it is (it is not written).
    std::optional<BaudRate> baudRate = kDefaultBaudRate;
    int eraseAll = 1;  // 0 or 1
    EchoWindow echoWindow = {};
    // Rates the baud rate list offers beside kBaudRates (AddedBaudRatesOfText's form).
    std::vector<BaudRate> addedBaudRates = {};

    bool operator==(const WindowSettings&) const = default;
};

// The most the window's settings file may hold: a larger one is left alone.
inline constexpr std::size_t kSettingsFileLimit = 1024 * 1024;

// Whether the settings file at `path` (UTF-8) may be read and written: a regular file of at
// most kSettingsFileLimit bytes, or nothing of that name yet (it is made when the settings are
// saved). Else an error whose text is the log line that names it, says what stands in the way
// and that the window goes on with the defaults and saves nothing there: a FIFO would hold the
// program up in its open, a device such as /dev/zero never ends, and neither may be written
// through. Looking never blocks.
[[nodiscard]] Status CheckSettingsFile(const std::string& path);

// Where a window keeps its settings: QSettings for the Qt window, the registry below
// HKEY_CURRENT_USER\Software\Brenwick\Quillon for the Win32 window, in the same layout so that
// either reads what the other wrote. Reads give nothing for a value that is missing or cannot
// be read; an integer value reads as its decimal text. Writes report nothing.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<std::string> ReadText(const char* section, const char* value) = 0;
    virtual void WriteText(const char* section, const char* value, const std::string& text) = 0;
    virtual void WriteInteger(const char* section, const char* value, int number) = 0;
    // The log line about a settings file left alone (CheckSettingsFile), when the store
    // keeps its values in a file that it may not use; empty while it keeps them as usual.
    virtual std::string Note() const { return {}; }
};

// Reads the six values with their defaults.
WindowSettings LoadWindowSettings(SettingsStore& store);
// Writes Target, COMPort and Baudrate (when it names a rate), then EraseAll.
void SaveWindowSettings(SettingsStore& store, const WindowSettings& settings);
// Whether a main window that ended with `dialogResult` has its settings saved.
inline bool SettingsSavedOn(int dialogResult) {
    return dialogResult == kDialogResultOk;
}

// Baudrate as stored: the first offered rate (kBaudRates) whose text begins with `text` ("1"
// is 19200; the empty text begins every rate's), else the added rate whose text it is, or none.
std::optional<BaudRate> BaudRateFromSetting(const std::string& text,
                                            const std::vector<BaudRate>& added = {});
// EraseAll as stored (decimal text, or absent) to 0 or 1: missing, non-numeric or nonzero
// values give 1.
int EraseAllFromText(const std::optional<std::string>& text);
// EchoWindow as stored (ParseEchoWindow): missing, non-numeric or out-of-range values give the
// lock step.
EchoWindow EchoWindowFromText(const std::optional<std::string>& text);
// The one rule for an echo window's text, stored or typed: an integer as Qt reads one (white
// space around it, a "+" in front allowed) from 1 to EchoWindow::kLargest; else an error of
// kind kUsage whose text says what is taken ("a number from 1 to 1024").
[[nodiscard]] Result<EchoWindow> EchoWindowOfText(const std::string& text);
// Writes EchoWindow alone.
void SaveEchoWindow(SettingsStore& store, EchoWindow window);
// The one rule for the added baud rates' text, stored or typed: decimal rates from
// BaudRate::kLowest to kHighest apart by spaces or commas (none at all is fine); they come
// slowest first, each once, without the offered ones. Else an error of kind kUsage whose
// text says what is taken.
[[nodiscard]] Result<std::vector<BaudRate>> AddedBaudRatesOfText(const std::string& text);
// AddedBaudrates as stored: a text the rule refuses, or none, adds no rate.
std::vector<BaudRate> AddedBaudRatesFromText(const std::optional<std::string>& text);
// The added rates as stored and shown ("250000 1000000").
std::string AddedBaudRatesText(const std::vector<BaudRate>& rates);
// Writes AddedBaudrates alone.
void SaveAddedBaudRates(SettingsStore& store, const std::vector<BaudRate>& rates);

}  // namespace quillon
