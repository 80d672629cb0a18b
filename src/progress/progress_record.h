// The worker's side of the progress dialog: reporting progress, learning of a Cancel, and
// finding the dialog that owns the run's error boxes. The record itself and the dialog that
// serves it are part of the platform (platform_run.h).
#pragma once

#include <stdint.h>

#include "platform_run.h"

// Stores the position the worker asks for. With `immediate`, also sends it to the bar at
// once and waits until the dialog has shown it. Returns kSeaErrorAborted once the user has
// cancelled, else 0; the position is stored (and sent) either way.
int32_t SetProgress(ProgressDialogRecord* record, int32_t position, int32_t immediate);
platform::Window GetDialogWindow(const ProgressDialogRecord* record);
