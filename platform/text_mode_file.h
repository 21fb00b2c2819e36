#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace quillon {

// A file opened read-only in the C runtime's text mode, with the same rules on every platform:
// a CR LF pair reads as a single LF, a CR on its own stays, and a Ctrl-Z byte (0x1A) ends the
// file. Reads ask the OS for large blocks, so many small Read calls cost little.
class TextModeFile {
public:
    TextModeFile() = default;
    ~TextModeFile();
    TextModeFile(const TextModeFile&) = delete;
    TextModeFile& operator=(const TextModeFile&) = delete;

    // Opens `path` for reading; false when it cannot be opened or is not a regular file (a
    // device, a FIFO, a directory). Never blocks.
    [[nodiscard]] bool Open(const std::string& path);
    bool IsOpen() const { return m_file != nullptr; }
    void Close();

    // Reads at most `count` characters into `dest`. Returns the number read, 0 at the end of
    // the file (or at a Ctrl-Z), -1 on a read error.
    [[nodiscard]] long Read(std::uint8_t* dest, std::size_t count);

    // As Read, without a copy: `view` is set to the (at most `count`) characters where they
    // lie in the file's own buffer, valid until the next Read, ReadView or ReadRestRaw. A call
    // may give fewer characters than are left: a stretch ends before a line end's CR or the
    // buffer's end.
    [[nodiscard]] long ReadView(const std::uint8_t*& view, std::size_t count);

    // Every byte read from the file goes to `observer` as it comes, untranslated (a digest
    // of the file as read, for example). Set before the first Read.
    void ObserveRawBytes(std::function<void(const std::uint8_t*, std::size_t)> observer) {
        m_observer = std::move(observer);
    }
    // Where the file's raw bytes come from in place of this file's own reads (a read-ahead on
    // another thread that reads them with ReadRaw): `next` gives the file's next stretch, valid
    // until its next call; empty at the file's end, none when the system failed to read it.
    // Set before the first Read.
    using RawSource = std::function<std::optional<std::span<const std::uint8_t>>()>;
    void ReadRawFrom(RawSource next) { m_source = std::move(next); }
    // Reads up to `count` raw bytes of the file into `into`, for such a source: the count, 0 at
    // the end, -1 when the system failed. Only the source's reader calls it while a source is
    // set.
    [[nodiscard]] long ReadRaw(std::uint8_t* into, std::size_t count);
    // Reads the rest of the file (past a Ctrl-Z too) for the observer only. False on a read
    // error.
    [[nodiscard]] bool ReadRestRaw();

private:
    // Makes sure at least one raw byte is buffered; false at the end or on an error.
    bool FillRaw();
    // Takes the next raw bytes (from m_source, else into the own buffer) into m_raw: their
    // count, 0 at the end, -1 when the system failed.
    long ReadNextRaw();

    static constexpr std::size_t kRawSize = 64 * 1024;
    std::FILE* m_file = nullptr;
    std::uint8_t m_ownRaw[kRawSize];
    const std::uint8_t* m_raw = m_ownRaw;  // the raw bytes read last
    std::size_t m_rawPos = 0;
    std::size_t m_rawLength = 0;
    bool m_ended = false;  // Ctrl-Z seen or the file's end reached
    bool m_failed = false;
    bool m_atFileEnd = false;  // the file itself has been read to its end
    std::function<void(const std::uint8_t*, std::size_t)> m_observer;
    RawSource m_source;
};

}  // namespace quillon
