// `kovsea install`: a self-extractor's installer run unattended, as a deployment system runs
// it. Only the Windows build can run an installer.
#include <stdio.h>

#include "commands.h"
#include "install_result.h"

int InstallCommand(const InstallOptions& options) {
#ifdef _WIN32
  return static_cast<int>(RunUnattendedInstall(options));
#else
  (void)options;
  fprintf(stderr,
          "kovsea: error: install runs the installer, which takes Windows: run kovsea.exe, the Windows build, "
          "on the machine to install on\n");
  return static_cast<int>(kInstallUsage);
#endif
}
