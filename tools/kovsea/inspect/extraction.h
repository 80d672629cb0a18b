// Extracting a self-extractor's files without running anything: the entries into a directory
// and the side files into its disk directory, as the stub would, never following a link out
// of the directory. It must be empty unless forced; on any problem what this run created is
// removed again, and nothing that was there before.
#pragma once

#include <stddef.h>

#include <filesystem>

#include "codepage.h"
#include "problem.h"
#include "sea_file.h"

struct Extracted {
  size_t entries = 0;
  size_t side_files = 0;
};

// False with `problems` when the stream is damaged or a file could not be written.
bool ExtractSea(Sea* sea, const std::filesystem::path& out_dir, bool force, const Codepage& codepage,
                Extracted* extracted, Problems* problems);
