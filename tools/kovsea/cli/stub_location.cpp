#include "stub_location.h"

#include <stdlib.h>

#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// `name` beside kovsea (the Windows zip) or in ../share/kovsea (the Debian package).
fs::path FindCompanion(const char* argv0, const char* name) {
  std::error_code error;
  fs::path self = fs::canonical(fs::path(argv0), error);
#ifndef _WIN32
  if (error || self.empty()) self = fs::read_symlink("/proc/self/exe", error);
#endif
  std::vector<fs::path> candidates;
  if (!self.empty()) {
    candidates.push_back(self.parent_path() / name);
    candidates.push_back(self.parent_path() / ".." / "share" / "kovsea" / name);
  }
  for (const auto& c : candidates) {
    if (fs::is_regular_file(c, error)) return fs::weakly_canonical(c, error);
  }
  return fs::path();
}

}  // namespace

fs::path FindStub(const char* argv0, const std::string& given) {
  if (!given.empty()) return given;
  if (const char* from_environment = getenv("KOVSEA_STUB")) {
    if (*from_environment != '\0') return from_environment;
  }
  return FindCompanion(argv0, "kovsea-stub.exe");
}

fs::path FindObserver(const char* argv0) {
  if (const char* from_environment = getenv("KOVSEA_OBSERVER")) {
    if (*from_environment != '\0') return from_environment;
  }
  return FindCompanion(argv0, "kovsea-observer.exe");
}
