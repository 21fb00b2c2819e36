#include <cstdlib>

#include "platform/environment.h"

namespace quillon {

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

XdgEnvironment ReadXdgEnvironment() {
    return {Variable("XDG_DATA_HOME"), Variable("XDG_CONFIG_HOME"), Variable("HOME")};
}

std::string SharedDataFolder() {
    return {};
}

}  // namespace quillon
