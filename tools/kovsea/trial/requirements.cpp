#include "requirements.h"

#include <vector>

#include "child_process.h"

namespace trial {
namespace {

struct Requirement {
  const char* program;
  const char* packages;
};

// The 32-bit Windows programs need Wine's i386 loader, which Debian ships as wine32:i386.
constexpr Requirement kWine[] = {{"wine", "wine wine32:i386"}, {"wineserver", "wine"}, {"wineboot", "wine"}};
constexpr Requirement kVirtualDisplay[] = {{"Xvfb", "xvfb"}, {"openbox", "openbox"}};
constexpr Requirement kScreenshots[] = {{"import", "imagemagick"}};

void Check(const Requirement* begin, const Requirement* end, std::vector<const Requirement*>* missing) {
  for (const Requirement* r = begin; r != end; ++r) {
    if (FindProgram(r->program).empty()) missing->push_back(r);
  }
}

}  // namespace

Problems MissingPrograms(bool virtual_display, bool screenshots) {
  std::vector<const Requirement*> missing;
  Check(std::begin(kWine), std::end(kWine), &missing);
  if (virtual_display) Check(std::begin(kVirtualDisplay), std::end(kVirtualDisplay), &missing);
  if (screenshots) Check(std::begin(kScreenshots), std::end(kScreenshots), &missing);
  if (missing.empty()) return {};
  std::string programs;
  std::string packages;
  for (const Requirement* r : missing) {
    programs += (programs.empty() ? "" : ", ") + std::string(r->program) + " (Debian package " + r->packages + ")";
    const std::string names = r->packages;
    size_t start = 0;
    while (start < names.size()) {
      size_t end = names.find(' ', start);
      if (end == std::string::npos) end = names.size();
      const std::string name = names.substr(start, end - start);
      if ((" " + packages + " ").find(" " + name + " ") == std::string::npos) packages += (packages.empty() ? "" : " ") + name;
      start = end + 1;
    }
  }
  return {Problem{"kovsea try", std::nullopt, "needs programs that are not installed: " + programs,
                  "install them with `sudo apt install " + packages + "`" +
                      (packages.find(":i386") != std::string::npos ? " (after `sudo dpkg --add-architecture i386`)" : "")}};
}

}  // namespace trial
