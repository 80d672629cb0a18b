// The Windows build: no libgettextpo, so no .po file is read.
#include "po_file.h"

bool ReadPoFile(const std::filesystem::path& path, PoFile*, Problems* problems) {
  problems->push_back(Problem{path.string(), std::nullopt, "this kovsea reads no .po files (its Windows build has no libgettextpo)",
                              "add the translations with kovsea on Linux"});
  return false;
}
