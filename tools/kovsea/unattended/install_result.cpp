#include "install_result.h"

namespace {

bool AsksForRestart(uint32_t request) { return request >= 1 && request <= 3; }

}  // namespace

uint32_t InstallExitCode(uint32_t setup_exit_code, uint32_t restart_request) {
  if (setup_exit_code != 0) return setup_exit_code;
  return AsksForRestart(restart_request) ? kInstallRestartRequired : kInstallSucceeded;
}

std::string DescribeRestartRequest(uint32_t request) {
  switch (request) {
    case 0: return "nothing asked";
    case 1: return "restart";
    case 2: return "restart and run again (not registered: the deployment system owns restarts)";
    case 3: return "delete the product key and restart (the key is deleted)";
    default: return "not a request (" + std::to_string(request) + "): nothing asked";
  }
}

std::string DescribeInstallExitCode(uint32_t code, bool from_setup) {
  if (from_setup) {
    switch (code) {
      case kInstallRestartRequired: return "success, restart required (Setup.exe's own exit code)";
      case kInstallRestartStarted: return "success, restart started (by the installer)";
      case kInstallRanOut:
        return "Setup.exe's own exit code 1460, which kovsea passes on: the installer has ended (it is not "
               "kovsea's --timeout)";
      default: return "Setup.exe's own exit code, which kovsea passes on";
    }
  }
  switch (code) {
    case kInstallSucceeded: return "success";
    case kInstallRestartRequired: return "success, restart required";
    case kInstallRestartStarted: return "success, restart started (by the installer)";
    case kInstallRanOut: return "the time ran out (--timeout); the installer still runs";
    case kInstallFailed: return "failed";
    default: return "the installer's own exit code";
  }
}

std::string ResultLine(uint32_t code, bool from_setup) {
  return "exit code " + std::to_string(code) + ": " + DescribeInstallExitCode(code, from_setup);
}
