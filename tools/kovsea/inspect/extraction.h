// Extracting a self-extractor's files without running anything: the entries into a directory
// and the side files into its disk directory, as the stub would, never following a link out
// of the directory. It must be empty unless forced; on any problem what this run created is
// removed again, and nothing that was there before.
#pragma once

#include <stddef.h>

#include <atomic>
#include <filesystem>

#include "codepage.h"
#include "problem.h"
#include "sea_file.h"

struct Extracted {
  size_t entries = 0;
  size_t side_files = 0;
  int stopped_by = 0;  // the value of `stop` that ended the run early, 0 when none did
};

// False with `problems` when the stream is damaged, a file could not be written, or `stop`
// (set from a signal handler, say) was no longer 0 before the run was complete: the run is
// then undone as a failed one is, its temporary files beside the files that were there too.
bool ExtractSea(Sea* sea, const std::filesystem::path& out_dir, bool force, const Codepage& codepage,
                Extracted* extracted, Problems* problems, const std::atomic<int>* stop = nullptr);
