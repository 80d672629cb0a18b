#include "whole_file.h"

#include <fstream>
#include <sstream>

bool ReadWholeFile(const std::filesystem::path& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *bytes = s.str();
  return static_cast<bool>(in) || in.eof();
}
