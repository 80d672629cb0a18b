// The packer's commands besides `pack`. Each returns the process's exit code: 0 success, 1 a
// file or tree that is refused, or a failure.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>

#include "pack.h"

// The pre-flight check of a tree, as pack runs it; with `json`, the result as JSON.
int CheckCommand(const PackOptions& options, bool json);
// Lists the entries; with `json`, with the SHA-256 digest of every file entry, side file,
// the stub part and the whole file.
int ListCommand(const std::filesystem::path& file, bool json, const std::string& codepage);
// Checks a finished file, including that every entry's path fits under a temporary
// directory of `temp_length` characters at the user's site.
int VerifyCommand(const std::filesystem::path& file, const std::string& codepage, uint32_t temp_length);
// Extracts into `out_dir`, which must be empty unless `force`; never writes outside it, and
// on failure removes again what this run created (and nothing that was there before).
int ExtractCommand(const std::filesystem::path& file, const std::filesystem::path& out_dir,
                   bool force, const std::string& codepage);
