// Icons: an .ico file read and checked, and the icon group of a resource tree replaced by
// its images.
//
//   ICONDIR       reserved 0, type 1, count
//   ICONDIRENTRY  16 bytes each: width, height, colours, reserved, planes, bit count,
//                 bytes in the image, offset of the image in the file
//   images        each a DIB (a BITMAPINFOHEADER and the bits) or a PNG
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "problem.h"
#include "resource_tree.h"

namespace pe {

struct IconImage {
  uint8_t width;  // 0 = 256
  uint8_t height;
  uint8_t colours;
  uint16_t planes;
  uint16_t bit_count;
  std::string data;  // a DIB (BITMAPINFOHEADER and bits) or a PNG
};

// Reads every image of an .ico file; false with `problem` (what, and the offset of the
// header or directory entry at fault) when the file is not one the system would show.
bool ParseIcoFile(const std::string& bytes, std::vector<IconImage>* images, Problem* problem);

// Replaces icon group `group` (and the icons only it uses) with `images`, numbering the new
// icons after the highest icon number in use.
void ReplaceIconGroup(ResourceTree* tree, uint16_t group, const std::vector<IconImage>& images);

}  // namespace pe
