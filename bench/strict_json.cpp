#include "bench/strict_json.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <set>
#include <vector>

namespace quillon {

namespace bench {

namespace {

using Json = nlohmann::json;

// Values nested deeper than this many containers inside the record's object are refused.
constexpr std::size_t kMaxDepth = 64;

// Takes the parser's events for one text: the record's own members, each object's names (a
// name twice in one object ends the reading), and that the text is one object.
class RecordEvents : public nlohmann::json_sax<Json> {
public:
    JsonObject members;

    bool null() override { return Member(JsonMember::kNull, ""); }
    bool boolean(bool value) override {
        return Member(JsonMember::kBool, value ? "true" : "false");
    }
    bool number_integer(number_integer_t value) override {
        return Member(JsonMember::kNumber, std::to_string(value));
    }
    bool number_unsigned(number_unsigned_t value) override {
        return Member(JsonMember::kNumber, std::to_string(value));
    }
    bool number_float(number_float_t, const string_t& written) override {
        return Member(JsonMember::kNumber, written);
    }
    bool string(string_t& value) override { return Member(JsonMember::kString, value); }
    bool binary(binary_t&) override { return false; }

    bool start_object(std::size_t) override {
        if (!Member(JsonMember::kObject, "")) {
            return false;
        }
        m_open.emplace_back(std::set<std::string>());
        return true;
    }
    bool key(string_t& name) override {
        m_name = name;
        return m_open.back()->insert(name).second;
    }
    bool end_object() override {
        m_open.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        if (!Member(JsonMember::kArray, "")) {
            return false;
        }
        m_open.emplace_back(std::nullopt);
        return true;
    }
    bool end_array() override {
        m_open.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    // A value at the current place: the text itself must be an object, and a value directly
    // in it is one of its members.
    bool Member(JsonMember::Kind kind, const std::string& text) {
        if (m_open.empty()) {
            return kind == JsonMember::kObject;
        }
        if (m_open.size() > kMaxDepth + 1) {
            return false;
        }
        if (m_open.size() == 1) {
            members[m_name] = JsonMember{kind, text};
        }
        return true;
    }

    // The containers open around the current place, outermost first: an object's names so
    // far, or nothing for an array.
    std::vector<std::optional<std::set<std::string>>> m_open;
    std::string m_name;  // the name of the member whose value comes next
};

}  // namespace

std::optional<JsonObject> ReadJsonObject(const std::string& text) {
    // The parser would pass over a byte order mark and take a NUL byte for the text's end (so
    // that whatever follows it went unread); neither belongs in a JSON text.
    if (text.rfind("\xEF\xBB\xBF", 0) == 0 || text.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    RecordEvents events;
    // Strict: nothing but white space may follow the object.
    if (!Json::sax_parse(text, &events, Json::input_format_t::json, true)) {
        return std::nullopt;
    }
    return std::move(events.members);
}

}  // namespace bench

}  // namespace quillon
