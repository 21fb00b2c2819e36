#include "platform/system_registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ports/registry_port_walk.h"
#include "tests/support/memory_registry.h"
#include "tests/support/port_collector.h"

using namespace quillon;

// The Win32 registry backend on a real registry (Wine's, in CI): the keys are made by the
// test below HKEY_LOCAL_MACHINE and removed again.

namespace {

const std::string kPortsGuid = "{4D36E978-E325-11CE-BFC1-08002BE10318}";

using Values = std::vector<std::pair<std::string, std::string>>;

// A key tree of the test's own below HKEY_LOCAL_MACHINE, removed with everything in it.
class ScratchKeys {
public:
    explicit ScratchKeys(std::string root) : m_root(std::move(root)) { Remove(); }
    ~ScratchKeys() { Remove(); }
    ScratchKeys(const ScratchKeys&) = delete;
    ScratchKeys& operator=(const ScratchKeys&) = delete;

    const std::string& root() const { return m_root; }

    // Creates `path` below the root (and every key above it) with string values; a value
    // given as raw bytes (`bytes` true) is stored without a terminator.
    void Add(const std::string& path, const Values& values = {}, bool bytes = false) const {
        const std::string full = path.empty() ? m_root : m_root + "\\" + path;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS)
            << full;
        for (const auto& [name, text] : values) {
            const DWORD size = static_cast<DWORD>(text.size() + (bytes ? 0 : 1));
            EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(text.c_str()), size),
                      ERROR_SUCCESS);
        }
        RegCloseKey(key);
    }

private:
    void Remove() const { RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_root.c_str()); }
    std::string m_root;
};

std::string UniqueName(const char* stem) {
    return stem + std::to_string(GetCurrentProcessId());
}

// The same tree in both registries, every list in the order the real registry keeps it
// (sorted by name; the in-memory one keeps the order of creation).
void BuildTree(const ScratchKeys& real, MemoryRegistry& memory) {
    const std::vector<std::pair<std::string, Values>> keys = {
        {"", {{"A value with a long name", "data"}, {"empty", ""}, {"first", "1"}}},
        {"Alpha", {{"PortName", "COM3"}}},
        {"Alpha\\Deeper", {}},
        {"Beta key with a name longer than sixteen characters", {}},
        {"Gamma", {}},
    };
    for (const auto& [path, values] : keys) {
        real.Add(path, values);
        const std::string full = path.empty() ? real.root() : real.root() + "\\" + path;
        memory.AddKey(full);
        for (const auto& [name, text] : values) {
            memory.SetString(full, name, text);
        }
    }
}

// What a registry call answered, as text: the reply, or the error's text.
std::string Answer(const Result<RegistryReply>& reply) {
    if (!reply) {
        return reply.error().text;
    }
    switch (*reply) {
        case RegistryReply::kDone:
            return "done";
        case RegistryReply::kMissing:
            return "missing";
        case RegistryReply::kMoreData:
            return "more data";
        default:
            return "no more items";
    }
}

bool Done(const Result<RegistryReply>& reply) {
    return reply && *reply == RegistryReply::kDone;
}

// One registry call and what it gave back, for comparing two registries.
struct Outcome {
    std::string error;
    std::string text;    // name or data on success
    std::uint32_t size;  // the size reported back (data bytes for values)
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
    return out << "{error " << outcome.error << ", '" << outcome.text << "', " << outcome.size
               << "}";
}

// Runs the calls that the port enumeration makes, with buffers too small, just large enough
// and past the end, and records what the registry answers.
std::vector<Outcome> Exercise(Registry& registry, const std::string& root) {
    std::vector<Outcome> outcomes;
    RegistryKey key = 0;
    RegistryKey listOnly = 0;
    outcomes.push_back({Answer(registry.OpenKey(Registry::kLocalMachine, root.c_str(),
                                                RegistryAccess::kRead, key)),
                        "", 0});
    outcomes.push_back({Answer(registry.OpenKey(Registry::kLocalMachine, root.c_str(),
                                                RegistryAccess::kEnumerateSubKeys, listOnly)),
                        "", 0});
    RegistryKey missing = 0;
    outcomes.push_back(
        {Answer(registry.OpenKey(key, "No such key", RegistryAccess::kRead, missing)), "", 0});

    for (std::uint32_t index = 0; index < 6; ++index) {
        for (std::uint32_t room : {4u, 128u}) {
            char name[128] = {};
            std::uint32_t chars = room;
            const Result<RegistryReply> reply = registry.EnumKey(listOnly, index, name, chars);
            outcomes.push_back({Answer(reply), Done(reply) ? std::string(name, chars) : "",
                                Done(reply) ? chars : 0});
        }
    }
    for (std::uint32_t index = 0; index < 4; ++index) {
        for (const auto& [nameRoom, dataRoom] :
             std::vector<std::pair<std::uint32_t, std::uint32_t>>{{3, 64}, {64, 1}, {64, 64}}) {
            char name[64] = {};
            std::uint8_t data[64] = {};
            std::uint32_t chars = nameRoom;
            std::uint32_t bytes = dataRoom;
            const Result<RegistryReply> reply =
                registry.EnumValue(key, index, name, chars, data, bytes);
            std::string text;
            if (Done(reply)) {
                text = std::string(name, chars) + "=" +
                       std::string(reinterpret_cast<const char*>(data), bytes);
            }
            // With room for the name, a short data buffer reports the size the data needs.
            const bool sizeMeaningful = Done(reply) || nameRoom == 64;
            outcomes.push_back({Answer(reply), text, sizeMeaningful ? bytes : 0});
        }
    }

    RegistryKey alpha = 0;
    outcomes.push_back(
        {Answer(registry.OpenKey(key, "ALPHA", RegistryAccess::kRead, alpha)), "", 0});
    for (std::uint32_t room : {2u, 5u, 128u}) {
        std::uint8_t data[128] = {};
        std::uint32_t bytes = room;
        const Result<RegistryReply> reply = registry.QueryValue(alpha, "PORTNAME", data, bytes);
        outcomes.push_back(
            {Answer(reply), Done(reply) ? reinterpret_cast<const char*>(data) : "", bytes});
    }
    std::uint8_t data[128] = {};
    std::uint32_t bytes = sizeof data;
    outcomes.push_back({Answer(registry.QueryValue(alpha, "FriendlyName", data, bytes)), "", 0});
    bytes = sizeof data;
    outcomes.push_back({Answer(registry.QueryValue(listOnly, "first", data, bytes)), "", 0});

    for (RegistryKey open : {alpha, listOnly, key}) {
        registry.CloseKey(open);
    }
    return outcomes;
}

TEST(Win32Registry, AnswersLikeTheInMemoryRegistryTheWalkIsTestedWith) {
    ScratchKeys real("SOFTWARE\\" + UniqueName("QuillonRegistryTest"));
    MemoryRegistry memory;
    BuildTree(real, memory);
    SystemRegistry win32;
    const std::vector<Outcome> expected = Exercise(memory, real.root());
    const std::vector<Outcome> actual = Exercise(win32, real.root());
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i], expected[i]) << "call " << i;
    }
}

// A string stored without its terminator reads as the text, with or without one added (the
// walk accepts both; which one depends on the system).
TEST(Win32Registry, StringWithoutTerminatorReadsAsItsText) {
    ScratchKeys real("SOFTWARE\\" + UniqueName("QuillonRawValueTest"));
    real.Add("", {{"unterminated", "COM9"}}, true);
    SystemRegistry registry;
    RegistryKey key = 0;
    ASSERT_TRUE(Done(registry.OpenKey(Registry::kLocalMachine, real.root().c_str(),
                                      RegistryAccess::kRead, key)));
    std::uint8_t data[16] = {};
    std::uint32_t bytes = sizeof data;
    EXPECT_TRUE(Done(registry.QueryValue(key, "unterminated", data, bytes)));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 4), "COM9");
    EXPECT_TRUE(bytes == 4 || (bytes == 5 && data[4] == 0)) << bytes;
    registry.CloseKey(key);
}

// The real device tree plus instances of the test's own. Whatever else the system lists,
// the test's ports come in the registry's order with their names, and the others of its
// instances (a printer port, a keyboard, a port without a name) do not come at all.
TEST(Win32Registry, EnumerateComPortsWalksTheRealDeviceTree) {
    const std::string enumerator = UniqueName("QUILLONTEST");
    ScratchKeys tree("SYSTEM\\CurrentControlSet\\Enum\\" + enumerator);
    tree.Add(
        "PNP0501\\1",
        {{"Class", "Ports"}, {"PortName", "COM201"}, {"FriendlyName", "Test Serial (COM201)"}});
    tree.Add("PNP0400\\1", {{"Class", "Ports"}, {"PortName", "LPT7"}});
    tree.Add("PNP0303\\1", {{"Class", "Keyboard"}, {"PortName", "COM209"}});
    tree.Add("USB\\A1", {{"ClassGUID", kPortsGuid}});
    tree.Add("USB\\A1\\Device Parameters", {{"PortName", "COM202"}});
    tree.Add("USB\\A2", {{"Class", "PORTS"}});
    tree.Add("USB\\B3", {{"Class", "ports"}, {"PortName", "com203"}});
    // A description beyond the 8-bit code page, stored through the wide call.
    tree.Add("PNP0501\\2", {{"Class", "Ports"}, {"PortName", "COM204"}});
    HKEY instance = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (tree.root() + "\\PNP0501\\2").c_str(), 0,
                            KEY_SET_VALUE, &instance),
              ERROR_SUCCESS);
    const std::wstring description = L"Pr\u00FCfadapter \u00E4 \u03A9 (COM204)";
    ASSERT_EQ(RegSetValueExW(instance, L"FriendlyName", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(description.c_str()),
                             static_cast<DWORD>((description.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(instance);

    PortCollector collector;
    ASSERT_EQ(collector.Take(EnumerateComPorts(collector.ports)), 1) << collector.error;
    std::vector<ListedPort> ours;
    for (const ListedPort& port : collector.ports) {
        if (port.name.size() == 6 && port.name.compare(3, 2, "20") == 0) {
            ours.push_back(port);
        }
    }
    EXPECT_EQ(ours, (std::vector<ListedPort>{{"COM201", "Test Serial (COM201)"},
                                             {"COM204",
                                              "Pr\xC3\xBC"
                                              "fadapter \xC3\xA4 \xCE\xA9 (COM204)"},
                                             {"COM202", "COM202"},
                                             {"com203", "com203"}}));
}

TEST(Win32Registry, SerialDeviceMapIsReadThroughTheSameBackend) {
    const std::string map = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, map.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string valueName = "\\Device\\" + UniqueName("QuillonTest");
    // A port name longer than the first 32-byte data buffer.
    const std::string port = "COM" + std::string(40, '7');
    ASSERT_EQ(RegSetValueExA(key, valueName.c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(port.c_str()),
                             static_cast<DWORD>(port.size() + 1)),
              ERROR_SUCCESS);

    SystemRegistry registry;
    PortCollector collector;
    const int result = collector.Take(EnumerateRegistryComPorts(registry, collector.ports));
    RegDeleteValueA(key, valueName.c_str());
    RegCloseKey(key);
    EXPECT_EQ(result, 1) << collector.error;
    EXPECT_NE(std::find(collector.ports.begin(), collector.ports.end(), ListedPort{port, port}),
              collector.ports.end());
}

}  // namespace
