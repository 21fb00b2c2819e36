#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "helpers/result.h"
#include "image/hex_image.h"

namespace quillon {

// Why a HEX file could not be read.
enum class HexErrorKind {
    kFileMissing,  // no such file
    kCannotOpen,   // not a regular file, or it cannot be opened
    kEmpty,        // no character at all
    kReadError,    // the system failed to read it
    kTruncated,    // it ends inside a record
    kBadRecord,    // a field that is no hex number, a record whose checksum is wrong
    kOutOfRange,   // data beyond the 16 MB, an extended linear address beyond them
    kNoRecord,     // not a single record mark: no HEX file at all
    kAborted,      // the caller asked the read to end
};

// Why a read of a HEX file stopped, and what the reader said before.
struct HexError {
    HexErrorKind kind = HexErrorKind::kCannotOpen;
    int line = 0;      // the file's line (from 1) where the read stopped; 0 when it never began
    std::string text;  // the reader's message that says why (empty when aborted)
    // The reader's texts that came before it, in order (as HexImageRead::notes).
    std::vector<std::string> notes;
    // The records stored before the read stopped: no image to flash, kept only to show how
    // far the read came.
    HexImage storedBefore;
};

// What a read of a HEX file gave.
struct HexImageRead {
    HexImage image;  // what the file put there
    // The reader's texts, in order ("Datei beendet" for a file without an end record, an
    // unknown record type that is passed over).
    std::vector<std::string> notes;
    // SHA-256 of every byte of the file as this read took them (also those after an end
    // record), 64 lower-case hex digits.
    std::string sha256;
};

// One read of a HEX-86 file (Intel HEX with record types 00, 01, 02 and 04; 03 and 05
// tolerated): the image, or the error that stopped it. Nothing is shown and nothing waits for
// anyone: the texts the operator is to see, in German and in their order, are part of the
// result, and the front end shows them.
using HexReadResult = Expected<HexImageRead, HexError>;

// Every text of a read in the order the operator is to see them: the notes, then the error's.
std::vector<std::string> ReaderMessages(const HexReadResult& read);

// True when the caller wants a read (or a job) to end.
using StopCheck = std::function<bool()>;

// Takes every byte of a file as a read takes it, untranslated (to copy the file as read).
using RawBytesSink = std::function<void(const std::uint8_t* bytes, std::size_t count)>;

// Reads the file at `path` (UTF-8) once, from its first byte to its last. Only a regular file
// (after following links) is read: anything else (a device, a FIFO, a directory) is refused
// as a file that cannot be opened, and opening never blocks. A file in which no record mark is
// found at all is no image. A second thread reads the file ahead, a few blocks at most, and
// hashes it; the file is decoded in chunks of at most 512 characters where that thread read
// it to, so the memory a read takes does not depend on the file's size. When `stop` says
// so, the read ends before its next chunk with a kAborted error and no text. `copy`, when
// given, gets every byte the read takes, in order: the very bytes the image and the digest
// come from.
[[nodiscard]] HexReadResult ReadHexFile(const std::string& path, const StopCheck& stop = {},
                                        const RawBytesSink& copy = {});

}  // namespace quillon
