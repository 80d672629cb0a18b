// `kovsea install`: what the stub does, on behalf of a deployment system and without a window.
// The file is checked as verify checks it (its content digest, and its signature where this
// build can check one: a pin it cannot check is refused, never ignored), extracted into a fresh private root under the
// temporary directory, the side files written, "Reboot" reset, Setup.exe started with the
// installer's own arguments and waited for with every installer-engine process, everything
// deleted (what is still held, at the next restart), and the installer's restart request read
// as the stub's restart step reads it. Instead of restarting, the run ends with the exit code
// a deployment system understands (install_result.h). Windows only.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codepage.h"
#include "signature.h"

struct InstallOptions {
  std::filesystem::path file;
  Codepage codepage;
  std::vector<std::string> arguments;  // Setup.exe's, passed on exactly
  std::string log_file;                // appended to; none when empty
  bool verbose = false;                // the log's lines on stderr as well
  uint32_t timeout_seconds = 0;        // 0: wait as long as the installer runs
  std::string version;                 // kovsea's, for the log
  TrustPins pins;                      // the publisher the admin pins
  bool require_digest = false;         // refuse a file without a content digest
};

// Runs the install and returns the process's exit code.
uint32_t RunUnattendedInstall(const InstallOptions& options);
