// Writing a planned self-extractor: the stub, the entries, the side files, the padding and
// the trailer, in one pass with a progress meter on a terminal. The file is written beside
// the output under an unpredictable temporary name and moved into place only when complete,
// so that nothing is left at the output path when packing fails.
#pragma once

#include <string>

#include "pack_options.h"
#include "pack_plan.h"
#include "problem.h"

// False with `problem` when a file could not be read whole or the output not written.
bool WritePackage(const PackOptions& options, const std::string& stub, const PackPlan& plan, Problem* problem);
