#include "platform/text_mode_file.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <sys/stat.h>

#include "platform/utf8_path.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillon {

namespace {
constexpr std::uint8_t kCtrlZ = 0x1A;
constexpr std::uint8_t kCr = '\r';
constexpr std::uint8_t kLf = '\n';
}  // namespace

TextModeFile::~TextModeFile() {
    Close();
}

bool TextModeFile::Open(const std::string& path) {
    Close();
#ifdef _WIN32
    // The C runtime's fopen takes the 8-bit code page; the path is UTF-8.
    m_file = ::_wfopen(PathFromUtf8(path).c_str(), L"rb");
    if (m_file == nullptr) {
        return false;
    }
    struct _stat64 status {};
    if (::_fstat64(::_fileno(m_file), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) {
        Close();
        return false;
    }
#else
    // Opened without blocking (a FIFO would wait for a writer), then checked to be what a file
    // to read must be: a regular file that ends. Reads then block as usual.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    m_file = ::fdopen(fd, "rb");
    if (m_file == nullptr) {
        ::close(fd);
        return false;
    }
#endif
    // Our own buffer is the only one: the stream reads straight into it.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    m_rawPos = m_rawLength = 0;
    m_ended = m_failed = m_atFileEnd = false;
    return true;
}

void TextModeFile::Close() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool TextModeFile::FillRaw() {
    if (m_rawPos < m_rawLength) {
        return true;
    }
    if (m_ended || m_failed || m_file == nullptr) {
        return false;
    }
    m_rawPos = 0;
    m_rawLength = 0;
    const long got = ReadNextRaw();
    if (got <= 0) {
        if (got < 0) {
            m_failed = true;
        } else {
            m_ended = true;
            m_atFileEnd = true;
        }
        return false;
    }
    m_rawLength = static_cast<std::size_t>(got);
    if (m_observer) {
        m_observer(m_raw, m_rawLength);
    }
    return true;
}

long TextModeFile::ReadNextRaw() {
    if (m_source) {
        const std::optional<std::span<const std::uint8_t>> next = m_source();
        if (!next) {
            return -1;
        }
        m_raw = next->data();
        return static_cast<long>(next->size());
    }
    m_raw = m_ownRaw;
    return ReadRaw(m_ownRaw, kRawSize);
}

long TextModeFile::ReadRaw(std::uint8_t* into, std::size_t count) {
    const std::size_t got = std::fread(into, 1, count, m_file);
    return got == 0 && std::ferror(m_file) ? -1 : static_cast<long>(got);
}

bool TextModeFile::ReadRestRaw() {
    if (m_failed || m_file == nullptr) {
        return false;
    }
    while (!m_atFileEnd) {
        const long got = ReadNextRaw();
        if (got < 0) {
            m_failed = true;
            return false;
        }
        if (got == 0) {
            m_atFileEnd = true;
        } else if (m_observer) {
            m_observer(m_raw, static_cast<std::size_t>(got));
        }
    }
    m_ended = true;
    m_rawPos = m_rawLength = 0;
    return true;
}

long TextModeFile::Read(std::uint8_t* dest, std::size_t count) {
    std::size_t produced = 0;
    while (produced < count) {
        if (!FillRaw()) {
            break;
        }
        // Copy the longest stretch that holds neither CR nor Ctrl-Z in one go.
        const std::uint8_t* start = m_raw + m_rawPos;
        std::size_t span = std::min(count - produced, m_rawLength - m_rawPos);
        if (const void* cr = std::memchr(start, kCr, span)) {
            span = static_cast<std::size_t>(static_cast<const std::uint8_t*>(cr) - start);
        }
        if (const void* eof = std::memchr(start, kCtrlZ, span)) {
            span = static_cast<std::size_t>(static_cast<const std::uint8_t*>(eof) - start);
        }
        std::memcpy(dest + produced, start, span);
        produced += span;
        m_rawPos += span;
        if (produced == count || m_rawPos == m_rawLength) {
            continue;
        }
        const std::uint8_t special = m_raw[m_rawPos];
        if (special == kCtrlZ) {
            m_ended = true;
            m_rawPos = m_rawLength = 0;
            break;
        }
        // A CR: drop it when an LF follows, looking into the next block if need be.
        ++m_rawPos;
        if (FillRaw() && m_raw[m_rawPos] == kLf) {
            continue;  // the LF is copied on the next round
        }
        dest[produced++] = kCr;
    }
    if (produced == 0 && m_failed) {
        return -1;
    }
    return static_cast<long>(produced);
}

long TextModeFile::ReadView(const std::uint8_t*& view, std::size_t count) {
    // A lone CR is no byte of the buffer once the buffer has been refilled to look behind it.
    static constexpr std::uint8_t kLoneCr = kCr;
    view = m_raw;
    if (count == 0) {
        return 0;
    }
    if (!FillRaw()) {
        return m_failed ? -1 : 0;
    }
    const std::uint8_t* start = m_raw + m_rawPos;
    std::size_t span = std::min(count, m_rawLength - m_rawPos);
    if (const void* cr = std::memchr(start, kCr, span)) {
        span = static_cast<std::size_t>(static_cast<const std::uint8_t*>(cr) - start);
    }
    if (const void* eof = std::memchr(start, kCtrlZ, span)) {
        span = static_cast<std::size_t>(static_cast<const std::uint8_t*>(eof) - start);
    }
    if (span > 0) {
        view = start;
        m_rawPos += span;
        return static_cast<long>(span);
    }
    if (*start == kCtrlZ) {
        m_ended = true;
        m_rawPos = m_rawLength = 0;
        return 0;
    }
    // A CR: dropped when an LF follows, looking into the next block if need be.
    ++m_rawPos;
    if (FillRaw() && m_raw[m_rawPos] == kLf) {
        view = m_raw + m_rawPos++;
        return 1;
    }
    view = &kLoneCr;
    return 1;
}

}  // namespace quillon
