// The extraction worker: a whole run from the program's own file, on the dialog's worker
// thread. Validates the trailer, makes a fresh extraction root under the temporary
// directory, decodes the entry stream, shows 100 % and hands over to the installer. It
// strings the format layer (the decoder) and the hand-off together, and turns the decoder's
// failures into the run's error boxes.
#pragma once

#include <stdint.h>

#include "entry_decoder.h"
#include "progress_record.h"

// What a run leaves for the restart step after the dialog has closed: whether its hand-off
// reset the restart request, so that an answer found there is this run's installer's.
struct RunOutcome {
  bool request_reset;
};

// Worker callback for RunProgressDialog; `user_data` is a RunOutcome (or null). Returns
// kSeaErrorAborted when the file is not a valid archive, the root cannot be made, an entry
// cannot be created or a Cancel was seen at a progress point; otherwise 0, whatever happened
// during the hand-off. The root is made by CreateTempRoot (below), the decoder's failures are
// shown by ShowDecodeFailure, a step of this worker only, kept in its own file.
int32_t ExtractArchive(ProgressDialogRecord* record, void* user_data);
// Makes a fresh extraction root under the temporary directory, made private as it is created,
// into the state's root, and records it first on its clean-up list; 0, or kSeaErrorAborted
// after the error box (owned by the state's dialog window).
int32_t CreateTempRoot(ExtractionState* state);
// The root's suffix for two draws: r1 * r2 in lowercase hex, at most its first five digits.
void FormatRootSuffix(int r1, int r2, char out[kRootSuffixDigits + 1]);
