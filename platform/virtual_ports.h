#pragma once

#include <string>

#include "helpers/result.h"

namespace quillon {

// Running virtual targets announce their serial port as a symbolic link to their
// pseudo-terminal inside one per-user folder, so that port lists can offer them.
//
// The folder is $XDG_RUNTIME_DIR/quillon/ports when XDG_RUNTIME_DIR names an existing folder
// by an absolute path, otherwise <temporary folder>/quillon-<user id>/ports. It is not created
// here.
std::string DefaultVirtualPortFolder();

// The display name port lists give an announced virtual port.
inline constexpr const char* kVirtualPortFriendlyName = "Quillon virtual target";

// Success when `folder` is a folder (not a symbolic link) owned by this user and writable by
// nobody else; otherwise an error saying why not, naming the folder ("/tmp/quillon-1000
// belongs to another user"). Always a refusal on Windows.
[[nodiscard]] Status CheckPrivateFolder(const std::string& folder);

// Success when `folder` may hold this user's announced ports: its parent (the quillon or
// quillon-<user id> folder a virtual target makes) and then the folder itself pass
// CheckPrivateFolder. Otherwise the first fault: links in another user's folder, or in one
// that others may write, lead wherever they chose.
[[nodiscard]] Status CheckVirtualPortFolder(const std::string& folder);

// The lock file a virtual target holds (exclusively, for as long as it serves the line) beside
// the link `linkPath` that announces its port.
std::string VirtualPortLockPath(const std::string& linkPath);

// True while a virtual target holds the lock of the link `linkPath`: its port is served. A link
// of a target that was killed (whose pseudo-terminal number another program may have taken
// since) has no holder. Always false on Windows.
bool IsVirtualPortServed(const std::string& linkPath);

}  // namespace quillon
