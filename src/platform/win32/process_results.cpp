// Waits with a limit and exit codes: what a run on behalf of a deployment system (kovsea.exe's
// install) needs of a process beyond what the stub does. A file of its own, so that the stub,
// which waits without limit and reads no exit code, imports none of it.
#include "platform_run.h"
#include "win32_platform.h"

namespace platform {

bool WaitForProcessFor(Process* process, uint32_t milliseconds) {
  return WaitForSingleObject(reinterpret_cast<HANDLE>(process), milliseconds) == WAIT_OBJECT_0;
}

bool ProcessExitCode(Process* process, uint32_t* exit_code) {
  DWORD code = 0;
  if (!GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &code)) return false;
  *exit_code = code;
  return true;
}

}  // namespace platform
