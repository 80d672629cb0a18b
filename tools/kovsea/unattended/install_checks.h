// What kovsea install checks of its command line before it writes anything, and the notes it
// gives an admin about what it was told (plain C++, tested on Linux too).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Why `log_file` cannot take the log, empty when it can: appending to the self-extractor
// (under any name of it: another spelling, a hard link) would destroy the installer it is
// reading, and a directory cannot be appended to.
std::string LogFileProblem(const std::filesystem::path& log_file, const std::filesystem::path& self_extractor);

// The notes a run gives in its log and on stderr before it starts: without switches after
// `--` the installer runs with its own defaults, which may be a window waiting for a user who
// is not there.
std::vector<std::string> InstallNotes(const std::vector<std::string>& setup_arguments);
