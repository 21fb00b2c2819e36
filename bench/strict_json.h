#pragma once

// A strict reader for one JSON text holding one object, as a record line must be: the grammar
// of RFC 8259 with nothing before or after the object, valid UTF-8, escapes as the grammar has
// them (surrogates in pairs), no member named twice at any depth.
#include <map>
#include <optional>
#include <string>

namespace quillon {

namespace bench {

struct JsonMember {
    enum Kind { kString, kNumber, kBool, kNull, kObject, kArray } kind = kNull;
    std::string text;  // a string unescaped; a number or true/false as written; else empty
};
using JsonObject = std::map<std::string, JsonMember>;

// The object's members (its nested values only checked); none when `text` is anything else.
std::optional<JsonObject> ReadJsonObject(const std::string& text);

}  // namespace bench

}  // namespace quillon
