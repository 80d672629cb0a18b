// A picture of part of an X display, taken with ImageMagick's import.
#pragma once

#include <string>

namespace trial {

// Whether pictures can be taken at all (import is installed).
bool CanTakeScreenshots();
// Saves the rectangle (screen coordinates, which Wine's windows share with the X screen) of
// `display` as a PNG file; false when import failed.
bool TakeScreenshot(const std::string& display, int x, int y, int width, int height, const std::string& path);

}  // namespace trial
