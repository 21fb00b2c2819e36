#include "cli/cli_preparation_messages.h"

#include <cstdio>

#include "cli/exit_status.h"

namespace quillon {

void CliPreparationMessages::ReaderMessage(const std::string& path, const std::string& text) {
    m_console.ReaderMessage(path, text);
}

void CliPreparationMessages::LogLine(const std::string& text) {
    m_console.Message(text);
}

void CliPreparationMessages::Problem(const std::string& text) {
    std::fprintf(stderr, "quillon-cli: %s\n", text.c_str());
}

void CliPreparationMessages::Mistake(const std::string& text) {
    UsageError(text);
}

}  // namespace quillon
