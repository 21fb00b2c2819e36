#include "ports/registry_port_walk.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "helpers/ascii_case.h"

namespace quillon {

namespace {

constexpr const char* kSerialCommPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* kNtEnumRoot = "SYSTEM\\CURRENTCONTROLSET\\ENUM";
constexpr const char* kPortsClass = "PORTS";
constexpr const char* kPortsClassGuid = "{4D36E978-E325-11CE-BFC1-08002BE10318}";

// "CLASS" gets just room for "PORTS" and its terminator, so a longer class name does not
// read and the class GUID decides; "CLASSGUID" gets room for a braced GUID.
constexpr std::uint32_t kClassBytes = 6;
constexpr std::uint32_t kClassGuidBytes = 39;
constexpr std::uint32_t kSerialMapBytes = 32;
constexpr std::uint32_t kKeyNameChars = 128;
constexpr std::uint32_t kStringBytes = 128;
// No buffer grows past this: a registry that keeps asking for more ends the listing.
constexpr std::uint32_t kMaxBufferBytes = 1u << 20;

// A buffer the registry writes names or data into; its size is what the registry is told.
class RegistryBuffer {
public:
    explicit RegistryBuffer(std::uint32_t size) : m_bytes(size) {}

    std::uint32_t size() const { return static_cast<std::uint32_t>(m_bytes.size()); }
    char* chars() { return m_bytes.data(); }
    std::uint8_t* bytes() { return reinterpret_cast<std::uint8_t*>(m_bytes.data()); }

    // Twice the size plus 2; false when that would pass the limit.
    bool Grow() { return Resize(2 * size() + 2); }
    // At least `wanted` bytes; false when that would pass the limit.
    bool GrowTo(std::uint32_t wanted) { return wanted <= size() || Resize(wanted); }

    // The text the registry stored: up to `length` bytes, cut at the first terminator. The
    // registry does not promise a terminator, so none is relied on.
    std::string Text(std::uint32_t length) const {
        const auto begin = m_bytes.begin();
        const auto end = begin + std::min<std::size_t>(length, m_bytes.size());
        return std::string(begin, std::find(begin, end, '\0'));
    }

private:
    bool Resize(std::uint32_t size) {
        if (size > kMaxBufferBytes) {
            return false;
        }
        m_bytes.resize(size);
        return true;
    }

    std::vector<char> m_bytes;
};

// A key that is closed when it goes out of scope, on every way out.
class OpenedKey {
public:
    explicit OpenedKey(Registry& registry) : m_registry(registry) {}
    ~OpenedKey() {
        if (m_open) {
            m_registry.CloseKey(m_key);
        }
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;

    ComPortError Open(RegistryKey parent, const char* path, RegistryAccess access) {
        RegistryKey key = 0;
        const ComPortError error = m_registry.OpenKey(parent, path, access, key);
        if (error == kErrorSuccess) {
            m_key = key;
            m_open = true;
        }
        return error;
    }
    RegistryKey get() const { return m_key; }

private:
    Registry& m_registry;
    RegistryKey m_key = 0;
    bool m_open = false;
};

// How a part of the listing ended: go on, stopped by the callback, or failed.
struct Step {
    ComPortError error = kErrorSuccess;
    bool stop = false;

    bool Ends() const { return stop || error != kErrorSuccess; }
    static Step Fail(ComPortError code) { return Step{code, false}; }
};

class RegistryPortWalk {
public:
    RegistryPortWalk(Registry& registry, ComPortCallback callback, std::uintptr_t context)
        : m_registry(registry), m_callback(callback), m_context(context) {}

    // The ports of the serial device map not reported yet (by the device tree walk before it).
    Step ListSerialMap();
    Step WalkDeviceTree(const char* root);

private:
    Step WalkLevel(RegistryKey key, int level);
    Step VisitInstance(RegistryKey instance);
    ComPortError ReadSubKeyName(RegistryKey key, std::uint32_t index, std::string& name);
    ComPortError ReadString(RegistryKey key, const char* name, std::string& text);
    bool ValueReads(RegistryKey key, const char* name, std::uint32_t bytes,
                    std::string_view expected);
    Step Report(const std::string& portName, const std::string& friendlyName);

    Registry& m_registry;
    ComPortCallback m_callback;
    std::uintptr_t m_context;
    RegistryBuffer m_keyName{kKeyNameChars};
    RegistryBuffer m_string{kStringBytes};
    std::vector<std::string> m_reported;  // the port names reported so far
};

Step RegistryPortWalk::ListSerialMap() {
    OpenedKey map(m_registry);
    ComPortError error = map.Open(Registry::kLocalMachine, kSerialCommPath, RegistryAccess::kRead);
    if (error == kErrorFileNotFound) {
        return {};  // no serial port driver has started: no ports
    }
    if (error != kErrorSuccess) {
        return Step::Fail(error);
    }
    RegistryBuffer name(kSerialMapBytes);
    RegistryBuffer data(kSerialMapBytes);
    for (std::uint32_t index = 0;;) {
        std::uint32_t nameChars = name.size();
        std::uint32_t dataBytes = data.size();
        error = m_registry.EnumValue(map.get(), index, name.chars(), nameChars, data.bytes(),
                                     dataBytes);
        if (error == kErrorMoreData) {
            // Either buffer may be the short one: grow both and read the same index again.
            if (!name.Grow() || !data.GrowTo(dataBytes)) {
                return Step::Fail(kErrorNotEnoughMemory);
            }
            continue;
        }
        if (error == kErrorNoMoreItems) {
            return {};
        }
        if (error != kErrorSuccess) {
            return Step::Fail(error);
        }
        const std::string port = data.Text(dataBytes);
        const bool reported =
            std::any_of(m_reported.begin(), m_reported.end(),
                        [&port](const std::string& name) { return EqualIgnoringCase(name, port); });
        if (!reported) {
            if (const Step step = Report(port, port); step.Ends()) {
                return step;
            }
        }
        ++index;
    }
}

Step RegistryPortWalk::WalkDeviceTree(const char* root) {
    OpenedKey rootKey(m_registry);
    const ComPortError error =
        rootKey.Open(Registry::kLocalMachine, root, RegistryAccess::kEnumerateSubKeys);
    if (error != kErrorSuccess) {
        return Step::Fail(error);
    }
    return WalkLevel(rootKey.get(), 1);
}

// Levels: 1 enumerator, 2 device, 3 instance.
Step RegistryPortWalk::WalkLevel(RegistryKey key, int level) {
    for (std::uint32_t index = 0;; ++index) {
        std::string name;
        ComPortError error = ReadSubKeyName(key, index, name);
        if (error == kErrorNoMoreItems) {
            return {};
        }
        if (error != kErrorSuccess) {
            return Step::Fail(error);
        }
        OpenedKey child(m_registry);
        error = child.Open(key, name.c_str(),
                           level < 3 ? RegistryAccess::kEnumerateSubKeys : RegistryAccess::kRead);
        if (error != kErrorSuccess) {
            return Step::Fail(error);
        }
        const Step step =
            level < 3 ? WalkLevel(child.get(), level + 1) : VisitInstance(child.get());
        if (step.Ends()) {
            return step;
        }
    }
}

Step RegistryPortWalk::VisitInstance(RegistryKey instance) {
    if (!ValueReads(instance, "CLASS", kClassBytes, kPortsClass) &&
        !ValueReads(instance, "CLASSGUID", kClassGuidBytes, kPortsClassGuid)) {
        return {};
    }

    std::string portName;
    ComPortError error = ReadString(instance, "PORTNAME", portName);
    if (error == kErrorFileNotFound) {
        OpenedKey parameters(m_registry);
        if (parameters.Open(instance, "DEVICE PARAMETERS", RegistryAccess::kRead) !=
            kErrorSuccess) {
            return {};
        }
        error = ReadString(parameters.get(), "PORTNAME", portName);
        if (error == kErrorFileNotFound) {
            return {};
        }
    }
    if (error != kErrorSuccess) {
        return Step::Fail(error);
    }
    // Printer ports belong to the same device class; only COM ports are wanted.
    if (portName.size() < 3 || !EqualIgnoringCase(std::string_view(portName).substr(0, 3), "COM")) {
        return {};
    }

    std::string friendlyName;
    error = ReadString(instance, "FRIENDLYNAME", friendlyName);
    if (error == kErrorFileNotFound) {
        friendlyName = portName;
    } else if (error != kErrorSuccess) {
        return Step::Fail(error);
    }
    return Report(portName, friendlyName);
}

ComPortError RegistryPortWalk::ReadSubKeyName(RegistryKey key, std::uint32_t index,
                                              std::string& name) {
    for (;;) {
        std::uint32_t chars = m_keyName.size();
        const ComPortError error = m_registry.EnumKey(key, index, m_keyName.chars(), chars);
        if (error == kErrorMoreData) {
            if (!m_keyName.Grow()) {
                return kErrorNotEnoughMemory;
            }
            continue;
        }
        if (error == kErrorSuccess) {
            name = m_keyName.Text(chars);
        }
        return error;
    }
}

ComPortError RegistryPortWalk::ReadString(RegistryKey key, const char* name, std::string& text) {
    for (;;) {
        std::uint32_t bytes = m_string.size();
        const ComPortError error = m_registry.QueryValue(key, name, m_string.bytes(), bytes);
        if (error == kErrorMoreData) {
            // Normally the registry reports the size it needs; when it does not, grow anyway
            // so that the next attempt differs.
            const bool grown = bytes > m_string.size() ? m_string.GrowTo(bytes) : m_string.Grow();
            if (!grown) {
                return kErrorNotEnoughMemory;
            }
            continue;
        }
        if (error == kErrorSuccess) {
            text = m_string.Text(bytes);
        }
        return error;
    }
}

bool RegistryPortWalk::ValueReads(RegistryKey key, const char* name, std::uint32_t bytes,
                                  std::string_view expected) {
    RegistryBuffer buffer(bytes);
    std::uint32_t size = buffer.size();
    return m_registry.QueryValue(key, name, buffer.bytes(), size) == kErrorSuccess &&
           EqualIgnoringCase(buffer.Text(size), expected);
}

Step RegistryPortWalk::Report(const std::string& portName, const std::string& friendlyName) {
    m_reported.push_back(portName);
    const ComPortInfo info{portName.c_str(), friendlyName.c_str()};
    return Step{kErrorSuccess, m_callback(m_context, &info) == 0};
}

ComPortError ListPorts(Registry& registry, ComPortCallback callback, std::uintptr_t context) {
    RegistryPortWalk walk(registry, callback, context);
    // Ports without a hardware entry (virtual and network port drivers, Wine's ports) are only
    // in the serial device map: they follow the walk's ports.
    const Step step = walk.WalkDeviceTree(kNtEnumRoot);
    return step.Ends() ? step.error : walk.ListSerialMap().error;
}

}  // namespace

int EnumerateRegistryComPorts(Registry& registry, ComPortCallback callback,
                              std::uintptr_t context) {
    ComPortError error = kErrorInvalidParameter;
    if (callback != nullptr) {
        try {
            error = ListPorts(registry, callback, context);
        } catch (const std::bad_alloc&) {
            error = kErrorNotEnoughMemory;  // every key is closed by then
        }
    }
    // Set only now, after every key is closed, so that nothing overwrites it on the way out.
    if (error != kErrorSuccess) {
        SetLastComPortError(error);
        return 0;
    }
    return 1;
}

}  // namespace quillon
