#include "helpers/option_table.h"

#include <algorithm>

namespace quillon {

namespace {

const Option* FindOption(const std::vector<Option>& table, const std::string& name) {
    const auto found = std::find_if(table.begin(), table.end(), [&name](const Option& option) {
        return option.name == name || (!option.shortName.empty() && option.shortName == name);
    });
    return found == table.end() ? nullptr : &*found;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, const std::vector<Option>& table,
                  const OptionWording& wording, std::vector<std::string>& operands,
                  std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inlineValue = false;
        if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
            value = name.substr(name.find('=') + 1);
            name.erase(name.find('='));
            inlineValue = true;
        }
        if (wording.operands && name == "--" && !inlineValue) {
            operands.insert(operands.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            return true;
        }
        const Option* option = FindOption(table, name);
        if (option == nullptr) {
            if (wording.operands && (name.size() < 2 || name[0] != '-')) {
                operands.push_back(args[i]);
                continue;
            }
            error = "unknown option " + name + wording.seeHelp;
            return false;
        }
        if (option->value == Option::Value::kNone && inlineValue) {
            error = wording.optionWord + name + " takes no value";
            return false;
        }
        if (option->value == Option::Value::kRequired && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = wording.optionWord + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        error.clear();
        if (!option->take(value, error)) {
            if (error.empty()) {
                error = name + ": \"" + value + "\" is not a valid value" + wording.seeHelp;
            }
            return false;
        }
    }
    return true;
}

}  // namespace quillon
