#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers/option_table.h"

using namespace quillon;

namespace {

// What a walk of the table took, as one text: "name=value" per option, then the operands.
struct Walk {
    bool ok;
    std::string taken;
    std::string error;
};

Walk Parse(const std::vector<std::string>& args, const OptionWording& wording = {}) {
    Walk walk{};
    const auto record = [&walk](const std::string& name) {
        return [&walk, name](const std::string& value) -> Status {
            if (value == "bad") {
                return Fail(ErrorKind::kUsage, "");  // the parser words the error
            }
            if (value == "worse") {
                return Fail(ErrorKind::kUsage, "worse is refused");
            }
            walk.taken += name + "=" + value + " ";
            return {};
        };
    };
    const std::vector<Option> table = {
        {"--port", "-p", Option::Value::kRequired, record("port")},
        {"--all", "", Option::Value::kNone, record("all")},
        {"--repeat", "", Option::Value::kInline, record("repeat")},
    };
    const Result<std::vector<std::string>> operands = ParseOptions(args, table, wording);
    walk.ok = operands.has_value();
    if (!operands) {
        walk.error = operands.error().text;
        return walk;
    }
    for (const std::string& operand : *operands) {
        walk.taken += "[" + operand + "] ";
    }
    return walk;
}

TEST(OptionTable, ValuesSwitchesOperandsAndMistakes) {
    OptionWording strict;
    strict.optionWord.clear();
    strict.seeHelp = " (see --help)";
    strict.operands = false;
    const struct {
        std::vector<std::string> args;
        bool strict;
        bool ok;
        std::string expected;  // what was taken, or the error
    } cases[] = {
        {{"-p", "A", "--port=B", "--all", "img"}, false, true, "port=A port=B all= [img] "},
        {{"--repeat", "x"}, false, true, "repeat= [x] "},
        {{"--repeat=replug"}, false, true, "repeat=replug "},
        {{"--", "--all", "-"}, false, true, "[--all] [-] "},
        {{"-"}, false, true, "[-] "},
        {{"--port"}, false, false, "option --port needs a value"},
        {{"--all=1"}, false, false, "option --all takes no value"},
        {{"--nope=1"}, false, false, "unknown option --nope"},
        {{"-x"}, false, false, "unknown option -x"},
        {{"--port", "bad"}, false, false, "--port: \"bad\" is not a valid value"},
        {{"-p", "worse"}, false, false, "worse is refused"},
        {{"--port"}, true, false, "--port needs a value"},
        {{"img"}, true, false, "unknown option img (see --help)"},
        {{"--"}, true, false, "unknown option -- (see --help)"},
        {{"--port=bad"}, true, false, "--port: \"bad\" is not a valid value (see --help)"},
    };
    for (const auto& c : cases) {
        const Walk walk = c.strict ? Parse(c.args, strict) : Parse(c.args);
        EXPECT_EQ(walk.ok, c.ok) << c.expected;
        EXPECT_EQ(walk.ok ? walk.taken : walk.error, c.expected);
    }
}

}  // namespace
