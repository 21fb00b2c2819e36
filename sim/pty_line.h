#pragma once

#include <cstddef>
#include <string>

namespace quillon {

// The target's end of a serial line: the master side of a pseudo-terminal, whose slave device
// the host opens as its serial port. The line keeps a slave descriptor of its own, so that the
// master never sees the slave closed (no EIO while no host is connected) and the raw settings
// stay. It watches the slave device node for opens and closes to know whether a host is
// connected; when the last host closes, it clears the host's exclusive-use mark (a pseudo-
// terminal keeps it, unlike a real port, and a host that is not root could not open the line
// again) and drops what the host never read.
class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    bool Open(std::string* error);
    void Close();

    int masterFd() const { return m_master; }
    // -1 where the platform cannot watch the device node.
    int watchFd() const { return m_watch; }
    const std::string& slavePath() const { return m_slavePath; }

    // Reads the pending open/close notices of the slave device node; true when the last host
    // closed the line at least once since the previous call (it may have opened it again).
    bool ReadHostChanges();
    int hostOpenCount() const { return m_hostOpens; }
    // Bytes written to the line that the host has not read yet (0 where the platform cannot
    // tell).
    std::size_t UnreadByHost() const;

private:
    void ReleaseHost();

    int m_master = -1;
    int m_heldSlave = -1;
    int m_watch = -1;
    int m_hostOpens = 0;
    std::string m_slavePath;
};

// A symbolic link that announces the line under a stable name: made atomically (replacing a
// stale link of an earlier run, never anything else) and removed only while it still points
// to this line's device. Beside it, the lock file VirtualPortLockPath names, held exclusively
// while the link lives, tells port lists that the line is served: a link left by a target that
// was killed has no holder. The lock goes with the link, again only while it is still this
// target's own.
class PortLink {
public:
    PortLink() = default;
    ~PortLink() { Remove(); }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Points the link at `target`; a link already made here keeps its lock.
    bool Point(const std::string& linkPath, const std::string& target, std::string* error);
    void Remove();
    const std::string& path() const { return m_path; }

private:
    bool HoldLock(const std::string& linkPath, std::string* error);
    void ReleaseLock();

    std::string m_path;
    std::string m_target;
    std::string m_lockPath;
    int m_lock = -1;  // the held lock file's descriptor
};

}  // namespace quillon
