#include <windows.h>

#include <iterator>

#include "platform/host_name.h"
#include "platform/utf16_text.h"

namespace quillon {

std::string HostName() {
    wchar_t name[256];
    DWORD size = static_cast<DWORD>(std::size(name));
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) {
        return {};
    }
    return Utf8FromUtf16(name, size);
}

}  // namespace quillon
