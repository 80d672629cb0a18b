#include "usage.h"

#include <algorithm>

namespace {

constexpr char kSwitchesGoAfterSeparator[] =
    "the installer's own switches go after --, as in: kovsea install FILE -- /S";

std::vector<std::string> CommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    names.push_back(command->get_name());
  }
  return names;
}

size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// An install command line without `--`: what it did not expect is the installer's switches.
bool InstallSwitchWithoutSeparator(const std::vector<std::string>& args) {
  if (args.empty() || args[0] != "install") return false;
  return std::find(args.begin(), args.end(), "--") == args.end();
}

}  // namespace

std::string HelpFormatter::make_option_opts(const CLI::Option* option) const {
  if (!option->get_option_text().empty()) return " " + option->get_option_text();
  std::string out;
  if (option->get_type_size() != 0) {
    std::string placeholder = option->get_type_name();
    placeholder = placeholder.substr(0, placeholder.find(':'));
    if (!placeholder.empty()) out += " " + placeholder;
    if (option->get_expected_max() == CLI::detail::expected_max_vector_size) out += " ...";
    if (option->get_required()) out += " REQUIRED";
  }
  return out;
}

std::string NearestCommand(const std::string& word, const std::vector<std::string>& commands) {
  std::string nearest;
  size_t best = 0;
  for (const std::string& command : commands) {
    const size_t distance = Distance(word, command);
    if (nearest.empty() || distance < best) {
      nearest = command;
      best = distance;
    }
  }
  return nearest;
}

bool IsUnknownCommand(const CLI::App& app, const std::vector<std::string>& args) {
  if (args.empty() || args[0].empty() || args[0][0] == '-') return false;
  const std::vector<std::string> names = CommandNames(app);
  return std::find(names.begin(), names.end(), args[0]) == names.end();
}

std::string UsageErrorMessage(const CLI::App& app, const std::vector<std::string>& args,
                              const CLI::ParseError& error) {
  if (IsUnknownCommand(app, args)) {
    return "unknown command '" + args[0] + "': did you mean '" + NearestCommand(args[0], CommandNames(app)) +
           "'? (`kovsea --help` lists the commands)";
  }
  std::string message = error.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr && InstallSwitchWithoutSeparator(args)) {
    message += " (" + std::string(kSwitchesGoAfterSeparator) + ")";
  }
  return message;
}

std::string InstallSwitchesProblem(const std::vector<std::string>& args, size_t switch_count) {
  if (switch_count == 0 || !InstallSwitchWithoutSeparator(args)) return std::string();
  return "install takes the installer's switches only after --, so that none is taken for one of kovsea's "
         "options or lost (" + std::string(kSwitchesGoAfterSeparator) + ")";
}
