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

Result<std::vector<std::string>> ParseOptions(const std::vector<std::string>& args,
                                              const std::vector<Option>& table,
                                              const OptionWording& wording) {
    std::vector<std::string> operands;
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
            return operands;
        }
        const Option* option = FindOption(table, name);
        if (option == nullptr) {
            if (wording.operands && (name.size() < 2 || name[0] != '-')) {
                operands.push_back(args[i]);
                continue;
            }
            return Fail(ErrorKind::kUsage, "unknown option " + name + wording.seeHelp);
        }
        if (option->value == Option::Value::kNone && inlineValue) {
            return Fail(ErrorKind::kUsage, wording.optionWord + name + " takes no value");
        }
        if (option->value == Option::Value::kRequired && !inlineValue) {
            if (i + 1 >= args.size()) {
                return Fail(ErrorKind::kUsage, wording.optionWord + name + " needs a value");
            }
            value = args[++i];
        }
        if (Status taken = option->take(value); !taken) {
            if (taken.error().text.empty()) {
                return Fail(ErrorKind::kUsage,
                            name + ": \"" + value + "\" is not a valid value" + wording.seeHelp);
            }
            return Fail(ErrorKind::kUsage, std::move(taken).error().text);
        }
    }
    return operands;
}

}  // namespace quillon
