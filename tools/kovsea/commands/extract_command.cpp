// `kovsea extract`: the files of a self-extractor written into a directory, nothing run.
#include <stdio.h>

#include "commands.h"
#include "extraction.h"

namespace fs = std::filesystem;

int ExtractCommand(const fs::path& path, const fs::path& out_dir, bool force, const Codepage& codepage) {
  Sea sea;
  Problems problems;
  Extracted extracted;
  if (!OpenUsableSea(path, &sea, &problems) || !ExtractSea(&sea, out_dir, force, codepage, &extracted, &problems)) {
    PrintErrors(problems);
    return 1;
  }
  printf("extracted %lu entries and %lu side files into %s\n", static_cast<unsigned long>(extracted.entries),
         static_cast<unsigned long>(extracted.side_files), out_dir.string().c_str());
  return 0;
}
