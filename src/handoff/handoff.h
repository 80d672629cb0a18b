// The hand-off to the installer: side files, start "Setup.exe", wait for it and for the
// installer engine's processes, then delete everything the run created.
#pragma once

#include <stdint.h>

#include "cleanup_list.h"
#include "entry_decoder.h"
#include "platform_run.h"

constexpr char kEngineWindowClass[] = "InstallShield_Win";
constexpr char kDeleteHelperWindowClass[] = "isdelete";
// Pause between passes when a found window's process cannot be opened, so the wait does
// not spin a processor for as long as that window exists.
constexpr uint32_t kUnopenedProcessPauseMs = 100;
// What cannot be deleted at once is tried again this many times in all, this far apart
// (three seconds), before it is left to the next start.
constexpr int kHeldRetryPasses = 31;
constexpr uint32_t kHeldRetryPauseMs = 100;
// Side files are copied through a buffer of at most this many bytes.
constexpr uint32_t kSideFilePiece = 64 * 1024;

// Resets the restart request, then (unless the error flag is set) hides the dialog, writes
// the side files, closes the archive file and runs the installer; finally deletes the
// clean-up list. The archive file is closed and the state's reference cleared when the
// installer was started. Returns whether the restart request was reset to 0, that is,
// whether an answer found there afterwards comes from this run's installer.
bool HandOffToInstaller(platform::File* archive_file, ExtractionState* state);
// True when the slot is absent or the file was written whole. A file that could not be
// written whole is deleted again at once, so that the installer never reads a cut one.
bool WriteSideFile(platform::Window dialog, platform::File* archive_file, const char* directory,
                   CleanupList* cleanup_list, const char* name, uint32_t offset, uint32_t size);
// True when the program was started and has ended, false when it could not be started.
bool RunSetupAndWait(platform::Window dialog, const char* directory, const char* program);
// Returns after the first pass that finds no window of either installer class.
// Only windows of processes started at `started_since` (a platform::SystemTime) or later
// count: those of the run's installer and what it started; another program's installer
// engine, open since before the run, does not hold it. 0 counts every window.
void WaitForInstallerWindows(uint64_t started_since = 0);
// Deletes every path newest first and frees the nodes; the list is empty afterwards. What
// cannot be deleted now (held open by a process that outlived the installer) is left to the
// system to delete at its next start, in the same order, so directories follow their files.
void DeleteCleanupList(CleanupList* cleanup_list);
