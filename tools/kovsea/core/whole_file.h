// Reading a small host file (a stub, an icon) into memory whole.
#pragma once

#include <filesystem>
#include <string>

// False when the file cannot be opened or read to its end.
bool ReadWholeFile(const std::filesystem::path& path, std::string* bytes);
