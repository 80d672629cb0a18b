// The run's error boxes: texts from the program's string table, owned by the progress dialog.
#pragma once

#include "platform_run.h"

// Loads message `text_id` and shows it in an error box owned by `owner`.
void ShowErrorMessage(platform::Window owner, int text_id, const char* caption);
// Same, with the caption loaded from the string table as well.
void ShowErrorMessageTitled(platform::Window owner, int text_id, int caption_id);
