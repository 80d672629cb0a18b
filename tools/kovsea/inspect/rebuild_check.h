// Whether a finished self-extractor was built from a tree: the tree packed again exactly as
// `kovsea pack` would (the stub prepared, the plan, the writer), its bytes compared as they
// come with the file less what a signer adds (the certificate table, the padding in front of
// it, the checksum and the table's header entry). Nothing is written; the comparison holds
// one chunk of the file at a time. A difference is named by the part of the rebuilt file it
// lies in: a section of the stub, with what differs there as diff names it (the program, the
// icon, the version strings, the texts' languages), an entry, a side file, the content
// digest, the trailer.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>

#include "pack_options.h"
#include "problem.h"
#include "sea_file.h"

struct RebuildComparison {
  bool compared = false;  // the tree could be packed and was compared
  uint64_t rebuilt_size = 0;
  uint64_t content_size = 0;  // of the file, less what a signer adds
  std::optional<uint64_t> first_difference;
  std::string region;  // where the first difference lies, in words

  bool Same() const { return compared && !first_difference; }
};

// Packs `options.input_dir` with `options` and compares; the problems of the tree, or the
// first difference, as problems.
Problems CompareWithRebuild(Sea* sea, const PackOptions& options, RebuildComparison* comparison);
