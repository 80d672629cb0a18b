#include "install_checks.h"

#include <system_error>

namespace fs = std::filesystem;

std::string LogFileProblem(const fs::path& log_file, const fs::path& self_extractor) {
  if (log_file.empty()) return std::string();
  std::error_code error;
  if (fs::is_directory(log_file, error)) return "--log names a directory; name a file to append to";
  if (fs::equivalent(log_file, self_extractor, error) && !error) {
    return "--log names the self-extractor itself, which appending the log to would destroy; name another file";
  }
  return std::string();
}

std::vector<std::string> InstallNotes(const std::vector<std::string>& setup_arguments) {
  std::vector<std::string> notes;
  if (setup_arguments.empty()) {
    notes.push_back("no switches after --: Setup.exe runs with its own defaults and may wait for a user who is not "
                    "there (give its silent switches after --, e.g. kovsea install FILE -- /S)");
  }
  return notes;
}
