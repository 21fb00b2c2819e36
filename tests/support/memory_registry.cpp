#include "tests/support/memory_registry.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "helpers/ascii_case.h"

namespace quillon {

namespace {

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

std::string JoinPath(const std::string& parent, const std::string& child) {
    return parent.empty() ? child : child.empty() ? parent : parent + "\\" + child;
}

// Copies a name with its terminator when `chars` (room including the terminator) suffices.
bool CopyName(const std::string& source, char* name, std::uint32_t& chars) {
    if (source.size() + 1 > chars) {
        return false;
    }
    std::memcpy(name, source.c_str(), source.size() + 1);
    chars = static_cast<std::uint32_t>(source.size());
    return true;
}

// Copies value data when `dataBytes` (the buffer's size) suffices; returns its size either way.
RegistryReply CopyData(const std::string& bytes, std::uint8_t* data, std::uint32_t& dataBytes) {
    const bool fits = bytes.size() <= dataBytes;
    dataBytes = static_cast<std::uint32_t>(bytes.size());
    if (!fits) {
        return RegistryReply::kMoreData;
    }
    if (!bytes.empty()) {
        std::memcpy(data, bytes.data(), bytes.size());
    }
    return RegistryReply::kDone;
}

Unexpected<Error> InvalidHandle() {
    return Fail(ErrorKind::kFailed, "error 6");
}

}  // namespace

struct MemoryRegistry::Node {
    std::string name;
    std::vector<std::unique_ptr<Node>> children;
    std::vector<std::pair<std::string, std::string>> values;
};

MemoryRegistry::MemoryRegistry() : m_root(std::make_unique<Node>()) {}

MemoryRegistry::~MemoryRegistry() = default;

void MemoryRegistry::AddKey(const std::string& path) {
    Find(m_root.get(), path, true);
}

void MemoryRegistry::SetString(const std::string& path, const std::string& name,
                               const std::string& text) {
    SetBytes(path, name, std::string(text.c_str(), text.size() + 1));
}

void MemoryRegistry::SetBytes(const std::string& path, const std::string& name,
                              const std::string& bytes) {
    auto& values = NodeAt(path).values;
    const auto it = std::find_if(values.begin(), values.end(), [&](const auto& value) {
        return EqualIgnoringCase(value.first, name);
    });
    if (it != values.end()) {
        it->second = bytes;
    } else {
        values.emplace_back(name, bytes);
    }
}

MemoryRegistry::Node* MemoryRegistry::Find(Node* from, const std::string& path, bool create) {
    Node* node = from;
    for (const std::string& part : SplitPath(path)) {
        const auto it =
            std::find_if(node->children.begin(), node->children.end(),
                         [&](const auto& child) { return EqualIgnoringCase(child->name, part); });
        if (it != node->children.end()) {
            node = it->get();
        } else if (create) {
            node->children.push_back(std::make_unique<Node>(Node{part, {}, {}}));
            node = node->children.back().get();
        } else {
            return nullptr;
        }
    }
    return node;
}

MemoryRegistry::Node& MemoryRegistry::NodeAt(const std::string& path) {
    return *Find(m_root.get(), path, true);
}

const MemoryRegistry::Handle* MemoryRegistry::HandleOf(RegistryKey key) {
    static const Handle kRootHandle{nullptr, {}, RegistryAccess::kRead};
    if (key == kLocalMachine) {
        return &kRootHandle;
    }
    const auto it = m_handles.find(key);
    if (it == m_handles.end()) {
        ++m_invalidKeyUses;
        return nullptr;
    }
    return &it->second;
}

std::optional<Result<RegistryReply>> MemoryRegistry::Record(RegistryOperation operation,
                                                            std::string path, std::string name) {
    m_calls.push_back(RegistryCall{m_calls.size(), operation, std::move(path), std::move(name)});
    return m_failureHook ? m_failureHook(m_calls.back()) : std::nullopt;
}

Result<RegistryReply> MemoryRegistry::OpenKey(RegistryKey parent, const char* subKey,
                                              RegistryAccess access, RegistryKey& key) {
    const Handle* handle = HandleOf(parent);
    const std::string requested = subKey != nullptr ? subKey : "";
    const std::string path = handle != nullptr ? JoinPath(handle->path, requested) : requested;
    if (std::optional<Result<RegistryReply>> failed = Record(RegistryOperation::kOpenKey, path)) {
        return *failed;
    }
    if (handle == nullptr) {
        return InvalidHandle();
    }
    Node* node = Find(handle->node != nullptr ? handle->node : m_root.get(), requested, false);
    if (node == nullptr) {
        return RegistryReply::kMissing;
    }
    key = m_nextKey++;
    m_handles.emplace(key, Handle{node, path, access});
    ++m_openedKeys;
    return RegistryReply::kDone;
}

std::optional<Result<RegistryReply>> MemoryRegistry::Enter(RegistryOperation operation,
                                                           RegistryKey key, const std::string& name,
                                                           Node*& node) {
    const Handle* handle = HandleOf(key);
    if (std::optional<Result<RegistryReply>> failed =
            Record(operation, handle != nullptr ? handle->path : "?", name)) {
        return failed;
    }
    if (handle == nullptr) {
        return InvalidHandle();
    }
    if (operation != RegistryOperation::kEnumKey && handle->access != RegistryAccess::kRead) {
        return RegistryDenied();
    }
    node = handle->node != nullptr ? handle->node : m_root.get();
    return std::nullopt;
}

Result<RegistryReply> MemoryRegistry::EnumKey(RegistryKey key, std::uint32_t index, char* name,
                                              std::uint32_t& nameChars) {
    Node* node = nullptr;
    if (std::optional<Result<RegistryReply>> failed =
            Enter(RegistryOperation::kEnumKey, key, {}, node)) {
        return *failed;
    }
    if (index >= node->children.size()) {
        return RegistryReply::kNoMoreItems;
    }
    return CopyName(node->children[index]->name, name, nameChars) ? RegistryReply::kDone
                                                                  : RegistryReply::kMoreData;
}

Result<RegistryReply> MemoryRegistry::EnumValue(RegistryKey key, std::uint32_t index, char* name,
                                                std::uint32_t& nameChars, std::uint8_t* data,
                                                std::uint32_t& dataBytes) {
    Node* node = nullptr;
    if (std::optional<Result<RegistryReply>> failed =
            Enter(RegistryOperation::kEnumValue, key, {}, node)) {
        return *failed;
    }
    if (index >= node->values.size()) {
        return RegistryReply::kNoMoreItems;
    }
    const auto& [valueName, bytes] = node->values[index];
    if (valueName.size() + 1 > nameChars) {
        dataBytes = static_cast<std::uint32_t>(bytes.size());
        return RegistryReply::kMoreData;
    }
    const RegistryReply reply = CopyData(bytes, data, dataBytes);
    if (reply == RegistryReply::kDone) {
        CopyName(valueName, name, nameChars);
    }
    return reply;
}

Result<RegistryReply> MemoryRegistry::QueryValue(RegistryKey key, const char* name,
                                                 std::uint8_t* data, std::uint32_t& dataBytes) {
    const std::string valueName = name != nullptr ? name : "";
    Node* node = nullptr;
    if (std::optional<Result<RegistryReply>> failed =
            Enter(RegistryOperation::kQueryValue, key, valueName, node)) {
        return *failed;
    }
    const auto it = std::find_if(node->values.begin(), node->values.end(), [&](const auto& value) {
        return EqualIgnoringCase(value.first, valueName);
    });
    if (it == node->values.end()) {
        return RegistryReply::kMissing;
    }
    return CopyData(it->second, data, dataBytes);
}

void MemoryRegistry::CloseKey(RegistryKey key) {
    const Handle* handle = HandleOf(key);
    // A failure the hook gives a close changes nothing: the key is closed all the same.
    [[maybe_unused]] const std::optional<Result<RegistryReply>> ignored =
        Record(RegistryOperation::kCloseKey, handle != nullptr ? handle->path : "?");
    if (handle == nullptr) {
        return;
    }
    if (key != kLocalMachine) {
        m_handles.erase(key);
        ++m_closedKeys;
    }
}

}  // namespace quillon
