#pragma once

#include <string>

#include "helpers/result.h"

namespace quillon {

// A symbolic link that announces a virtual target's line under a stable name: made atomically
// (replacing a stale link of an earlier run, never anything else) and removed only while it
// still points to this line's device. Beside it, the lock file VirtualPortLockPath names, held
// exclusively while the link lives, tells port lists that the line is served: a link left by a
// target that was killed has no holder. The lock goes with the link, again only while it is
// still this target's own.
class PortLink {
public:
    PortLink() = default;
    ~PortLink() { Remove(); }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Points the link at `target`; a link already made here keeps its lock.
    [[nodiscard]] Status Point(const std::string& linkPath, const std::string& target);
    void Remove();
    const std::string& path() const { return m_path; }

private:
    [[nodiscard]] Status HoldLock(const std::string& linkPath);
    void ReleaseLock();

    std::string m_path;
    std::string m_target;
    std::string m_lockPath;
    int m_lock = -1;  // the held lock file's descriptor
};

}  // namespace quillon
