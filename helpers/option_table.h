#pragma once

#include <functional>
#include <string>
#include <vector>

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
    // Takes the value (empty for a switch or an absent inline value). False is a usage error:
    // the reason goes to `error`; left empty, the parser says the value is not valid.
    std::function<bool(const std::string& value, std::string& error)> take;
};

// How a program words its usage errors.
struct OptionWording {
    std::string optionWord = "option ";  // "option --x needs a value", or "--x needs a value"
    std::string seeHelp;                 // added to an unknown option's error, " (see --help)"
    bool operands = true;                // arguments that are no option are operands; false: errors
};

// Walks `args` (without the program's name) through `table`. Operands go to `operands`, in
// their order. False at the first usage error, with its text in `error`.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<Option>& table,
                  const OptionWording& wording, std::vector<std::string>& operands,
                  std::string& error);

}  // namespace quillon
