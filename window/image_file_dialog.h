#pragma once

#include <string>
#include <vector>

namespace quillon {

// The image file field's open-file dialog, the same in every window: its title, filter and
// default extension, and where it opens for the field's current text.

inline constexpr const char* kImageFileDialogTitle = "Datei wählen";
inline constexpr const char* kImageFileDialogExtension = ".HEX";
// One entry in the notation "description|patterns|...|" ending with "||" or "|".
inline constexpr const char* kImageFileDialogFilter = "Hex-Dateien (*.hex; *.h86)|*.hex;*.h86|";

struct FileFilterEntry {
    std::string description;            // "Hex-Dateien (*.hex; *.h86)"
    std::vector<std::string> patterns;  // "*.hex", "*.h86"

    bool operator==(const FileFilterEntry&) const = default;
};

// The entries of a filter in the notation above; an empty description ends the list.
std::vector<FileFilterEntry> ParseFileFilter(const std::string& filter);

// Where the dialog opens: a folder (empty: where the platform chooses) and a file to preselect
// in it (empty: none).
struct BrowseStart {
    std::string folder;
    std::string file;

    bool operator==(const BrowseStart&) const = default;
};

// For the field's text `text` (empty: `defaultPath` instead): one trailing slash or backslash
// is dropped, a drive alone ("C:") stands for its root; an existing folder opens the dialog
// there, an existing file opens its folder with the file preselected; anything else opens
// `defaultPath` when that is an existing folder, else where the platform chooses. Paths are
// UTF-8 and come back absolute.
BrowseStart ChooseBrowseStart(const std::string& text, const std::string& defaultPath);

}  // namespace quillon
