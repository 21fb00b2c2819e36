// Windows of this platform have no system menu: the window offers its About entry elsewhere and
// keeps its close button while a job runs from closing by itself.
#include "app/system_menu.h"

bool HasSystemMenu(std::uintptr_t) {
    return false;
}

void AppendSystemMenuEntry(std::uintptr_t, unsigned, const std::string&) {}

void EnableSystemMenuClose(std::uintptr_t, bool) {}

unsigned SystemCommandOf(const void*) {
    return 0;
}
