#include "ports/registry_port_walk.h"

#include <algorithm>
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

    Result<RegistryReply> Open(RegistryKey parent, const char* path, RegistryAccess access) {
        RegistryKey key = 0;
        Result<RegistryReply> reply = m_registry.OpenKey(parent, path, access, key);
        if (reply && *reply == RegistryReply::kDone) {
            m_key = key;
            m_open = true;
        }
        return reply;
    }
    RegistryKey get() const { return m_key; }

private:
    Registry& m_registry;
    RegistryKey m_key = 0;
    bool m_open = false;
};

// A reply the walk cannot go on from at that point, and a buffer that would grow past its
// limit, as errors. Their texts carry the system's code for them, as the registry's own errors
// do.
Unexpected<Error> ReplyError(RegistryReply reply) {
    switch (reply) {
        case RegistryReply::kMissing:
            return Fail(ErrorKind::kNotFound, "error 2");
        case RegistryReply::kMoreData:
            return Fail(ErrorKind::kFailed, "error 234");
        default:
            return Fail(ErrorKind::kFailed, "error 259");
    }
}
Unexpected<Error> BufferLimit() {
    return Fail(ErrorKind::kOutOfMemory, "error 8");
}

class RegistryPortWalk {
public:
    RegistryPortWalk(Registry& registry, std::vector<PortEntry>& ports)
        : m_registry(registry), m_ports(ports) {}

    // The ports of the serial device map not reported yet (by the device tree walk before it).
    Status ListSerialMap();
    Status WalkDeviceTree(const char* root);

private:
    Status WalkLevel(RegistryKey key, int level);
    Status VisitInstance(RegistryKey instance);
    // kDone with the name, or kNoMoreItems.
    Result<RegistryReply> ReadSubKeyName(RegistryKey key, std::uint32_t index, std::string& name);
    // kDone with the text, or kMissing.
    Result<RegistryReply> ReadString(RegistryKey key, const char* name, std::string& text);
    bool ValueReads(RegistryKey key, const char* name, std::uint32_t bytes,
                    std::string_view expected);
    void Report(const std::string& portName, const std::string& friendlyName);

    Registry& m_registry;
    std::vector<PortEntry>& m_ports;
    RegistryBuffer m_keyName{kKeyNameChars};
    RegistryBuffer m_string{kStringBytes};
    std::vector<std::string> m_reported;  // the port names reported so far
};

Status RegistryPortWalk::ListSerialMap() {
    OpenedKey map(m_registry);
    const Result<RegistryReply> opened =
        map.Open(Registry::kLocalMachine, kSerialCommPath, RegistryAccess::kRead);
    if (!opened) {
        return Fail(opened.error());
    }
    if (*opened == RegistryReply::kMissing) {
        return {};  // no serial port driver has started: no ports
    }
    RegistryBuffer name(kSerialMapBytes);
    RegistryBuffer data(kSerialMapBytes);
    for (std::uint32_t index = 0;;) {
        std::uint32_t nameChars = name.size();
        std::uint32_t dataBytes = data.size();
        const Result<RegistryReply> reply = m_registry.EnumValue(
            map.get(), index, name.chars(), nameChars, data.bytes(), dataBytes);
        if (!reply) {
            return Fail(reply.error());
        }
        if (*reply == RegistryReply::kMoreData) {
            // Either buffer may be the short one: grow both and read the same index again.
            if (!name.Grow() || !data.GrowTo(dataBytes)) {
                return BufferLimit();
            }
            continue;
        }
        if (*reply == RegistryReply::kNoMoreItems) {
            return {};
        }
        if (*reply != RegistryReply::kDone) {
            return ReplyError(*reply);
        }
        const std::string port = data.Text(dataBytes);
        const bool reported = std::any_of(
            m_ports.begin(), m_ports.end(),
            [&port](const PortEntry& entry) { return EqualIgnoringCase(entry.name, port); });
        if (!reported) {
            Report(port, port);
        }
        ++index;
    }
}

Status RegistryPortWalk::WalkDeviceTree(const char* root) {
    OpenedKey rootKey(m_registry);
    const Result<RegistryReply> opened =
        rootKey.Open(Registry::kLocalMachine, root, RegistryAccess::kEnumerateSubKeys);
    if (!opened) {
        return Fail(opened.error());
    }
    if (*opened != RegistryReply::kDone) {
        return ReplyError(*opened);
    }
    return WalkLevel(rootKey.get(), 1);
}

// Levels: 1 enumerator, 2 device, 3 instance.
Status RegistryPortWalk::WalkLevel(RegistryKey key, int level) {
    for (std::uint32_t index = 0;; ++index) {
        std::string name;
        const Result<RegistryReply> listed = ReadSubKeyName(key, index, name);
        if (!listed) {
            return Fail(listed.error());
        }
        if (*listed == RegistryReply::kNoMoreItems) {
            return {};
        }
        OpenedKey child(m_registry);
        const Result<RegistryReply> opened =
            child.Open(key, name.c_str(),
                       level < 3 ? RegistryAccess::kEnumerateSubKeys : RegistryAccess::kRead);
        if (!opened) {
            return Fail(opened.error());
        }
        if (*opened != RegistryReply::kDone) {
            return ReplyError(*opened);  // a subkey just listed has gone
        }
        const Status step =
            level < 3 ? WalkLevel(child.get(), level + 1) : VisitInstance(child.get());
        if (!step) {
            return step;
        }
    }
}

Status RegistryPortWalk::VisitInstance(RegistryKey instance) {
    if (!ValueReads(instance, "CLASS", kClassBytes, kPortsClass) &&
        !ValueReads(instance, "CLASSGUID", kClassGuidBytes, kPortsClassGuid)) {
        return {};
    }

    std::string portName;
    Result<RegistryReply> read = ReadString(instance, "PORTNAME", portName);
    if (read && *read == RegistryReply::kMissing) {
        OpenedKey parameters(m_registry);
        const Result<RegistryReply> opened =
            parameters.Open(instance, "DEVICE PARAMETERS", RegistryAccess::kRead);
        if (!opened || *opened != RegistryReply::kDone) {
            return {};
        }
        read = ReadString(parameters.get(), "PORTNAME", portName);
        if (read && *read == RegistryReply::kMissing) {
            return {};
        }
    }
    if (!read) {
        return Fail(read.error());
    }
    // Printer ports belong to the same device class; only COM ports are wanted.
    if (portName.size() < 3 || !EqualIgnoringCase(std::string_view(portName).substr(0, 3), "COM")) {
        return {};
    }

    std::string friendlyName;
    const Result<RegistryReply> described = ReadString(instance, "FRIENDLYNAME", friendlyName);
    if (!described) {
        return Fail(described.error());
    }
    if (*described == RegistryReply::kMissing) {
        friendlyName = portName;
    }
    Report(portName, friendlyName);
    return {};
}

Result<RegistryReply> RegistryPortWalk::ReadSubKeyName(RegistryKey key, std::uint32_t index,
                                                       std::string& name) {
    for (;;) {
        std::uint32_t chars = m_keyName.size();
        Result<RegistryReply> reply = m_registry.EnumKey(key, index, m_keyName.chars(), chars);
        if (reply && *reply == RegistryReply::kMoreData) {
            if (!m_keyName.Grow()) {
                return BufferLimit();
            }
            continue;
        }
        if (reply && *reply == RegistryReply::kDone) {
            name = m_keyName.Text(chars);
        } else if (reply && *reply == RegistryReply::kMissing) {
            return ReplyError(*reply);
        }
        return reply;
    }
}

Result<RegistryReply> RegistryPortWalk::ReadString(RegistryKey key, const char* name,
                                                   std::string& text) {
    for (;;) {
        std::uint32_t bytes = m_string.size();
        Result<RegistryReply> reply = m_registry.QueryValue(key, name, m_string.bytes(), bytes);
        if (reply && *reply == RegistryReply::kMoreData) {
            // Normally the registry reports the size it needs; when it does not, grow anyway
            // so that the next attempt differs.
            const bool grown = bytes > m_string.size() ? m_string.GrowTo(bytes) : m_string.Grow();
            if (!grown) {
                return BufferLimit();
            }
            continue;
        }
        if (reply && *reply == RegistryReply::kDone) {
            text = m_string.Text(bytes);
        } else if (reply && *reply == RegistryReply::kNoMoreItems) {
            return ReplyError(*reply);
        }
        return reply;
    }
}

bool RegistryPortWalk::ValueReads(RegistryKey key, const char* name, std::uint32_t bytes,
                                  std::string_view expected) {
    RegistryBuffer buffer(bytes);
    std::uint32_t size = buffer.size();
    const Result<RegistryReply> reply = m_registry.QueryValue(key, name, buffer.bytes(), size);
    return reply && *reply == RegistryReply::kDone &&
           EqualIgnoringCase(buffer.Text(size), expected);
}

void RegistryPortWalk::Report(const std::string& portName, const std::string& friendlyName) {
    m_ports.push_back({portName, friendlyName});
}

}  // namespace

Status EnumerateRegistryComPorts(Registry& registry, std::vector<PortEntry>& ports) {
    RegistryPortWalk walk(registry, ports);
    // Ports without a hardware entry (virtual and network port drivers, Wine's ports) are only
    // in the serial device map: they follow the walk's ports.
    if (Status walked = walk.WalkDeviceTree(kNtEnumRoot); !walked) {
        return walked;
    }
    return walk.ListSerialMap();
}

}  // namespace quillon
