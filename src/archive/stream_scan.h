// A look over the entry stream before anything is created: a stream that ends inside an entry
// (its size, its name or its data cut short) would extract a cut or missing file and start
// the installer anyway, so such a file is refused as a whole, as one that is not valid.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "archive_format.h"
#include "platform_files.h"

// Whether the stream of `trailer` in `file` holds whole entries from its first byte to its
// last: every size complete, every name terminated, every file's data inside the stream.
// Reads through `buffer` (`capacity` bytes), seeking over data it need not read; the file's
// position is left anywhere.
bool StreamHoldsWholeEntries(platform::File* file, const ArchiveTrailer& trailer, uint8_t* buffer, size_t capacity);
