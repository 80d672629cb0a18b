// Win32-only parts of the platform that the entry point and tests set up.
#pragma once

#include <windows.h>

namespace platform {

// The program's module instance: every string load and the dialog runner use it.
void SetInstanceHandle(HINSTANCE instance);
HINSTANCE InstanceHandle();

}  // namespace platform
