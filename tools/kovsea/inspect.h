// `kovsea list`, `verify` and `extract`: reading a self-extractor with the stub's own decoder.
#pragma once

#include <filesystem>
#include <string>

int ListCommand(const std::filesystem::path& file, bool json, const std::string& codepage);
int VerifyCommand(const std::filesystem::path& file, const std::string& codepage);
int ExtractCommand(const std::filesystem::path& file, const std::filesystem::path& out_dir,
                   bool force, const std::string& codepage);
