// The order of a whole run: the extraction under the progress dialog, then the restart step.
// The Win32 entry point makes the hidden owner window and calls RunStub, nothing else.
#pragma once

#include <stdint.h>

#include "extraction_worker.h"
#include "platform_run.h"

// Runs ExtractArchive under the progress dialog owned by `owner` and returns its result;
// `outcome` receives what the restart step needs to know of the run.
int32_t RunExtraction(platform::Window owner, RunOutcome* outcome);
// The whole program after start-up: returns the process exit code, always 1.
int RunStub(platform::Window hidden_owner_window);
