#pragma once

#include <functional>
#include <string>
#include <vector>

#include "helpers/result.h"

namespace quillon {

// A program's command line as a table: each option has its long name (and maybe a one-letter
// name), says whether it takes a value, and a function that takes the value into the
// program's settings. "--name value", "--name=value" and "-x value" all work; "--" ends the
// options where the program has operands.
struct Option {
    enum class Value {
        kNone,      // a switch: "--name=..." is an error
        kRequired,  // "--name VALUE" or "--name=VALUE"
        kInline,    // optional, and only as "--name=VALUE"
    };
    std::string name;       // "--port"
    std::string shortName;  // "-p", or empty
    Value value = Value::kNone;
    // Takes the value (empty for a switch or an absent inline value). An error is a usage
    // error; one without a text is worded by the parser: the value is not valid.
    using Taker = std::function<Status(const std::string& value)>;
    Taker take;
};

// How a program words its usage errors.
struct OptionWording {
    std::string optionWord = "option ";  // "option --x needs a value", or "--x needs a value"
    std::string seeHelp;                 // added to an unknown option's error, " (see --help)"
    bool operands = true;                // arguments that are no option are operands; false: errors
};

// Walks `args` (without the program's name) through `table`. Returns the operands, in their
// order, or the first usage error (of kind kUsage).
[[nodiscard]] Result<std::vector<std::string>> ParseOptions(const std::vector<std::string>& args,
                                                            const std::vector<Option>& table,
                                                            const OptionWording& wording);

}  // namespace quillon
