#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/debug_channel.h"
#include "platform/message_box.h"

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // Writes `content` byte for byte to `name` inside the folder and returns its full path.
    std::string Write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path m_path;
};

// Records every message box shown while it lives (confirming each at once).
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    const std::vector<std::string>& messages() const { return m_messages; }
    void clear() { m_messages.clear(); }

private:
    std::vector<std::string> m_messages;
    MessageBoxHandler m_previous;
};
