#include "platform/environment.h"

namespace quillon {

XdgEnvironment ReadXdgEnvironment() {
    return {};
}

}  // namespace quillon
