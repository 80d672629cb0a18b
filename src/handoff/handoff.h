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

// ---- The hand-off on behalf of a deployment system ---------------------------------------
// `kovsea install` runs the same hand-off without a window: Setup.exe gets the installer's own
// arguments, the waits end when the caller's time runs out, and every step is reported. The
// stub's hand-off above has none of this, and links none of it.

// The longest command line Windows starts a program with, without its terminator.
constexpr size_t kMaxCommandLineLength = 32766;

// What a watched hand-off reports, with the meaning of each report's text, number and flag.
enum class HandOffStep {
  kRequestReset,  // ok: "Reboot" was reset to 0 (its key could be opened or created)
  kSideFile,      // text: the side file's name in the disk directory; number: its size;
                  // ok: written whole
  kSetupStarted,  // text: Setup.exe's command line; ok: it started
  kEngineWindow,  // text: a window class; number: the process owning the window;
                  // ok: the process could be opened to wait for it
  kWindowsGone,   // no window of either class is left: the deletion follows
  kDeleted,       // text: a path deleted
  kGone,          // text: a path gone already (the installer's doing, or listed twice)
  kScheduled,     // text: a path the system was asked to delete at its next start
  kNotDeleted,    // text: a path neither deleted nor scheduled: the system refused it
};

struct HandOffWatch {
  const char* arguments;  // appended to Setup.exe's quoted path after a blank; null for none
  void* context;          // passed to each hook
  void (*report)(void* context, HandOffStep step, const char* text, uint32_t number, bool ok);
  // Waits for `process` for as long as the caller allows; false when the time ran out first.
  bool (*wait)(void* context, platform::Process* process);
  // Setup.exe has ended: its exit code can be read from `process` until this returns.
  void (*ended)(void* context, platform::Process* process);
  // Pauses between passes over windows whose process cannot be opened; false when the time
  // ran out.
  bool (*pause)(void* context, uint32_t milliseconds);
  // Starts Setup.exe at `path` with `command_line` (its quoted path, a blank and `arguments`)
  // in the caller's own way; null: as platform::StartProgram does.
  platform::Process* (*start)(void* context, const char* path, const char* command_line);
};

enum class HandOffEnd {
  kSkipped,     // the error flag was set: nothing was started
  kNotStarted,  // Setup.exe could not be started (the windows were waited for all the same)
  kCompleted,   // Setup.exe and every installer-engine process have ended
  kRanOut,      // the time ran out while they still ran: they were left running
};

struct HandOffOutcome {
  bool request_reset;  // as HandOffToInstaller returns it
  HandOffEnd end;
};

// HandOffToInstaller, watched. When the time runs out, nothing is deleted under the installer
// that still runs: every path is left to the system to delete at its next start instead.
HandOffOutcome HandOffToInstaller(platform::File* archive_file, ExtractionState* state,
                                  const HandOffWatch& watch);
