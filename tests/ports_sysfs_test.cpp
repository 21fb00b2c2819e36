#include "ports/sysfs_port_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/virtual_ports.h"
#include "ports/com_ports.h"
#include "ports/network_port_list.h"
#include "tests/support/port_collector.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// A link holding a relative target, as sysfs has them.
void Link(const fs::path& target, const fs::path& link) {
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(fs::relative(target, link.parent_path()), link);
}

// Sets an environment variable (unsets it for nullopt) while it lives.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* previous = std::getenv(name)) {
            m_saved = previous;
        }
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    ~ScopedVariable() { m_saved ? setenv(m_name, m_saved->c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_saved;
};

// The lock file beside an announced port's link, made as a virtual target makes it; held
// exclusively while `served`, as by a target that still serves its line.
int MakePortLock(const fs::path& link, bool served) {
    const int fd =
        open(VirtualPortLockPath(link.string()).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_TRUE(fd >= 0 && (!served || flock(fd, LOCK_EX | LOCK_NB) == 0)) << link;
    return fd;
}

// A sysfs tree laid out like the kernel's, and an announce folder, in a temporary folder.
class FakeSystem {
public:
    ~FakeSystem() {
        for (const int fd : m_locks) {
            close(fd);
        }
    }
    fs::path sys() const { return m_dir.path() / "sys"; }
    fs::path announce() const { return m_dir.path() / "announce"; }
    SysfsPortSources sources() const { return {sys(), "/dev", announce()}; }

    // A terminal whose device is the folder `device` below sys/devices, bound to `driver`
    // (none when empty), with a `type` attribute when one is given.
    void AddPort(const std::string& name, const std::string& device, const std::string& driver,
                 std::optional<std::string> type = std::nullopt) {
        const fs::path deviceDir = sys() / "devices" / device;
        const fs::path ttyDir = deviceDir / "tty" / name;
        fs::create_directories(ttyDir);
        Link(deviceDir, ttyDir / "device");
        if (!driver.empty() && !fs::exists(deviceDir / "driver")) {
            fs::create_directories(sys() / "bus" / "drivers" / driver);
            Link(sys() / "bus" / "drivers" / driver, deviceDir / "driver");
        }
        if (type) {
            WriteFile(ttyDir / "type", *type + "\n");
        }
        WriteFile(ttyDir / "dev", "4:64\n");
        Link(ttyDir, sys() / "class" / "tty" / name);
    }
    // Binds the device folder `device` below sys/devices to `driver`.
    void BindDriver(const std::string& device, const std::string& driver) {
        fs::create_directories(sys() / "bus" / "drivers" / driver);
        Link(sys() / "bus" / "drivers" / driver, sys() / "devices" / device / "driver");
    }
    // A terminal without hardware (virtual console, pseudo-terminal).
    void AddVirtualTerminal(const std::string& name) {
        const fs::path ttyDir = sys() / "devices" / "virtual" / "tty" / name;
        fs::create_directories(ttyDir);
        Link(ttyDir, sys() / "class" / "tty" / name);
    }
    // A USB device's descriptor strings; an empty one is left out.
    void AddUsbDevice(const std::string& device, const std::string& manufacturer,
                      const std::string& product) {
        const fs::path dir = sys() / "devices" / device;
        WriteFile(dir / "idVendor", "1234\n");
        if (!manufacturer.empty()) {
            WriteFile(dir / "manufacturer", manufacturer + "\n");
        }
        if (!product.empty()) {
            WriteFile(dir / "product", product + "\n");
        }
    }
    // A port announced by a virtual target: a link named `name` to `target` and its lock, held
    // while the target serves the line (`served`), in a folder private to this user.
    void Announce(const std::string& name, const fs::path& target, bool served = true) {
        fs::create_directories(announce());
        fs::permissions(m_dir.path(), fs::perms::owner_all);
        fs::permissions(announce(), fs::perms::owner_all);
        fs::create_symlink(target, announce() / name);
        m_locks.push_back(MakePortLock(announce() / name, served));
    }
    fs::path Live(const std::string& name) const { return m_dir.Write(name, ""); }
    fs::path root() const { return m_dir.path(); }

private:
    TempDir m_dir;
    std::vector<int> m_locks;
};

const std::string kUsbBus = "pci0000:00/0000:00:14.0/usb1";

int Enumerate(const SysfsPortSources& sources, PortCollector& collector) {
    return collector.Take(EnumerateSysfsComPorts(sources, collector.ports));
}

TEST(SysfsPortScan, ListsUsbAcmAndOnBoardPortsWithoutPlaceholders) {
    FakeSystem system;
    system.AddUsbDevice(kUsbBus, "Linux xhci-hcd", "xHCI Host Controller");  // the root hub
    system.AddUsbDevice(kUsbBus + "/1-1", "Example Corp", "USB UART");
    system.AddPort("ttyUSB0", kUsbBus + "/1-1/1-1:1.0/ttyUSB0", "usbserial_generic");
    system.AddUsbDevice(kUsbBus + "/1-2", "Sample Works", "CDC Serial");
    system.AddPort("ttyACM0", kUsbBus + "/1-2/1-2:1.0", "cdc_acm");
    system.AddPort("ttyS0", "pnp0/00:01", "serial", "4");
    system.AddPort("ttyS1", "platform/serial8250", "serial8250", "0");
    system.AddPort("ttyS2", "platform/serial8250", "serial8250", "0");
    system.AddPort("ttyS3", "platform/serial8250", "serial8250");  // no type to prove a UART
    system.AddPort("ttyS10", "platform/serial8250", "serial8250", "4");
    system.AddPort("ttyAMA0", "platform/fe201000.serial", "uart-pl011", "0");
    system.AddVirtualTerminal("tty0");
    system.AddVirtualTerminal("console");

    PortCollector collector;
    EXPECT_EQ(Enumerate(system.sources(), collector), 1);
    const std::vector<ListedPort> expected = {
        {"/dev/ttyACM0", "Sample Works CDC Serial"},
        {"/dev/ttyS0", "serial"},
        {"/dev/ttyS10", "serial8250"},
        {"/dev/ttyUSB0", "Example Corp USB UART"},
    };
    EXPECT_EQ(collector.ports, expected);
}

TEST(SysfsPortScan, SerialCoreDevicesDoNotNameThePort) {
    // Newer kernels: terminal -> port device ("port") -> controller ("ctrl") -> the UART.
    FakeSystem system;
    system.AddPort("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "port", "4");
    system.BindDriver("pnp0/00:00/00:00:0", "ctrl");
    system.BindDriver("pnp0/00:00", "serial");
    system.AddPort("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1", "port");
    system.BindDriver("platform/serial8250/serial8250:0", "ctrl");
    system.BindDriver("platform/serial8250", "serial8250");  // a placeholder without a type

    PortCollector collector;
    EXPECT_EQ(Enumerate(system.sources(), collector), 1);
    EXPECT_EQ(collector.ports, (std::vector<ListedPort>{{"/dev/ttyS0", "serial"}}));
}

TEST(SysfsPortScan, NaturalOrderAndFriendlyNameFallbacks) {
    FakeSystem system;
    system.AddUsbDevice(kUsbBus, "Linux xhci-hcd", "xHCI Host Controller");
    system.AddUsbDevice(kUsbBus + "/1-1", "", "Only Product");
    system.AddPort("ttyUSB10", kUsbBus + "/1-1/1-1:1.0/ttyUSB10", "usbserial_generic");
    system.AddUsbDevice(kUsbBus + "/1-2", "", "");  // no descriptor strings
    system.AddPort("ttyUSB2", kUsbBus + "/1-2/1-2:1.0/ttyUSB2", "usbserial_generic");
    system.AddPort("ttyUSB1", "platform/bridge", "");  // neither USB nor a driver
    system.AddPort("serial!port0", "platform/multi", "multiport");

    PortCollector collector;
    EXPECT_EQ(Enumerate(system.sources(), collector), 1);
    const std::vector<ListedPort> expected = {
        {"/dev/serial/port0", "multiport"},
        {"/dev/ttyUSB1", "/dev/ttyUSB1"},
        {"/dev/ttyUSB2", "usbserial_generic"},
        {"/dev/ttyUSB10", "Only Product"},
    };
    EXPECT_EQ(collector.ports, expected);
}

TEST(SysfsPortScan, AnnouncedVirtualPortsFollowLiveLinksOnly) {
    FakeSystem system;
    system.AddPort("ttyS0", "pnp0/00:01", "serial", "4");
    system.Announce("sim-10", system.Live("pts10"));
    system.Announce("sim-9", system.Live("pts9"));
    system.Announce("stale", system.announce() / "gone");   // its line has gone
    system.Announce("killed", system.Live("pts3"), false);  // its target ended, its pty lives on
    fs::create_symlink(system.Live("pts4"), system.announce() / "unlocked");
    system.Live("announce/not-a-link");

    PortCollector collector;
    EXPECT_EQ(Enumerate(system.sources(), collector), 1);
    const std::string folder = system.announce().string();
    const std::vector<ListedPort> expected = {
        {"/dev/ttyS0", "serial"},
        {folder + "/sim-9", kVirtualPortFriendlyName},
        {folder + "/sim-10", kVirtualPortFriendlyName},
    };
    EXPECT_EQ(collector.ports, expected);
}

// Links in a folder that another user owns or may write lead wherever that user chose: the
// whole folder is passed over, though its links look live.
TEST(SysfsPortScan, AnnouncedVirtualPortsOnlyFromAPrivateFolder) {
    struct Case {
        const char* folder;
        std::function<void(const FakeSystem&)> make;
        bool listed;
    };
    const Case cases[] = {
        {"private", [](const FakeSystem&) {}, true},
        {"group-writable",
         [](const FakeSystem& s) {
             fs::permissions(s.announce(), fs::perms::group_write, fs::perm_options::add);
         },
         false},
        {"in a folder others may write",
         [](const FakeSystem& s) {
             fs::permissions(s.root(), fs::perms::others_write, fs::perm_options::add);
         },
         false},
        {"a symbolic link to a private folder",
         [](const FakeSystem& s) {
             fs::rename(s.announce(), s.root() / "real");
             fs::create_directory_symlink("real", s.announce());
         },
         false},
        {"another user's",
         [](const FakeSystem& s) { ASSERT_EQ(chown(s.announce().c_str(), 65534, 65534), 0); },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        if (std::string(c.folder) == "another user's" && geteuid() != 0) {
            continue;  // only root can give a folder away
        }
        FakeSystem system;
        system.Announce("sim", system.Live("pts"));
        c.make(system);
        PortCollector collector;
        EXPECT_EQ(Enumerate(system.sources(), collector), 1);
        EXPECT_EQ(collector.ports.size(), c.listed ? 1u : 0u);
    }
}

TEST(SysfsPortScan, MissingFoldersGiveNoPortsAndBadOnesFail) {
    FakeSystem system;
    PortCollector none;
    EXPECT_EQ(Enumerate(system.sources(), none), 1);
    EXPECT_TRUE(none.ports.empty());

    // A folder that is a file: its error is reported, ports found before stay reported.
    system.AddPort("ttyS0", "pnp0/00:01", "serial", "4");
    WriteFile(system.announce(), "not a folder");
    PortCollector announceBroken;
    EXPECT_EQ(Enumerate(system.sources(), announceBroken), 0);
    EXPECT_EQ(announceBroken.error, "error " + std::to_string(ENOTDIR));
    EXPECT_EQ(announceBroken.ports, (std::vector<ListedPort>{{"/dev/ttyS0", "serial"}}));

    FakeSystem broken;
    WriteFile(broken.sys() / "class" / "tty", "not a folder");
    PortCollector ttyBroken;
    EXPECT_EQ(Enumerate(broken.sources(), ttyBroken), 0);
    EXPECT_EQ(ttyBroken.error, "error " + std::to_string(ENOTDIR));
}

#ifndef _WIN32
// The platform default reads the real /sys and the per-user announce folder.
TEST(SysfsPortScan, DefaultEnumerationIncludesAnnouncedPorts) {
    TempDir runtime;
    const ScopedVariable variable("XDG_RUNTIME_DIR", runtime.path().string());
    const ScopedVariable noNetworkPorts("XDG_CONFIG_HOME", runtime.path().string());
    const fs::path folder = DefaultVirtualPortFolder();
    ASSERT_EQ(folder, runtime.path() / "quillon" / "ports");
    fs::create_directories(folder);
    fs::permissions(folder.parent_path(), fs::perms::owner_all);
    fs::permissions(folder, fs::perms::owner_all);
    fs::create_symlink(runtime.Write("pts", ""), folder / "sim");
    const int lock = MakePortLock(folder / "sim", true);

    PortCollector collector;
    const int result = collector.Take(EnumerateComPorts(collector.ports));
    close(lock);
    EXPECT_EQ(result, 1) << collector.error;
    ASSERT_FALSE(collector.ports.empty());
    EXPECT_EQ(collector.ports.back(),
              (ListedPort{(folder / "sim").string(), kVirtualPortFriendlyName}));
    for (std::size_t k = 0; k + 1 < collector.ports.size(); ++k) {
        EXPECT_EQ(collector.ports[k].name.rfind("/dev/", 0), 0u) << collector.ports[k];
    }
}

// The user's network ports follow the system's, in their list's order, described as such; the
// list lives in the configuration folder (an absolute XDG_CONFIG_HOME, else ~/.config).
TEST(NetworkPortList, ReadFromTheConfigurationAfterTheSystemsPorts) {
    EXPECT_EQ(
        ParseNetworkPortList("# bench\nA\trfc2217://a:1\r\n\nno tab\nB\t\nC\tsocket://c:2", "ports")
            .entries.size(),
        2u);
    TempDir config;
    const ScopedVariable variable("XDG_CONFIG_HOME", config.path().string());
    fs::create_directories(config.path() / "quillon");
    // A NUL inside a name is part of it; a local device is no network port.
    const char text[] =
        "Bench 3\trfc2217://10.0.0.5:7001\nLine\tsocket://[::1]:2000\nA\0B\tsocket://h:1\n"
        "Fixture\t/dev/ttyS9\n";
    config.Write("quillon/ports", std::string(text, sizeof text - 1));
    PortCollector collector;
    EXPECT_EQ(collector.Take(EnumerateComPorts(collector.ports)), 1);
    ASSERT_GE(collector.ports.size(), 4u);
    const std::vector<ListedPort> last(collector.ports.end() - 4, collector.ports.end());
    EXPECT_EQ(last, (std::vector<ListedPort>{{"rfc2217://10.0.0.5:7001", "Bench 3 (network port)"},
                                             {"socket://[::1]:2000", "Line (network port)"},
                                             {"socket://h:1", "A\\x00B (network port)"},
                                             {"/dev/ttyS9", "Fixture"}}));
    const ScopedVariable relative("XDG_CONFIG_HOME", "relative");
    const ScopedVariable home("HOME", "/home/op");
    EXPECT_EQ(NetworkPortListLocation(), "/home/op/.config/quillon/ports");
}

// Lines that are no entry are left out, each with a note naming the list, the line and what is
// wrong; a URL alone is its own name.
TEST(NetworkPortList, LinesThatAreNoEntryAreLeftOutWithANote) {
    const NetworkPortList list = ParseNetworkPortList(
        "rfc2217://box:7001\n"
        "  Spaced \t socket://[::1]:2000 \r\n"
        "no tab\n"
        "B\t\n"
        "C\trfc2217://c:007001\n"
        "D\t/dev/tty\x1b[2J\n",
        "/home/op/.config/quillon/ports");
    EXPECT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(std::tie(list.entries[0].name, list.entries[0].port),
              std::tie("rfc2217://box:7001", "rfc2217://box:7001"));
    EXPECT_EQ(std::tie(list.entries[1].name, list.entries[1].port),
              std::tie("Spaced", "socket://[::1]:2000"));
    const std::string at = "/home/op/.config/quillon/ports: line ";
    const std::vector<std::string> notes = {
        at + "3 left out: neither NAME<TAB>PORT nor a network port's URL: 'no tab'",
        at + "4 left out: no port after the tab",
        at + "5 left out: malformed network port name 'rfc2217://c:007001' (the port has a "
             "leading zero): expected rfc2217://HOST:PORT or socket://HOST:PORT",
        at + "6 left out: a control character in the port '/dev/tty\\x1B[2J'"};
    EXPECT_EQ(list.notes, notes);
}

// A list that is no regular file, or too large, is not read: its note names it and says why,
// and nothing waits or grows (a FIFO without a writer, a link to an endless device).
TEST(NetworkPortList, FilesThatAreNotReadAreNamed) {
    TempDir config;
    const ScopedVariable variable("XDG_CONFIG_HOME", config.path().string());
    const fs::path list = config.path() / "quillon" / "ports";
    const std::vector<std::pair<std::function<void()>, std::string>> kinds = {
        {[&] { ASSERT_EQ(mkfifo(list.c_str(), 0600), 0); }, " is not a regular file"},
        {[&] { fs::create_symlink("/dev/zero", list); }, " is not a regular file"},
        {[&] { fs::create_directory(list); }, " is a folder"},
        {[&] { fs::resize_file(config.Write("quillon/ports", ""), (1u << 20) + 1); },
         " is larger than 1 MiB"},
    };
    for (const auto& [make, reason] : kinds) {
        SCOPED_TRACE(reason);
        fs::remove_all(config.path() / "quillon");
        fs::create_directories(list.parent_path());
        make();
        PortCollector collector;
        std::vector<std::string> notes;
        EXPECT_EQ(collector.Take(EnumerateComPorts(collector.ports, &notes)), 1);
        EXPECT_EQ(notes,
                  std::vector<std::string>{list.string() + reason + ": its ports are not listed"});
    }
}

// A runtime folder is used only where XDG_RUNTIME_DIR names one that is there by an absolute
// path; otherwise the temporary folder's quillon-<user id>, never a folder made up on the spot.
TEST(SysfsPortScan, DefaultFolderNeedsAnExistingAbsoluteRuntimeFolder) {
    TempDir runtime;
    const fs::path fallback =
        fs::temp_directory_path() / ("quillon-" + std::to_string(getuid())) / "ports";
    const std::pair<std::optional<std::string>, fs::path> cases[] = {
        {runtime.path().string(), runtime.path() / "quillon" / "ports"},
        {std::nullopt, fallback},
        {"", fallback},
        {"relative", fallback},
        {(runtime.path() / "missing").string(), fallback},
    };
    for (const auto& [value, expected] : cases) {
        SCOPED_TRACE(value.value_or("(unset)"));
        const ScopedVariable variable("XDG_RUNTIME_DIR", value);
        EXPECT_EQ(fs::path(DefaultVirtualPortFolder()), expected);
    }
}
#endif

}  // namespace
