// How kovsea's command line reads to its user: options in the help with one placeholder for
// their value, and usage errors that say what went wrong and what to type instead.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

// The help's formatter: an option's placeholder is the name its value was given (FILE, DIR,
// S), never with the checks CLI11 glues on ("FILE:FILE", "S:UINT in [1 - 86400]") nor its
// "Needs:" notes, which the descriptions say in words.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override;
};

// The command `word` most likely meant: the one fewest letters away (inserted, deleted or
// changed), the first of equals in `commands`' order.
std::string NearestCommand(const std::string& word, const std::vector<std::string>& commands);

// The message of a usage error, with what the user can do about it: for an unknown command
// the nearest one, and for install the place of the installer's own switches. `args` are the
// words after the program's name.
std::string UsageErrorMessage(const CLI::App& app, const std::vector<std::string>& args,
                              const CLI::ParseError& error);

// Whether the usage error is an unknown command, which the whole help would not help with.
bool IsUnknownCommand(const CLI::App& app, const std::vector<std::string>& args);

// For install given the installer's switches without `--` in front of them (`install FILE /S`),
// the message that says where they go; empty when there are none or they follow `--`.
std::string InstallSwitchesProblem(const std::vector<std::string>& args, size_t switch_count);
