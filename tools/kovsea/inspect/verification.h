// Whether a finished self-extractor is well formed: its trailer and signature, its entry
// stream read with the stub's own decoder, the entry count, and every entry's path against
// the longest Windows allows under the user's temporary directory. A new check of a finished
// file goes here, as one more Problem.
#pragma once

#include <stdint.h>

#include "codepage.h"
#include "problem.h"
#include "sea_file.h"

// Every problem of `sea`; none when it is well formed and every entry extracts under a
// temporary directory of `temp_length` characters.
Problems VerifySea(Sea* sea, const Codepage& codepage, uint32_t temp_length);
