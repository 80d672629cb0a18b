// The exit codes of `kovsea install`, as deployment systems read them, and how the installer's
// answer becomes one. The Windows codes keep their Windows meaning: 3010 "success, restart
// required", 1641 "success, restart started", 1460 "the time ran out".
#pragma once

#include <stdint.h>

#include <string>

constexpr uint32_t kInstallSucceeded = 0;
// kovsea's own failure: not a valid self-extractor, no extraction root, Setup.exe not started.
constexpr uint32_t kInstallFailed = 1;
constexpr uint32_t kInstallUsage = 2;
constexpr uint32_t kInstallRanOut = 1460;           // --timeout passed; the installer still runs
constexpr uint32_t kInstallRestartStarted = 1641;   // only from Setup.exe itself
constexpr uint32_t kInstallRestartRequired = 3010;  // "Reboot" 1, 2 or 3, or Setup.exe's own

// The result of a run in which Setup.exe ended with `setup_exit_code` and the installer left
// `restart_request` in "Reboot": Setup.exe's own non-zero code wins; otherwise 3010 when a
// restart was asked for (1, 2 or 3), and 0 when nothing was.
uint32_t InstallExitCode(uint32_t setup_exit_code, uint32_t restart_request);
// What a restart request asks for, in words ("restart", "nothing", ...).
std::string DescribeRestartRequest(uint32_t request);
// What an exit code of install means, in words. `from_setup` says whether it is Setup.exe's
// own code passed on, which keeps the installer's meaning: its 1460 is not kovsea's timeout.
std::string DescribeInstallExitCode(uint32_t code, bool from_setup = false);
// The one line every run ends with, in the log and on stderr: "exit code 3010: success,
// restart required".
std::string ResultLine(uint32_t code, bool from_setup);
