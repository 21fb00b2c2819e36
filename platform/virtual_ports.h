#pragma once

#include <string>

// Running virtual targets announce their serial port as a symbolic link to their
// pseudo-terminal inside one per-user folder, so that port lists can offer them.
//
// The folder is $XDG_RUNTIME_DIR/quillon/ports when XDG_RUNTIME_DIR is set, otherwise
// <temporary folder>/quillon-<user id>/ports. It is not created here.
std::string DefaultVirtualPortFolder();

// The display name port lists give an announced virtual port.
inline constexpr const char* kVirtualPortFriendlyName = "Quillon virtual target";
