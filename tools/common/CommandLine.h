// The command lines of ledctl and signemu, read by one parser (CLI11) in one way: options as
// `--name VALUE` or `--name=VALUE`, numbers checked alike, the help made from the option table.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace ledsign::tools {

// A whole decimal number from `min` to `max`, checked before it is converted.
CLI::Validator WholeNumber(int64_t min, int64_t max);

// The help as a tool prints it: `usage` in place of the parser's own usage line, then the
// description, the options from the table and the footer; --version prints "NAME VERSION".
void SetHelp(CLI::App& app, const std::string& usage, const std::string& description, const std::string& footer);

// Parses the arguments (without the program's name). Returns -1 to go on, 0 after printing the
// help or the version, or 2 after saying what was wrong with the command line.
int ParseCommandLine(CLI::App& app, const std::vector<std::string>& args);

}  // namespace ledsign::tools
