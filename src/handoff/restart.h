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
#pragma once

#include <stdint.h>

constexpr char kProductKeyPath[] = "Software\\Orvane\\KOV";
constexpr char kProductParentKeyPath[] = "Software\\Orvane";
constexpr char kProductSubkeyName[] = "KOV";
constexpr char kRebootValueName[] = "Reboot";
constexpr char kRunKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunValueName[] = "Run KOV SEA Installer on Reboot";

// Each returns 1 when its key could be opened or created, else 0; the value operation's
// own outcome is not reported.
int SetRebootRequest(uint32_t value);
int SetRunOnReboot(const char* path);
int ClearRunOnReboot();
int DeleteProductKey();
// 0 unless the product key opens and "Reboot" holds at most 4 bytes.
uint32_t GetRebootRequest();
// Enables the shutdown privilege on the NT family and asks the system to restart.
int RebootSystem();
void RestartStep();

// Whether this process has reset the request to 0 (and so may act on the installer's answer).
bool RebootRequestResetByThisRun();
void ForgetRebootRequestResetForTesting();
