#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// printf-style formatting into a std::string, for the fixed log and message texts.
#if defined(__GNUC__) || defined(__clang__)
#define QUILLON_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QUILLON_PRINTF_FORMAT(fmt, args)
#endif

namespace quillon {

std::string FormatText(const char* format, ...) QUILLON_PRINTF_FORMAT(1, 2);

// One byte of an 8-bit text in the Windows-1252 code page, as UTF-8. Bytes that the code page
// leaves undefined come out as U+FFFD; a NUL byte comes out as an empty string.
std::string Cp1252ToUtf8(std::uint8_t byte);

// The length of the valid UTF-8 sequence at `text[i]` (1 to 4; 1 for an ASCII byte), or 0
// where none starts: a stray continuation byte, an overlong form, a surrogate, a code point
// beyond U+10FFFF, or a sequence cut short by the text's end.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i);

// The characters of UTF-8 `text` (continuation bytes not counted): the columns it takes on a
// terminal, for the texts this program shows.
std::size_t Utf8Columns(const std::string& text);

// `text` (UTF-8) made safe to show on a terminal: control bytes (C0, DEL and the C1 range),
// bytes that are not part of valid UTF-8, and line breaks unless `keepLineBreaks`, come out as
// "\xNN", so that text read from a file can neither move the cursor nor send terminal
// sequences nor break a tab-separated line. Everything else passes unchanged.
std::string EscapeForTerminal(const std::string& text, bool keepLineBreaks);

// The whole of `text` as a decimal number from `lowest` to `highest` (digits only, no sign,
// no spaces); nothing for anything else.
std::optional<std::int64_t> DecimalInRange(const std::string& text, std::int64_t lowest,
                                           std::int64_t highest);

// The whole of `text` as a hexadecimal number (digits 0-9, a-f, A-F only: no prefix, no sign,
// no spaces) from `lowest` to `highest`; nothing for anything else.
std::optional<std::int64_t> HexadecimalInRange(const std::string& text, std::int64_t lowest,
                                               std::int64_t highest);

// `text` without the white space (space, tab, line ends, vertical tab, form feed) at its ends.
std::string TrimmedWhiteSpace(const std::string& text);

}  // namespace quillon
