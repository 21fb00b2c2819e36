#include "image/hex_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>

#include "helpers/text_format.h"
#include "image/background_digest.h"
#include "platform/text_mode_file.h"
#include "platform/utf8_path.h"

namespace quillon {

namespace {

// The reader's texts, shown to the operator as they stand.
constexpr const char* kMsgFileMissing = "Datei nicht vorhanden!";
constexpr const char* kMsgOpenFailed = "Fehler beim Öffnen der Quelldatei!";
constexpr const char* kMsgFileEmpty = "Die Datei ist leer!";
constexpr const char* kMsgReadError = "Lesezugriff auf 'Nur schreiben' Datenpunkt";
constexpr const char* kMsgEndOfFile = "Datei beendet";
constexpr const char* kMsgTruncated = "Datei wurde abgeschnitten";
constexpr const char* kMsgBadCharacterBefore = "Fehler bei der Satzanalyse : Nr. '";
constexpr const char* kMsgBadCharacterAfter = "'!";
constexpr const char* kMsgBadCount = "Fehler bei der Satzanalyse : 'ungültige Strukturlänge'";
constexpr const char* kMsgBadAddress = "Fehler bei der Satzanalyse : 'falscher Struktur Offset'!";
constexpr const char* kMsgBadType = "Fehler bei der Satzanalyse : Strukturlänge";
constexpr const char* kMsgBadDataByte = "Fehler bei der Satzanalyse : 'ungültiges Zeichen' %d (%d)";
constexpr const char* kMsgBadChecksumField = "Fehler während der Textanalyse : Kontrollsumme";
constexpr const char* kMsgChecksumWrong = "Fehler";
constexpr const char* kMsgLinearOverflow =
    "Es kam zu einem Überlauf im erweiterten Speicherbereich : (0x%lX.0000 von 0x8.0000)!";
constexpr const char* kMsgUnknownType = "Das unbekannte Protokoll %02X, wird ignoriert!";
constexpr const char* kMsgNoRecord = "Die Datei enthält keinen einzigen HEX-Datensatz!";
constexpr const char* kMsgBeyondImage =
    "Der Datensatz an Adresse 0x%lX mit %d Bytes reicht über das Ende des Speicherbereichs "
    "(0x100.0000) hinaus!";

constexpr std::size_t kChunkReadSize = 512;
constexpr std::uint8_t kRecordMark = ':';

enum RecordType : std::uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,
    kStartSegmentAddress = 0x03,
    kExtendedLinearAddress = 0x04,
    kStartLinearAddress = 0x05,
};

// Value of each character as a hex digit, -1 for anything else.
constexpr std::array<std::int8_t, 256> MakeHexDigitTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& entry : table) {
        entry = -1;
    }
    for (int c = '0'; c <= '9'; ++c) {
        table[c] = static_cast<std::int8_t>(c - '0');
    }
    for (int c = 'A'; c <= 'F'; ++c) {
        table[c] = static_cast<std::int8_t>(c - 'A' + 10);
        table[c - 'A' + 'a'] = static_cast<std::int8_t>(c - 'A' + 10);
    }
    return table;
}
constexpr std::array<std::int8_t, 256> kHexDigit = MakeHexDigitTable();

// Value of each pair of characters as two hex digits (first character in the low byte of the
// index, as a little-endian load of the two places it), -1 when either is no digit. Decoding a
// byte then takes one lookup.
const std::int16_t* HexPairTable() {
    static const std::unique_ptr<std::int16_t[]> table = [] {
        auto t = std::make_unique<std::int16_t[]>(0x10000);
        for (unsigned index = 0; index < 0x10000; ++index) {
            const int high = kHexDigit[index & 0xFF];
            const int low = kHexDigit[index >> 8];
            t[index] = static_cast<std::int16_t>((high | low) < 0 ? -1 : high * 16 + low);
        }
        return t;
    }();
    return table.get();
}

inline int PairAt(const std::int16_t* table, const std::uint8_t* chars) {
    return table[unsigned{chars[0]} | (unsigned{chars[1]} << 8)];
}

// kAborted: the caller asked the load to end; nothing more is shown.
enum class Fetch { kOk, kFailed, kEndOfFile, kAborted };

class HexReader {
public:
    explicit HexReader(const StopCheck& stop) : m_stop(stop) {}
    HexReadResult Load(const std::string& path, const RawBytesSink& copy);
    // The read as it ended.
    HexReadResult Finish();

private:
    // Reads the next chunk into the chunk buffer.
    Fetch ReadChunk(const char* messageAtEnd);
    // Makes sure the cursor stands on unread data, reading the next chunk when it does not.
    Fetch RefillChunk();
    // Decodes the next `digits` hex digits.
    Fetch ReadHexField(int digits, std::uint16_t& value);
    // Decodes up to `wanted` data bytes whose digits are all in the chunk, stopping before a
    // character that is no digit; adds them to `sum` and returns how many it decoded.
    std::size_t DecodeBytesInChunk(std::size_t wanted, std::uint8_t* out, unsigned& sum);
    // Moves the cursor past the next record mark; false when the file ended (or failed) first.
    bool FindRecordMark();
    // Reads one record after its mark; false when the load is over.
    bool ReadRecord();
    // Acts on a complete, checked record; false when the load is over.
    bool ApplyRecord(std::uint8_t type, std::uint16_t address, int count);
    // Reports the end of a field that failed or met the end of the file.
    void FieldFailed(Fetch fetch, const std::string& fieldMessage);
    // A text for the operator; the load goes on.
    void Note(std::string text) { m_read.notes.push_back(std::move(text)); }
    // The load fails with `kind`: the last text is the one that says why.
    void Failed(HexErrorKind kind);
    // The line of the file the cursor stands on, from 1.
    int CurrentLine() const;

    const std::int16_t* m_pairs = HexPairTable();
    const StopCheck& m_stop;
    TextModeFile m_file;
    HexImageRead m_read;
    std::optional<HexError> m_error;  // what stopped the load
    // Line ends before m_countedTo in the current chunk. Only the text between records can
    // hold one (a record is all hex digits, and the reader stops at the first character that is
    // none), so they are counted where that text is passed over, not in every chunk.
    int m_lineEnds = 0;
    std::size_t m_countedTo = 0;
    bool m_fileOpened = false;
    bool m_readFailed = false;  // the system failed a read
    // The chunk: characters in the file's buffer (TextModeFile::ReadView), not copied.
    const std::uint8_t* m_chunk = nullptr;
    std::size_t m_chunkLength = 0;
    std::size_t m_cursor = 0;
    int m_segment = 0;
    std::uint16_t m_baseOffset = 0;
    bool m_recordSeen = false;  // a record mark was found
    std::uint8_t m_record[255];
};

void HexReader::Failed(HexErrorKind kind) {
    if (m_error) {
        return;
    }
    m_error = HexError{kind, m_fileOpened ? CurrentLine() : 0, {}, {}, {}};
    // The text that ended the load is the error's own; the texts before it stay notes.
    if (kind != HexErrorKind::kAborted && !m_read.notes.empty()) {
        m_error->text = std::move(m_read.notes.back());
        m_read.notes.pop_back();
    }
}

int HexReader::CurrentLine() const {
    const auto* begin = m_chunk + std::min(m_countedTo, m_chunkLength);
    const auto* end = m_chunk + std::min(m_cursor, m_chunkLength);
    return m_lineEnds + static_cast<int>(std::count(begin, std::max(begin, end), '\n')) + 1;
}

Fetch HexReader::ReadChunk(const char* messageAtEnd) {
    // Between chunks: however large the file, an abort request ends the load here.
    if (m_stop && m_stop()) {
        return Fetch::kAborted;
    }
    // What is left of the chunk is record digits or was counted already.
    m_countedTo = 0;
    m_chunkLength = 0;
    m_cursor = 0;
    const long got = m_file.ReadView(m_chunk, kChunkReadSize);
    if (got < 0) {
        Note(kMsgReadError);
        m_readFailed = true;
        return Fetch::kFailed;
    }
    if (got == 0) {
        Note(messageAtEnd);
        return Fetch::kEndOfFile;
    }
    m_chunkLength = static_cast<std::size_t>(got);
    m_cursor = 0;
    return Fetch::kOk;
}

Fetch HexReader::RefillChunk() {
    if (m_cursor < m_chunkLength) {
        return Fetch::kOk;
    }
    return ReadChunk(kMsgEndOfFile);
}

// The next chunk is read only when a further digit is wanted, not right after the last
// digit of a field, so a record that ends exactly at the end of the file is complete.
Fetch HexReader::ReadHexField(int digits, std::uint16_t& value) {
    value = 0;
    if (m_cursor + static_cast<std::size_t>(digits) <= m_chunkLength) {
        // Common case: the whole field is in the chunk.
        const std::uint8_t* chars = m_chunk + m_cursor;
        int v = PairAt(m_pairs, chars);
        int bad = v;
        if (digits == 4) {
            const int low = PairAt(m_pairs, chars + 2);
            bad |= low;
            v = v * 256 + low;
        }
        if (bad >= 0) {
            m_cursor += static_cast<std::size_t>(digits);
            value = static_cast<std::uint16_t>(v);
            return Fetch::kOk;
        }
    }
    for (int i = 0; i < digits; ++i) {
        if (m_cursor >= m_chunkLength) {
            const Fetch fetch = RefillChunk();
            if (fetch != Fetch::kOk) {
                return fetch;
            }
        }
        const std::uint8_t c = m_chunk[m_cursor];
        const int digit = kHexDigit[c];
        if (digit < 0) {
            // Built around the character rather than through %s, so that a NUL byte reaches
            // the message (as a NUL, which front ends show as they show control bytes).
            const std::string shown = c == 0 ? std::string(1, '\0') : Cp1252ToUtf8(c);
            Note(kMsgBadCharacterBefore + shown + kMsgBadCharacterAfter);
            return Fetch::kFailed;
        }
        value = static_cast<std::uint16_t>(value * 16 + digit);
        ++m_cursor;
    }
    return Fetch::kOk;
}

std::size_t HexReader::DecodeBytesInChunk(std::size_t wanted, std::uint8_t* out, unsigned& sum) {
    const std::size_t n = std::min(wanted, (m_chunkLength - m_cursor) / 2);
    const std::uint8_t* digits = m_chunk + m_cursor;
    // Optimistic pass over all n bytes; only when a character is no digit does the exact pass
    // below find where the good bytes end.
    int bad = 0;
    unsigned added = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const int byte = PairAt(m_pairs, digits + 2 * k);
        bad |= byte;
        out[k] = static_cast<std::uint8_t>(byte);
        added += out[k];
    }
    std::size_t k = n;
    if (bad < 0) {
        added = 0;
        for (k = 0; k < n; ++k) {
            const int byte = PairAt(m_pairs, digits + 2 * k);
            if (byte < 0) {
                break;
            }
            added += static_cast<unsigned>(byte);
        }
    }
    sum += added;
    m_cursor += 2 * k;
    return k;
}

void HexReader::FieldFailed(Fetch fetch, const std::string& fieldMessage) {
    if (fetch == Fetch::kAborted) {
        Failed(HexErrorKind::kAborted);
        return;
    }
    const bool truncated = fetch == Fetch::kEndOfFile;
    Note(truncated ? std::string(kMsgTruncated) : fieldMessage);
    Failed(truncated      ? HexErrorKind::kTruncated
           : m_readFailed ? HexErrorKind::kReadError
                          : HexErrorKind::kBadRecord);
}

// Any text between records (line ends, blanks, comments, NUL bytes, however long) is passed
// over until the next record mark.
bool HexReader::FindRecordMark() {
    // Common case: a line end, and the next record's mark right behind it.
    if (m_cursor + 2 <= m_chunkLength && m_chunk[m_cursor] == '\n' &&
        m_chunk[m_cursor + 1] == kRecordMark) {
        ++m_lineEnds;
        m_countedTo = m_cursor + 1;
        m_cursor += 2;
        m_recordSeen = true;
        return true;
    }
    for (;;) {
        if (m_cursor < m_chunkLength) {
            const void* mark =
                std::memchr(m_chunk + m_cursor, kRecordMark, m_chunkLength - m_cursor);
            const std::size_t end =
                mark != nullptr
                    ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(mark) - m_chunk)
                    : m_chunkLength;
            m_lineEnds += static_cast<int>(std::count(m_chunk + m_cursor, m_chunk + end, '\n'));
            m_cursor = end;
            m_countedTo = end;
            if (mark != nullptr) {
                ++m_cursor;
                m_recordSeen = true;
                return true;
            }
        }
        const Fetch fetch = ReadChunk(kMsgEndOfFile);
        if (fetch == Fetch::kFailed || fetch == Fetch::kAborted) {
            Failed(fetch == Fetch::kFailed ? HexErrorKind::kReadError : HexErrorKind::kAborted);
        }
        if (fetch != Fetch::kOk) {
            return false;
        }
    }
}

bool HexReader::ReadRecord() {
    // Common case: the whole record lies in the chunk and every character of it is a digit.
    // Anything else takes the field-by-field way below from the same place, which refills the
    // chunk and says exactly what is wrong.
    if (m_cursor + 10 <= m_chunkLength) {
        const std::uint8_t* chars = m_chunk + m_cursor;
        const int n = PairAt(m_pairs, chars);
        const int high = PairAt(m_pairs, chars + 2);
        const int low = PairAt(m_pairs, chars + 4);
        const int kind = PairAt(m_pairs, chars + 6);
        if ((n | high | low | kind) >= 0 &&
            m_cursor + 10 + 2 * static_cast<std::size_t>(n) <= m_chunkLength) {
            unsigned sum = static_cast<unsigned>(n + high + low + kind);
            int bad = 0;
            for (int k = 0; k < n; ++k) {
                const int byte = PairAt(m_pairs, chars + 8 + 2 * k);
                bad |= byte;
                m_record[k] = static_cast<std::uint8_t>(byte);
                sum += m_record[k];
            }
            const int checksum = PairAt(m_pairs, chars + 8 + 2 * n);
            if ((bad | checksum) >= 0) {
                m_cursor += 10 + 2 * static_cast<std::size_t>(n);
                if (((sum + static_cast<unsigned>(checksum)) & 0xFF) != 0) {
                    Note(kMsgChecksumWrong);
                    Failed(HexErrorKind::kBadRecord);
                    return false;
                }
                return ApplyRecord(static_cast<std::uint8_t>(kind),
                                   static_cast<std::uint16_t>(high * 256 + low), n);
            }
        }
    }
    std::uint16_t count = 0;
    std::uint16_t address = 0;
    std::uint16_t type = 0;
    std::uint16_t checksum = 0;

    Fetch fetch = ReadHexField(2, count);
    if (fetch != Fetch::kOk) {
        FieldFailed(fetch, kMsgBadCount);
        return false;
    }
    fetch = ReadHexField(4, address);
    if (fetch != Fetch::kOk) {
        FieldFailed(fetch, kMsgBadAddress);
        return false;
    }
    fetch = ReadHexField(2, type);
    if (fetch != Fetch::kOk) {
        FieldFailed(fetch, kMsgBadType);
        return false;
    }
    unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
    int j = 0;  // data bytes read so far
    while (j < count) {
        j += static_cast<int>(
            DecodeBytesInChunk(static_cast<std::size_t>(count - j), m_record + j, sum));
        if (j == count) {
            break;
        }
        // A byte split across two chunks, or a character that is no digit: read it the careful
        // way, which refills the chunk and reports exactly what is wrong.
        std::uint16_t byte = 0;
        fetch = ReadHexField(2, byte);
        if (fetch != Fetch::kOk) {
            FieldFailed(fetch, FormatText(kMsgBadDataByte, j + 1, static_cast<int>(count)));
            return false;
        }
        m_record[j++] = static_cast<std::uint8_t>(byte);
        sum += byte;
    }
    fetch = ReadHexField(2, checksum);
    if (fetch != Fetch::kOk) {
        FieldFailed(fetch, kMsgBadChecksumField);
        return false;
    }
    sum += checksum;
    if ((sum & 0xFF) != 0) {
        Note(kMsgChecksumWrong);
        Failed(HexErrorKind::kBadRecord);
        return false;
    }
    return ApplyRecord(static_cast<std::uint8_t>(type), address, count);
}

bool HexReader::ApplyRecord(std::uint8_t type, std::uint16_t address, int count) {
    // Address records take their value from data bytes 1 and 2; bytes a short record lacks
    // count as 0, so nothing beyond the record is ever read.
    const auto addressValue = [&]() -> std::uint32_t {
        const std::uint32_t high = count >= 1 ? m_record[0] : 0;
        const std::uint32_t low = count >= 2 ? m_record[1] : 0;
        return high * 256 + low;
    };

    switch (type) {
        case kData: {
            if (count == 0) {
                return true;  // nothing stored, no fill mark changed
            }
            const std::uint32_t offset = std::uint32_t{m_baseOffset} + address;
            if (!m_read.image.Store(m_segment, offset, m_record, static_cast<std::size_t>(count))) {
                Note(FormatText(
                    kMsgBeyondImage,
                    static_cast<unsigned long>(HexImage::Address(m_segment, 0) + offset), count));
                Failed(HexErrorKind::kOutOfRange);
                return false;
            }
            return true;
        }
        case kEndOfFile:
            return false;
        case kExtendedSegmentAddress: {
            const std::uint32_t base = addressValue() * 16;
            m_segment = static_cast<int>(base >> 16);
            m_baseOffset = static_cast<std::uint16_t>(base & 0xFFFF);
            return true;
        }
        case kExtendedLinearAddress: {
            const std::uint32_t v = addressValue();
            if (v >= HexImage::kSegmentCount) {
                Note(FormatText(kMsgLinearOverflow, static_cast<unsigned long>(v)));
                Failed(HexErrorKind::kOutOfRange);
                return false;
            }
            m_segment = static_cast<int>(v);
            m_baseOffset = 0;
            return true;
        }
        case kStartLinearAddress:
            return true;
        case kStartSegmentAddress:
        default:
            Note(FormatText(kMsgUnknownType, static_cast<unsigned>(type)));
            return true;
    }
}

HexReadResult HexReader::Load(const std::string& path, const RawBytesSink& copy) {
    std::error_code error;
    const auto status = std::filesystem::status(PathFromUtf8(path), error);
    if (error || status.type() == std::filesystem::file_type::not_found) {
        Note(kMsgFileMissing);
        Failed(HexErrorKind::kFileMissing);
        return Finish();
    }
    // A device such as /dev/zero never ends and a FIFO blocks in open: only a regular file is
    // an image. The open checks the same again, on what it actually opened.
    if (status.type() != std::filesystem::file_type::regular || !m_file.Open(path)) {
        Note(kMsgOpenFailed);
        Failed(HexErrorKind::kCannotOpen);
        return Finish();
    }
    m_fileOpened = true;
    // The digest is of exactly the bytes this read decodes: a file replaced meanwhile cannot
    // lend its digest to another file's image. A second thread reads the file ahead and hashes
    // it while this one decodes the same bytes where that thread read them to.
    BackgroundDigest digest(
        [this](std::uint8_t* into, std::size_t size) { return m_file.ReadRaw(into, size); });
    m_file.ReadRawFrom([&digest] { return digest.Next(); });
    if (copy) {
        m_file.ObserveRawBytes(copy);
    }
    const Fetch first = ReadChunk(kMsgFileEmpty);
    if (first != Fetch::kOk) {
        Failed(first == Fetch::kEndOfFile ? HexErrorKind::kEmpty
               : first == Fetch::kAborted ? HexErrorKind::kAborted
                                          : HexErrorKind::kReadError);
    } else {
        while (FindRecordMark() && ReadRecord()) {
        }
    }
    // Text without a single record mark (another file format, a document, binary data) is no
    // image, even though nothing in it was wrong as such.
    if (!m_error && !m_recordSeen) {
        Note(kMsgNoRecord);
        Failed(HexErrorKind::kNoRecord);
    }
    // What follows an end record counts for the digest too.
    if (!m_error && !m_file.ReadRestRaw()) {
        Failed(HexErrorKind::kReadError);
        m_error->text = kMsgReadError;
    }
    if (!m_error) {
        std::optional<std::string> sha256 = digest.FinishHex();
        if (sha256) {
            m_read.sha256 = std::move(*sha256);
        } else {
            Failed(HexErrorKind::kReadError);
            m_error->text = kMsgReadError;
        }
    }
    // The file is read no more before it is closed.
    digest.Stop();
    m_file.Close();
    return Finish();
}

HexReadResult HexReader::Finish() {
    if (m_error) {
        m_error->notes = std::move(m_read.notes);
        m_error->storedBefore = std::move(m_read.image);
        return Unexpected<HexError>(std::move(*m_error));
    }
    return std::move(m_read);
}

}  // namespace

std::vector<std::string> ReaderMessages(const HexReadResult& read) {
    if (read) {
        return read->notes;
    }
    std::vector<std::string> messages = read.error().notes;
    if (!read.error().text.empty()) {
        messages.push_back(read.error().text);
    }
    return messages;
}

HexReadResult ReadHexFile(const std::string& path, const StopCheck& stop,
                          const RawBytesSink& copy) {
    // The reader's state (chunk and record buffers included) lives only while the read runs.
    auto reader = std::make_unique<HexReader>(stop);
    return reader->Load(path, copy);
}

}  // namespace quillon
