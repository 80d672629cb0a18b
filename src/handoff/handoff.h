// The hand-off to the installer: side files, start "Setup.exe", wait for it and for the
// installer engine's processes, then delete everything the run created.
#pragma once

#include <stdint.h>

#include "archive/entry_decoder.h"
#include "common/cleanup_list.h"
#include "platform/platform.h"

constexpr char kDiskDirectoryName[] = "Disk1\\";
constexpr char kSetupProgramName[] = "Setup.exe";
constexpr char kEngineWindowClass[] = "InstallShield_Win";
constexpr char kDeleteHelperWindowClass[] = "isdelete";
// Pause between passes when a found window's process cannot be opened, so the wait does
// not spin a processor for as long as that window exists.
constexpr uint32_t kUnopenedProcessPauseMs = 100;

// Resets the restart request, then (unless the error flag is set) hides the dialog, writes
// the side files, closes the archive file and runs the installer; finally deletes the
// clean-up list. The archive file is closed and the state's reference cleared when the
// installer was started.
void HandOffToInstaller(platform::File* archive_file, ExtractionState* state);
// 1 when the slot is absent or the file was written completely, else 0.
int WriteSideFile(platform::Window dialog, platform::File* archive_file, const char* directory,
                  CleanupList* cleanup_list, const char* name, uint32_t offset, uint32_t size);
// 1 when the program was started and has ended, 0 when it could not be started.
int RunSetupAndWait(platform::Window dialog, const char* directory, const char* program);
// Returns after the first pass that finds no window of either installer class.
void WaitForInstallerWindows();
// Deletes every path newest first and frees the nodes; the list is empty afterwards.
void DeleteCleanupList(CleanupList* cleanup_list);
