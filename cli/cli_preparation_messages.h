#pragma once

#include <string>

#include "cli/cli_console.h"
#include "production/preparation_messages.h"

namespace quillon {

// A run's preparation said as quillon-cli says it: the reader's messages and the log's lines
// through the console, problems on stderr after the program's name, mistakes with the hint to
// --help.
class CliPreparationMessages : public PreparationMessages {
public:
    explicit CliPreparationMessages(CliConsole& console) : m_console(console) {}

    void ReaderMessage(const std::string& path, const std::string& text) override;
    void LogLine(const std::string& text) override;
    void Problem(const std::string& text) override;
    void Mistake(const std::string& text) override;

private:
    CliConsole& m_console;
};

}  // namespace quillon
