#include "ports/sysfs_port_scan.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/virtual_ports.h"

namespace quillon {

namespace fs = std::filesystem;

namespace {

struct FoundPort {
    std::string sortName;
    std::string portName;
    std::string friendlyName;
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Natural order: runs of digits compare by their value, everything else byte by byte.
bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t aDigitsEnd = i;
            std::size_t bDigitsEnd = j;
            while (aDigitsEnd < a.size() && IsDigit(a[aDigitsEnd])) {
                ++aDigitsEnd;
            }
            while (bDigitsEnd < b.size() && IsDigit(b[bDigitsEnd])) {
                ++bDigitsEnd;
            }
            while (i + 1 < aDigitsEnd && a[i] == '0') {
                ++i;
            }
            while (j + 1 < bDigitsEnd && b[j] == '0') {
                ++j;
            }
            const std::string_view x = a.substr(i, aDigitsEnd - i);
            const std::string_view y = b.substr(j, bDigitsEnd - j);
            if (x.size() != y.size()) {
                return x.size() < y.size();
            }
            if (x != y) {
                return x < y;
            }
            i = aDigitsEnd;
            j = bDigitsEnd;
        } else {
            if (a[i] != b[j]) {
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            }
            ++i;
            ++j;
        }
    }
    if (i < a.size() || j < b.size()) {
        return i == a.size();
    }
    return a < b;  // equal but for leading zeros
}

void SortNaturally(std::vector<FoundPort>& ports) {
    std::sort(ports.begin(), ports.end(), [](const FoundPort& a, const FoundPort& b) {
        return NaturalLess(a.sortName, b.sortName);
    });
}

// A sysfs attribute's text without surrounding white space; empty when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return {};
    }
    std::string text(512, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    const auto isSpace = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
    const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

// The driver of the UART behind a terminal's device. Newer kernels put a port device and a
// controller device of the serial core itself (drivers "port" and "ctrl") between the terminal
// and the UART's device; their names say nothing about the hardware, so look past them.
std::string DriverName(const fs::path& device) {
    fs::path at = device;
    for (int level = 0; level < 3; ++level) {
        std::error_code error;
        const fs::path driver = fs::read_symlink(at / "driver", error);
        const std::string name = error ? std::string() : driver.filename().string();
        if (name != "port" && name != "ctrl") {
            return name;
        }
        at = at.parent_path();
    }
    return std::string();
}

// A UART driver registers a fixed number of ports whether or not a UART answers; those
// without one have type 0 (unknown). The legacy driver's ports must prove a UART by a type.
bool IsPlaceholder(const fs::path& ttyEntry, const std::string& driver) {
    const std::string type = ReadAttribute(ttyEntry / "type");
    if (type.empty()) {
        return driver == "serial8250";
    }
    return type == "0";
}

bool IsInside(const fs::path& path, const fs::path& root) {
    const auto [rootEnd, pathAt] =
        std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    (void)pathAt;
    return rootEnd == root.end();
}

// "Manufacturer Product" of the USB device the port belongs to: the nearest folder at or
// above the port's device that carries a USB vendor id. Empty when there is none.
std::string UsbDeviceName(const fs::path& device, const fs::path& sysfsRoot) {
    for (fs::path folder = device; IsInside(folder, sysfsRoot) && folder != sysfsRoot;
         folder = folder.parent_path()) {
        std::error_code error;
        if (fs::exists(folder / "idVendor", error)) {
            const std::string manufacturer = ReadAttribute(folder / "manufacturer");
            const std::string product = ReadAttribute(folder / "product");
            if (manufacturer.empty() || product.empty()) {
                return manufacturer + product;
            }
            return manufacturer + " " + product;
        }
        if (folder == folder.parent_path()) {
            break;
        }
    }
    return {};
}

// A device name in sysfs writes a '/' of its node's path below /dev as '!'.
std::string DeviceNodeName(std::string name) {
    std::replace(name.begin(), name.end(), '!', '/');
    return name;
}

bool IsMissing(const std::error_code& error) {
    return error == std::errc::no_such_file_or_directory;
}

// A folder that could not be listed, with the system's code in the text.
Status FolderStatus(const std::error_code& error) {
    if (!error) {
        return {};
    }
    return Fail(error == std::errc::permission_denied ? ErrorKind::kAccessDenied : ErrorKind::kIo,
                "error " + std::to_string(error.value()));
}

Status CollectSysfsPorts(const SysfsPortSources& sources, std::vector<FoundPort>& ports) {
    std::error_code error;
    fs::path sysfsRoot = fs::canonical(sources.sysfsRoot, error);
    if (error) {
        return IsMissing(error) ? Status() : FolderStatus(error);
    }
    fs::directory_iterator entry(sysfsRoot / "class" / "tty", error);
    if (IsMissing(error)) {
        return {};
    }
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const fs::path ttyEntry = entry->path();
        std::error_code entryError;
        const fs::path device = fs::canonical(ttyEntry / "device", entryError);
        if (entryError || !fs::is_directory(device, entryError)) {
            continue;  // a terminal without hardware behind it (console, pty, vt)
        }
        const std::string driver = DriverName(device);
        if (IsPlaceholder(ttyEntry, driver)) {
            continue;
        }
        const std::string name = ttyEntry.filename().string();
        FoundPort port{name, (sources.devRoot / DeviceNodeName(name)).string(),
                       UsbDeviceName(device, sysfsRoot)};
        if (port.friendlyName.empty()) {
            port.friendlyName = driver.empty() ? port.portName : driver;
        }
        ports.push_back(std::move(port));
    }
    return FolderStatus(error);
}

Status CollectVirtualPorts(const fs::path& folder, std::vector<FoundPort>& ports) {
    if (folder.empty()) {
        return {};
    }
    std::error_code error;
    fs::directory_iterator entry(folder, error);
    if (IsMissing(error)) {
        return {};
    }
    // Links in a folder of another user, or one that others may write, lead wherever they
    // chose: none of them is offered.
    if (!error && !CheckVirtualPortFolder(folder.string())) {
        return {};
    }
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        std::error_code entryError;
        // Only links announce a port, and only while their target serves it: a target that was
        // killed leaves its link behind, and its pseudo-terminal may belong to another program
        // by now.
        if (!entry->is_symlink(entryError) || !fs::exists(entry->path(), entryError) ||
            !IsVirtualPortServed(entry->path().string())) {
            continue;
        }
        ports.push_back(FoundPort{entry->path().filename().string(), entry->path().string(),
                                  kVirtualPortFriendlyName});
    }
    return FolderStatus(error);
}

// Appends `found` in natural order of their names.
void Append(std::vector<FoundPort> found, std::vector<PortEntry>& ports) {
    SortNaturally(found);
    for (FoundPort& port : found) {
        ports.push_back({std::move(port.portName), std::move(port.friendlyName)});
    }
}

}  // namespace

SysfsPortSources DefaultSysfsPortSources() {
    SysfsPortSources sources;
    sources.virtualPortFolder = DefaultVirtualPortFolder();
    return sources;
}

Status EnumerateSysfsComPorts(const SysfsPortSources& sources, std::vector<PortEntry>& ports) {
    std::vector<FoundPort> found;
    const Status sysfs = CollectSysfsPorts(sources, found);
    // Ports found before a folder failed are still listed.
    Append(std::move(found), ports);
    if (!sysfs) {
        return sysfs;
    }
    found.clear();
    const Status announced = CollectVirtualPorts(sources.virtualPortFolder, found);
    Append(std::move(found), ports);
    return announced;
}

}  // namespace quillon
