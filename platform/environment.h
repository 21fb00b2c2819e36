#pragma once

#include <string>

namespace quillon {

// The environment's names of the user's folders (UTF-8, each empty when not set): where the
// user's own data and configuration files go on systems that follow the XDG folders. Windows
// keeps these elsewhere (the registry, the profile's folders), and there all are empty.
struct XdgEnvironment {
    std::string dataHome;    // $XDG_DATA_HOME
    std::string configHome;  // $XDG_CONFIG_HOME
    std::string home;        // $HOME
};

XdgEnvironment ReadXdgEnvironment();

// The folder for data that every user of this machine shares and may add to (UTF-8):
// %ProgramData% on Windows, where programs are installed read-only for their users; empty
// elsewhere, where the XDG folders serve.
std::string SharedDataFolder();

}  // namespace quillon
