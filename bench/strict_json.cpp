#include "bench/strict_json.h"

#include <cstdint>

namespace quillon {

namespace bench {

namespace {

constexpr int kMaxDepth = 64;

class Reader {
public:
    explicit Reader(const std::string& text) : m_text(text) {}

    std::optional<JsonObject> Whole() {
        JsonObject members;
        Space();
        if (!Object(&members, 0)) {
            return std::nullopt;
        }
        Space();
        if (m_at != m_text.size()) {
            return std::nullopt;
        }
        return members;
    }

private:
    bool Peek(char c) const { return m_at < m_text.size() && m_text[m_at] == c; }
    bool Take(char c) {
        if (!Peek(c)) {
            return false;
        }
        ++m_at;
        return true;
    }
    bool Word(const std::string& word) {
        if (m_text.compare(m_at, word.size(), word) != 0) {
            return false;
        }
        m_at += word.size();
        return true;
    }
    void Space() {
        while (Peek(' ') || Peek('\t') || Peek('\r') || Peek('\n')) {
            ++m_at;
        }
    }
    bool Digits() {
        const std::size_t from = m_at;
        while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') {
            ++m_at;
        }
        return m_at > from;
    }

    bool Value(JsonMember* out, int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        const std::size_t from = m_at;
        if (Peek('"')) {
            out->kind = JsonMember::kString;
            return String(&out->text);
        }
        if (Peek('{')) {
            out->kind = JsonMember::kObject;
            JsonObject nested;
            return Object(&nested, depth + 1);
        }
        if (Peek('[')) {
            out->kind = JsonMember::kArray;
            return Array(depth + 1);
        }
        if (Word("true") || Word("false")) {
            out->kind = JsonMember::kBool;
        } else if (Word("null")) {
            out->kind = JsonMember::kNull;
            return true;
        } else {
            out->kind = JsonMember::kNumber;
            if (!Number()) {
                return false;
            }
        }
        out->text = m_text.substr(from, m_at - from);
        return true;
    }

    bool Object(JsonObject* members, int depth) {
        if (!Take('{')) {
            return false;
        }
        Space();
        if (Take('}')) {
            return true;
        }
        for (;;) {
            std::string name;
            JsonMember value;
            Space();
            if (!String(&name)) {
                return false;
            }
            Space();
            if (!Take(':')) {
                return false;
            }
            Space();
            if (!Value(&value, depth) || !members->emplace(name, value).second) {
                return false;
            }
            Space();
            if (Take('}')) {
                return true;
            }
            if (!Take(',')) {
                return false;
            }
        }
    }

    bool Array(int depth) {
        Take('[');
        Space();
        if (Take(']')) {
            return true;
        }
        for (;;) {
            JsonMember value;
            Space();
            if (!Value(&value, depth)) {
                return false;
            }
            Space();
            if (Take(']')) {
                return true;
            }
            if (!Take(',')) {
                return false;
            }
        }
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool Number() {
        Take('-');
        if (!Take('0') && (Peek('0') || !Digits())) {
            return false;
        }
        if (Take('.') && !Digits()) {
            return false;
        }
        if (Take('e') || Take('E')) {
            if (!Take('+')) {
                Take('-');
            }
            return Digits();
        }
        return true;
    }

    bool Hex4(std::uint32_t* code) {
        if (m_at + 4 > m_text.size()) {
            return false;
        }
        *code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_at++];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) {
                return false;
            }
            *code = *code * 16 + static_cast<std::uint32_t>(digit);
        }
        return true;
    }

    static void AppendUtf8(std::uint32_t code, std::string* out) {
        if (code < 0x80) {
            *out += static_cast<char>(code);
        } else if (code < 0x800) {
            *out += static_cast<char>(0xC0 | (code >> 6));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *out += static_cast<char>(0xE0 | (code >> 12));
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (code >> 18));
            *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Escape(std::string* out) {
        if (m_at >= m_text.size()) {
            return false;
        }
        const char c = m_text[m_at++];
        static const std::string kFrom = "\"\\/bfnrt";
        static const std::string kTo = "\"\\/\b\f\n\r\t";
        if (const std::size_t i = kFrom.find(c); i != std::string::npos) {
            *out += kTo[i];
            return true;
        }
        std::uint32_t code = 0;
        if (c != 'u' || !Hex4(&code) || (code >= 0xDC00 && code <= 0xDFFF)) {
            return false;
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!Word("\\u") || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(code, out);
        return true;
    }

    // One UTF-8 sequence whose first byte `lead` (0x80 or above) was taken: no overlong form,
    // no surrogate, nothing above U+10FFFF.
    bool Utf8Rest(unsigned char lead, std::string* out) {
        int more = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        *out += static_cast<char>(lead);
        for (int i = 0; i < more; ++i, low = 0x80, high = 0xBF) {
            if (m_at >= m_text.size()) {
                return false;
            }
            const auto c = static_cast<unsigned char>(m_text[m_at++]);
            if (c < low || c > high) {
                return false;
            }
            *out += static_cast<char>(c);
        }
        return true;
    }

    bool String(std::string* out) {
        if (!Take('"')) {
            return false;
        }
        while (m_at < m_text.size()) {
            const auto c = static_cast<unsigned char>(m_text[m_at++]);
            if (c == '"') {
                return true;
            }
            const bool ok = c < 0x20    ? false
                            : c == '\\' ? Escape(out)
                            : c >= 0x80 ? Utf8Rest(c, out)
                                        : (*out += static_cast<char>(c), true);
            if (!ok) {
                return false;
            }
        }
        return false;
    }

    const std::string& m_text;
    std::size_t m_at = 0;
};

}  // namespace

std::optional<JsonObject> ReadJsonObject(const std::string& text) {
    return Reader(text).Whole();
}

}  // namespace bench

}  // namespace quillon
