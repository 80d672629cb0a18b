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
// during the hand-off. The root is made as CreateTempRoot makes it (temp_root.h), the
// decoder's failures are shown by ShowDecodeFailure, a step of this worker only.
int32_t ExtractArchive(ProgressDialogRecord* record, void* user_data);
