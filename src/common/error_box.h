// Error boxes with their text from the program's string table.
#pragma once

#include "platform/platform.h"

// Loads message `text_id` and shows it in an error box owned by `owner`.
void ShowErrorMessage(platform::Window owner, int text_id, const char* caption);
// Same, with the caption loaded from the string table as well.
void ShowErrorMessageTitled(platform::Window owner, int text_id, int caption_id);
