// The restart protocol with the installer.
//
// The installer answers through one registry value, "Reboot", in the product key under the
// machine-wide root: 1 restart, 2 restart and run this program again at the next log-on,
// 3 delete the product key and restart; anything else asks for nothing. The hand-off sets it
// to 0 before the installer starts; RestartStep reads it after the dialog has closed.
//
// RestartStep acts only on an answer from this run's installer, that is, only when this
// run's hand-off did reset the request. A run that stopped earlier (a damaged file, no
// extraction root) restarts nothing: acting on an older run's leftover would restart a
// machine for nothing, and a leftover 2 would restart it at every log-on for ever.
//
// "Run again" goes through the machine's RunOnce key, with the program's path in quotes:
// Windows deletes a RunOnce value before it runs the command, so the next run cannot loop,
// and User Account Control prompts for it where it silently skips an elevated program in the
// Run key. Every restart step removes the value from both keys, also one an older build left
// in Run.
#pragma once

#include <stdint.h>

constexpr char kProductKeyPath[] = "Software\\Orvane\\KOV";
constexpr char kProductParentKeyPath[] = "Software\\Orvane";
constexpr char kProductSubkeyName[] = "KOV";
constexpr char kRebootValueName[] = "Reboot";
constexpr char kRunKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunOnceKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char kRunValueName[] = "Run KOV SEA Installer on Reboot";

// Each returns true when its key could be opened or created; the value operation's own
// outcome is not reported.
bool SetRebootRequest(uint32_t value);
// Registers `path` (the program's own, unquoted) to run once at the next log-on, quoted.
bool SetRunOnReboot(const char* path);
// Removes the run-again value from the RunOnce and the Run key; true when either opened.
bool ClearRunOnReboot();
bool DeleteProductKey();
// 0 unless the product key opens and "Reboot" holds at most 4 bytes.
uint32_t GetRebootRequest();
// Enables the shutdown privilege on the NT family and asks the system to restart.
bool RebootSystem();
// Removes the run-again value, then acts on the installer's answer when
// `request_reset_by_this_run` says the answer is this run's.
void RestartStep(bool request_reset_by_this_run);
// The restart step of a run on behalf of a deployment system (kovsea install), which owns the
// restarts: removes the run-again value and reads the installer's answer as RestartStep does,
// deleting the product key for 3, but restarts nothing and registers nothing to run again.
// Returns the answer for the caller to report; 0 when it is not this run's.
uint32_t TakeRestartRequest(bool request_reset_by_this_run);
