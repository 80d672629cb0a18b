// The order of a whole run: the hidden owner window, the extraction under the progress
// dialog, then the restart step. The Win32 entry point calls RunStub and nothing else.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

// Runs ExtractArchive under the progress dialog owned by `owner` and returns its result.
int32_t RunExtraction(platform::Window owner);
// The whole program after start-up: returns the process exit code, always 1.
int RunStub(platform::Window hidden_owner_window);
