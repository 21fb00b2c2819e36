#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace quillon {

enum class RegistryOperation { kOpenKey, kEnumKey, kEnumValue, kQueryValue, kCloseKey };

// One call made to a MemoryRegistry, as its failure hook and its call log see it.
struct RegistryCall {
    std::size_t number = 0;  // position among all calls to this registry, from 0
    RegistryOperation operation = RegistryOperation::kOpenKey;
    std::string path;  // the key worked on, below HKEY_LOCAL_MACHINE; for kOpenKey the key to open
    std::string name;  // the value's name for kQueryValue, empty otherwise
};

// Access refused, as the Win32 registry reports it.
inline Unexpected<Error> RegistryDenied() {
    return Fail(ErrorKind::kAccessDenied, "error 5");
}

// A registry held in memory, for exercising code that walks a registry: keys with string
// values below HKEY_LOCAL_MACHINE, enumerated in the order they were added, names compared
// without regard to letter case. It answers like the Win32 registry, including kMoreData for
// short buffers and RegistryDenied() for reading values through a key opened only to enumerate
// subkeys. A failure hook can make any call answer anything, and the registry
// counts the keys opened and closed and every use of a key that is not open.
class MemoryRegistry : public Registry {
public:
    // What the call answers instead of doing its work; nothing: the call goes on.
    using FailureHook =
        std::function<std::optional<Result<RegistryReply>>(const RegistryCall& call)>;

    MemoryRegistry();
    ~MemoryRegistry() override;

    // Creates the key at `path` (backslash-separated) and any missing key above it.
    void AddKey(const std::string& path);
    // Sets a value to `text` stored with its terminator, as string values normally are.
    void SetString(const std::string& path, const std::string& name, const std::string& text);
    // Sets a value to exactly `bytes`.
    void SetBytes(const std::string& path, const std::string& name, const std::string& bytes);

    // Every later call is first passed to `hook`; an answer it gives is returned as the call's
    // result and the call does nothing else (a failed close still closes the key).
    void SetFailureHook(FailureHook hook) { m_failureHook = std::move(hook); }

    const std::vector<RegistryCall>& calls() const { return m_calls; }
    std::size_t openedKeys() const { return m_openedKeys; }
    std::size_t closedKeys() const { return m_closedKeys; }
    std::size_t keysOpenNow() const { return m_handles.size(); }
    std::size_t invalidKeyUses() const { return m_invalidKeyUses; }

    Result<RegistryReply> OpenKey(RegistryKey parent, const char* subKey, RegistryAccess access,
                                  RegistryKey& key) override;
    Result<RegistryReply> EnumKey(RegistryKey key, std::uint32_t index, char* name,
                                  std::uint32_t& nameChars) override;
    Result<RegistryReply> EnumValue(RegistryKey key, std::uint32_t index, char* name,
                                    std::uint32_t& nameChars, std::uint8_t* data,
                                    std::uint32_t& dataBytes) override;
    Result<RegistryReply> QueryValue(RegistryKey key, const char* name, std::uint8_t* data,
                                     std::uint32_t& dataBytes) override;
    void CloseKey(RegistryKey key) override;

private:
    struct Node;
    struct Handle {
        Node* node;
        std::string path;
        RegistryAccess access;
    };

    Node* Find(Node* from, const std::string& path, bool create);
    Node& NodeAt(const std::string& path);
    const Handle* HandleOf(RegistryKey key);
    // Records a call on `key` and checks the key: the failure hook's answer, an invalid handle
    // for a key that is not open, RegistryDenied() for reading values through a key opened
    // for subkeys only; else nothing, with the key's node.
    std::optional<Result<RegistryReply>> Enter(RegistryOperation operation, RegistryKey key,
                                               const std::string& name, Node*& node);
    std::optional<Result<RegistryReply>> Record(RegistryOperation operation, std::string path,
                                                std::string name = {});

    std::unique_ptr<Node> m_root;
    std::map<RegistryKey, Handle> m_handles;
    RegistryKey m_nextKey = 0x1000;
    FailureHook m_failureHook;
    std::vector<RegistryCall> m_calls;
    std::size_t m_openedKeys = 0;
    std::size_t m_closedKeys = 0;
    std::size_t m_invalidKeyUses = 0;
};

}  // namespace quillon
