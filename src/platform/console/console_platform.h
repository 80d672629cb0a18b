// The platform's user-interface and restart parts for a run without a window: kovsea.exe's
// install, which runs the hand-off on behalf of a deployment system. There is no dialog, no
// message box and no restart: the run's messages go to the sink its program names (a log and
// the standard error stream), the progress bar and hiding a window do nothing, and a restart
// asked for is never performed. Everything else of the seam comes from the host platform
// (files) and the Win32 platform's run part.
#pragma once

namespace platform::console {

// Receives each message the run would show in an error box: its text and its caption (the
// path or command line concerned, or the error title).
using MessageSink = void (*)(void* context, const char* text, const char* caption);
void SetMessageSink(MessageSink sink, void* context);

}  // namespace platform::console
