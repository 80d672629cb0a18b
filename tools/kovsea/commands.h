// The packer's reading commands: `list`, `verify` and `extract`. Each returns the process's
// exit code: 0 success, 1 a file that is refused or a failure.
#pragma once

#include <filesystem>
#include <string>

int ListCommand(const std::filesystem::path& file, bool json, const std::string& codepage);
int VerifyCommand(const std::filesystem::path& file, const std::string& codepage);
// Extracts into `out_dir`, which must be empty unless `force`; never writes outside it, and
// on failure removes again what this run created (and nothing that was there before).
int ExtractCommand(const std::filesystem::path& file, const std::filesystem::path& out_dir,
                   bool force, const std::string& codepage);
