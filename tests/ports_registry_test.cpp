#include "ports/registry_port_walk.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/memory_registry.h"
#include "tests/support/port_collector.h"

using namespace quillon;

namespace {

const std::string kEnumRoot = "SYSTEM\\CURRENTCONTROLSET\\ENUM";
const std::string kSerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const std::string kPortsGuid = "{4D36E978-E325-11CE-BFC1-08002BE10318}";

using Values = std::vector<std::pair<std::string, std::string>>;

// An instance key below the device tree root `root` with string values.
void AddInstance(MemoryRegistry& registry, const std::string& path, const Values& values,
                 const std::string& root = kEnumRoot) {
    registry.AddKey(root + "\\" + path);
    for (const auto& [name, text] : values) {
        registry.SetString(root + "\\" + path, name, text);
    }
}

int Enumerate(MemoryRegistry& registry, PortCollector& collector) {
    return collector.Take(EnumerateRegistryComPorts(registry, collector.ports));
}

void ExpectAllKeysClosed(const MemoryRegistry& registry) {
    EXPECT_EQ(registry.keysOpenNow(), 0u);
    EXPECT_EQ(registry.openedKeys(), registry.closedKeys());
    EXPECT_EQ(registry.invalidKeyUses(), 0u);
}

// Answers every call for which `match` holds with `answer`.
template <typename Match>
void FailWhere(MemoryRegistry& registry, const Result<RegistryReply>& answer, Match match) {
    registry.SetFailureHook([=](const RegistryCall& call) {
        return match(call) ? std::optional<Result<RegistryReply>>(answer) : std::nullopt;
    });
}

// A device tree with one instance for every way an instance can be looked at.
void BuildMixedTree(MemoryRegistry& registry) {
    AddInstance(registry, "ACPI\\PNP0501\\1",
                {{"CLASS", "Ports"}, {"PORTNAME", "COM1"}, {"FRIENDLYNAME", "Serial A (COM1)"}});
    AddInstance(registry, "ACPI\\PNP0400\\1", {{"CLASS", "ports"}, {"PORTNAME", "LPT1"}});
    AddInstance(registry, "ACPI\\PNP0303\\1", {{"CLASS", "Keyboard"}});
    AddInstance(registry, "USB\\VID_1234&PID_5678\\A1", {{"CLASSGUID", kPortsGuid}});
    registry.SetString(kEnumRoot + "\\USB\\VID_1234&PID_5678\\A1\\DEVICE PARAMETERS", "PORTNAME",
                       "COM7");
    AddInstance(registry, "USB\\VID_1234&PID_5678\\A2", {{"CLASS", "PORTS"}});  // no port name
    AddInstance(registry, "USB\\VID_9999&PID_0001\\B", {{"CLASS", "Ports"}, {"PORTNAME", "com12"}});
    registry.AddKey(kEnumRoot + "\\ROOT");  // an enumerator without devices
}

const std::vector<ListedPort> kMixedTreePorts = {
    {"COM1", "Serial A (COM1)"}, {"COM7", "COM7"}, {"com12", "com12"}};

// The device tree's ports first, then those only the serial device map knows (each name once).
TEST(RegistryPortWalk, TheDeviceTreeThenTheSerialMapsOwnPorts) {
    MemoryRegistry registry;
    AddInstance(registry, "ACPI\\PNP0501\\0", {{"CLASS", "Ports"}, {"PORTNAME", "COM6"}});
    registry.SetString(kSerialComm, "\\Device\\Serial0", "COM9");
    registry.SetString(kSerialComm, "\\Device\\Serial1", "com6");  // found by the walk
    PortCollector collector;
    EXPECT_EQ(Enumerate(registry, collector), 1);
    EXPECT_EQ(collector.ports, (std::vector<ListedPort>{{"COM6", "COM6"}, {"COM9", "COM9"}}));
    ExpectAllKeysClosed(registry);
}

TEST(RegistryPortWalk, SerialMapListsValuesInOrder) {
    MemoryRegistry registry;
    registry.AddKey(kEnumRoot);  // a device tree without ports
    PortCollector collector;
    EXPECT_EQ(Enumerate(registry, collector), 1);  // no SERIALCOMM key: nothing, success
    EXPECT_TRUE(collector.ports.empty());

    registry.SetString(kSerialComm, "\\Device\\Serial1", "COM2");
    registry.SetString(kSerialComm, "\\Device\\Serial0", "COM1");
    registry.SetString(kSerialComm, "\\Device\\Other", "com2");  // one port: listed once
    // Longer than the first buffers: the name must grow twice, the data once.
    const std::string longName = "\\Device\\" + std::string(70, 'N');
    const std::string longPort = "COM" + std::string(40, '7');
    registry.SetString(kSerialComm, longName, longPort);
    EXPECT_EQ(Enumerate(registry, collector), 1);
    const std::vector<ListedPort> expected = {
        {"COM2", "COM2"}, {"COM1", "COM1"}, {longPort, longPort}};
    EXPECT_EQ(collector.ports, expected);
    ExpectAllKeysClosed(registry);
}

TEST(RegistryPortWalk, SerialMapErrorsFailWithTheirCode) {
    MemoryRegistry registry;
    registry.AddKey(kEnumRoot);
    registry.SetString(kSerialComm, "\\Device\\Serial0", "COM1");
    registry.SetString(kSerialComm, "\\Device\\Serial1", "COM2");

    FailWhere(registry, RegistryDenied(), [](const RegistryCall& call) {
        return call.operation == RegistryOperation::kOpenKey && call.path == kSerialComm;
    });
    PortCollector denied;
    EXPECT_EQ(Enumerate(registry, denied), 0);
    EXPECT_EQ(denied.error, "error 5");

    int enumerations = 0;
    registry.SetFailureHook([&](const RegistryCall& call) {
        return call.operation == RegistryOperation::kEnumValue && ++enumerations == 2
                   ? std::optional<Result<RegistryReply>>(Fail(ErrorKind::kFailed, "error 1015"))
                   : std::nullopt;
    });
    PortCollector broken;
    EXPECT_EQ(Enumerate(registry, broken), 0);
    EXPECT_EQ(broken.error, "error 1015");
    EXPECT_EQ(broken.ports, (std::vector<ListedPort>{{"COM1", "COM1"}}));
    ExpectAllKeysClosed(registry);
}

TEST(RegistryPortWalk, DeviceTreeFindsPortsByClassAndPortName) {
    MemoryRegistry registry;
    BuildMixedTree(registry);
    PortCollector collector;
    EXPECT_EQ(Enumerate(registry, collector), 1);
    EXPECT_EQ(collector.ports, kMixedTreePorts);
    ExpectAllKeysClosed(registry);
}

TEST(RegistryPortWalk, PortTestReadsClassIntoSixBytesThenTheGuid) {
    MemoryRegistry registry;
    const std::string lowerGuid = "{4d36e978-e325-11ce-bfc1-08002be10318}";
    AddInstance(registry, "A\\D\\0", {{"CLASS", "PortsX"}, {"PORTNAME", "COM1"}});
    AddInstance(registry, "A\\D\\1",
                {{"CLASS", "PortsX"}, {"CLASSGUID", lowerGuid}, {"PORTNAME", "COM2"}});
    AddInstance(registry, "A\\D\\2",
                {{"CLASS", "Modem"}, {"CLASSGUID", kPortsGuid}, {"PORTNAME", "COM3"}});
    AddInstance(registry, "A\\D\\3",
                {{"CLASS", "pOrTs"},
                 {"CLASSGUID", "{00000000-0000-0000-0000-000000000000}"},
                 {"PORTNAME", "COM4"}});
    AddInstance(registry, "A\\D\\4", {{"CLASSGUID", kPortsGuid + "X"}, {"PORTNAME", "COM5"}});
    registry.AddKey(kEnumRoot + "\\A\\D\\5");
    registry.SetBytes(kEnumRoot + "\\A\\D\\5", "CLASS", "PORTS");  // stored without terminator
    registry.SetString(kEnumRoot + "\\A\\D\\5", "PORTNAME", "COM6");
    // "PORTS" and more behind a terminator: too long for the class buffer, so not a port.
    registry.AddKey(kEnumRoot + "\\A\\D\\6");
    registry.SetBytes(kEnumRoot + "\\A\\D\\6", "CLASS", std::string("PORTS\0xy", 8));
    registry.SetString(kEnumRoot + "\\A\\D\\6", "PORTNAME", "COM7");
    PortCollector collector;
    EXPECT_EQ(Enumerate(registry, collector), 1);
    const std::vector<ListedPort> expected = {
        {"COM2", "COM2"}, {"COM3", "COM3"}, {"COM4", "COM4"}, {"COM6", "COM6"}};
    EXPECT_EQ(collector.ports, expected);
}

TEST(RegistryPortWalk, KeepsRegistryOrderDuplicatesAndLongNames) {
    MemoryRegistry registry;
    const std::string longInstance(300, 'I');
    const std::string longFriendly(400, 'F');
    AddInstance(registry, "X\\D\\0", {{"CLASS", "Ports"}, {"PORTNAME", "COM3"}});
    AddInstance(registry, "X\\D\\" + longInstance,
                {{"CLASS", "Ports"}, {"PORTNAME", "COM1"}, {"FRIENDLYNAME", longFriendly}});
    AddInstance(registry, "A\\D\\0", {{"CLASS", "Ports"}, {"PORTNAME", "COM3"}});
    registry.AddKey(kEnumRoot + "\\A\\D\\1");
    registry.SetString(kEnumRoot + "\\A\\D\\1", "CLASS", "Ports");
    registry.SetBytes(kEnumRoot + "\\A\\D\\1", "PORTNAME", "COM8");  // no terminator
    registry.SetBytes(kEnumRoot + "\\A\\D\\1", "FRIENDLYNAME", std::string("Eight\0junk", 10));
    PortCollector collector;
    EXPECT_EQ(Enumerate(registry, collector), 1);
    const std::vector<ListedPort> expected = {
        {"COM3", "COM3"}, {"COM1", longFriendly}, {"COM3", "COM3"}, {"COM8", "Eight"}};
    EXPECT_EQ(collector.ports, expected);
    ExpectAllKeysClosed(registry);
}

TEST(RegistryPortWalk, ErrorsEndTheWalkAndKeepEarlierPorts) {
    struct Case {
        const char* what;
        RegistryOperation operation;
        std::string path;
        std::string name;
        std::size_t portsBefore;
    };
    const std::vector<Case> cases = {
        {"root missing", RegistryOperation::kOpenKey, kEnumRoot, "", 0},
        {"instance not readable", RegistryOperation::kOpenKey,
         kEnumRoot + "\\USB\\VID_1234&PID_5678\\A1", "", 1},
        {"device list", RegistryOperation::kEnumKey, kEnumRoot + "\\USB", "", 1},
        {"instance list", RegistryOperation::kEnumKey, kEnumRoot + "\\USB\\VID_9999&PID_0001", "",
         2},
        {"port name", RegistryOperation::kQueryValue, kEnumRoot + "\\USB\\VID_9999&PID_0001\\B",
         "PORTNAME", 2},
        {"port name below parameters", RegistryOperation::kQueryValue,
         kEnumRoot + "\\USB\\VID_1234&PID_5678\\A1\\DEVICE PARAMETERS", "PORTNAME", 1},
        {"friendly name", RegistryOperation::kQueryValue, kEnumRoot + "\\ACPI\\PNP0501\\1",
         "FRIENDLYNAME", 0},
    };
    for (const Case& c : cases) {
        MemoryRegistry registry;
        BuildMixedTree(registry);
        FailWhere(registry, RegistryDenied(), [&](const RegistryCall& call) {
            return call.operation == c.operation && call.path == c.path && call.name == c.name;
        });
        PortCollector collector;
        EXPECT_EQ(Enumerate(registry, collector), 0) << c.what;
        EXPECT_EQ(collector.error, "error 5") << c.what;
        EXPECT_EQ(collector.ports, std::vector<ListedPort>(
                                       kMixedTreePorts.begin(),
                                       kMixedTreePorts.begin() + static_cast<long>(c.portsBefore)))
            << c.what;
        ExpectAllKeysClosed(registry);
    }
}

TEST(RegistryPortWalk, MissingRootAndUnopenableParametersKey) {
    MemoryRegistry empty;
    PortCollector none;
    EXPECT_EQ(Enumerate(empty, none), 0);
    EXPECT_EQ(none.error, "error 2");

    MemoryRegistry registry;
    BuildMixedTree(registry);
    FailWhere(registry, RegistryDenied(), [](const RegistryCall& call) {
        return call.operation == RegistryOperation::kOpenKey &&
               call.path.ends_with("\\DEVICE PARAMETERS");
    });
    PortCollector collector;
    EXPECT_EQ(Enumerate(registry, collector), 1);  // that instance is passed over
    EXPECT_EQ(collector.ports, (std::vector<ListedPort>{kMixedTreePorts[0], kMixedTreePorts[2]}));
    ExpectAllKeysClosed(registry);
}

TEST(RegistryPortWalk, EndlessMoreDataEndsWithNotEnoughMemory) {
    for (const RegistryOperation operation :
         {RegistryOperation::kEnumKey, RegistryOperation::kQueryValue}) {
        MemoryRegistry registry;
        BuildMixedTree(registry);
        FailWhere(registry, RegistryReply::kMoreData, [=](const RegistryCall& call) {
            return call.operation == operation && call.name != "CLASS";
        });
        PortCollector collector;
        EXPECT_EQ(Enumerate(registry, collector), 0);
        EXPECT_EQ(collector.error, "error 8");
        ExpectAllKeysClosed(registry);
    }
    MemoryRegistry map;
    map.AddKey(kEnumRoot);
    map.SetString(kSerialComm, "\\Device\\Serial0", "COM1");
    FailWhere(map, RegistryReply::kMoreData, [](const RegistryCall& call) {
        return call.operation == RegistryOperation::kEnumValue;
    });
    PortCollector collector;
    EXPECT_EQ(Enumerate(map, collector), 0);
    EXPECT_EQ(collector.error, "error 8");
    ExpectAllKeysClosed(map);
}

// Every call of a complete listing fails in turn, with a code the walk passes over in some
// places and fails on in others: every key opened must be closed again, and a failure must
// report the injected code.
TEST(RegistryPortWalk, EveryKeyIsClosedWhicheverCallFails) {
    const auto build = [](MemoryRegistry& registry, bool serialMap) {
        if (serialMap) {
            registry.AddKey(kEnumRoot);
            registry.SetString(kSerialComm, "\\Device\\Serial0", "COM1");
            registry.SetString(kSerialComm, "\\Device\\Serial1", "COM2");
        } else {
            BuildMixedTree(registry);
        }
    };
    for (const bool serialMap : {false, true}) {
        MemoryRegistry reference;
        build(reference, serialMap);
        PortCollector complete;
        ASSERT_EQ(Enumerate(reference, complete), 1);
        const std::size_t callCount = reference.calls().size();
        ASSERT_GT(callCount, serialMap ? 4u : 40u);

        const std::vector<std::pair<Result<RegistryReply>, std::string>> injected = {
            {RegistryDenied(), "error 5"}, {RegistryReply::kMissing, "error 2"}};
        for (const auto& [code, text] : injected) {
            std::size_t failures = 0;
            for (std::size_t failing = 0; failing < callCount; ++failing) {
                MemoryRegistry registry;
                build(registry, serialMap);
                FailWhere(registry, code,
                          [=](const RegistryCall& call) { return call.number == failing; });
                PortCollector collector;
                const int result = Enumerate(registry, collector);
                SCOPED_TRACE("call " + std::to_string(failing) + ", " + text);
                ExpectAllKeysClosed(registry);
                EXPECT_LE(collector.ports.size(), complete.ports.size());
                if (result == 0) {
                    ++failures;
                    EXPECT_EQ(collector.error, text);
                }
            }
            EXPECT_GT(failures, 0u);
        }
    }
}

}  // namespace
