#include "screenshot.h"

#include "child_process.h"

namespace trial {

bool CanTakeScreenshots() { return !FindProgram("import").empty(); }

bool TakeScreenshot(const std::string& display, int x, int y, int width, int height, const std::string& path) {
  if (width <= 0 || height <= 0) return false;
  const std::string crop = std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" +
                           std::to_string(y);
  return RunProgram({"import", "-display", display, "-window", "root", "-crop", crop, "+repage", path},
                    EnvironmentWith({"DISPLAY=" + display}), 20000) == 0;
}

}  // namespace trial
