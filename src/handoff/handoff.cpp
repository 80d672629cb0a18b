#include "handoff.h"

#include "error_box.h"
#include "messages.h"
#include "restart.h"
#include "text.h"

bool WriteSideFile(platform::Window dialog, platform::File* archive_file, const char* directory,
                   CleanupList* cleanup_list, const char* name, uint32_t offset, uint32_t size) {
  if (offset == 0) return true;
  char path[kPathCapacity];
  CopyText(path, sizeof path, directory);
  const bool fits = AppendText(path, sizeof path, name);
  // Copied in pieces, so that a side file of any size the format holds needs little memory.
  const uint32_t piece = size < kSideFilePiece ? (size == 0 ? 1 : size) : kSideFilePiece;
  auto* buffer = static_cast<uint8_t*>(platform::AllocateZeroed(piece));
  CleanupNode* node = fits && buffer != nullptr ? NewCleanupNode(path, CleanupKind::kFile) : nullptr;
  platform::File* file = node != nullptr ? platform::CreateForWriting(path) : nullptr;
  if (file == nullptr) {
    if (node != nullptr) DiscardCleanupNode(node);
    platform::Release(buffer);
    ShowErrorMessage(dialog, IDS_ERR_CREATE_ADMIN, path);
    return false;
  }
  // Bytes that cannot be read stay zero.
  bool readable = platform::SeekTo(archive_file, offset);
  bool written = true;
  for (uint32_t left = size; left > 0 && written;) {
    const uint32_t n = left < piece ? left : piece;
    const size_t got = readable ? platform::ReadBytes(archive_file, buffer, n) : 0;
    if (got < n) {
      readable = false;
      for (size_t i = got; i < n; ++i) buffer[i] = 0;
    }
    written = platform::WriteBytes(file, buffer, n);
    left -= n;
  }
  const bool closed = platform::CloseFile(file);
  platform::Release(buffer);
  if (!written || !closed) {
    // The installer may run without a side file, but must never read a cut one.
    platform::DeleteFileAt(path);
    DiscardCleanupNode(node);
    ShowErrorMessage(dialog, IDS_ERR_CREATE_ADMIN, path);
    return false;
  }
  LinkCleanupNode(cleanup_list, node);
  return true;
}

namespace {

// A hand-off runs as the stub runs it (Unwatched: nothing reported, Setup.exe without
// arguments, every wait as long as the process runs) or on behalf of a deployment system
// (Watched, through a HandOffWatch). Each step below is written once for both; the stub's
// instantiation compiles to what the step alone would, and the watched one is left out of
// the stub with the sections nothing calls.
struct Unwatched {
  static constexpr size_t kCommandLineCapacity = kPathCapacity + 2;
  const char* Arguments() const { return nullptr; }
  platform::Process* Start(const char* path, const char* command_line) const {
    return platform::StartProgram(path, command_line);
  }
  void Report(HandOffStep, const char*, uint32_t = 0, bool = true) const {}
  void SideFile(int, const SideFileSlot&, bool) const {}
  void Ended(platform::Process*) const {}
  bool Wait(platform::Process* process) const {
    platform::WaitForProcess(process);
    return true;
  }
  bool Pause(uint32_t milliseconds) const {
    platform::Pause(milliseconds);
    return true;
  }
  static constexpr bool RanOut() { return false; }
};

struct Watched {
  static constexpr size_t kCommandLineCapacity = kMaxCommandLineLength + 1;
  const HandOffWatch* watch;
  const char* Arguments() const { return watch->arguments; }
  platform::Process* Start(const char* path, const char* command_line) const {
    return watch->start != nullptr ? watch->start(watch->context, path, command_line)
                                   : platform::StartProgram(path, command_line);
  }
  void Report(HandOffStep step, const char* text, uint32_t number = 0, bool ok = true) const {
    watch->report(watch->context, step, text, number, ok);
  }
  void SideFile(int index, const SideFileSlot& slot, bool written) const {
    if (slot.offset != 0) Report(HandOffStep::kSideFile, SideFileName(index), slot.size, written);
  }
  void Ended(platform::Process* process) const { watch->ended(watch->context, process); }
  // Each is false, and stays false from then on, once the caller's time has run out.
  bool Wait(platform::Process* process) const {
    ran_out = ran_out || !watch->wait(watch->context, process);
    return !ran_out;
  }
  bool Pause(uint32_t milliseconds) const {
    ran_out = ran_out || !watch->pause(watch->context, milliseconds);
    return !ran_out;
  }
  bool RanOut() const { return ran_out; }
  mutable bool ran_out = false;
};

// Each step is inlined into the one function that runs it, so that the stub's steps stay
// what they were before the watched ones shared their code.
#define KOVSEA_STEP __attribute__((always_inline)) inline

// True when Setup.exe was started; it has ended unless the watch's time ran out.
template <typename Watch>
KOVSEA_STEP bool RunSetup(platform::Window dialog, const char* directory, const char* program,
                          const Watch& watch) {
  char path[kPathCapacity];
  CopyText(path, sizeof path, directory);
  const bool fits = AppendText(path, sizeof path, program);
  // The program is named by its full path, and its command line is that path in quotes: with
  // a blank in the path, an unquoted line would let "C:\Documents.exe" and the like run in
  // its place. The error caption shows that command line. Arguments follow after a blank, as
  // given; a line they do not fit into is not started.
  char command_line[Watch::kCommandLineCapacity];
  command_line[0] = '\0';
  AppendQuoted(command_line, sizeof command_line, path);
  const char* arguments = watch.Arguments();
  const bool complete = arguments == nullptr || arguments[0] == '\0' ||
                        (AppendText(command_line, sizeof command_line, " ") &&
                         AppendText(command_line, sizeof command_line, arguments));
  platform::Process* process =
      fits && complete ? watch.Start(path, command_line) : nullptr;
  watch.Report(HandOffStep::kSetupStarted, command_line, 0, process != nullptr);
  if (process == nullptr) {
    ShowErrorMessage(dialog, IDS_ERR_START_EXE, command_line);
    return false;
  }
  if (watch.Wait(process)) watch.Ended(process);
  platform::CloseProcess(process);
  return true;
}

// Returns early when the watch's time runs out.
template <typename Watch>
KOVSEA_STEP void WaitForWindows(uint64_t started_since, const Watch& watch) {
  static const char* const kClasses[] = {kEngineWindowClass, kDeleteHelperWindowClass};
  for (;;) {
    bool found = false;
    bool unopened = false;
    for (const char* window_class : kClasses) {
      uint32_t process_id = 0;
      if (!platform::FindWindowOwner(window_class, started_since, &process_id)) continue;
      found = true;
      platform::Process* process = platform::OpenProcessById(process_id);
      watch.Report(HandOffStep::kEngineWindow, window_class, process_id, process != nullptr);
      if (process == nullptr) {
        unopened = true;
        continue;
      }
      const bool ended = watch.Wait(process);
      platform::CloseProcess(process);
      if (!ended) return;
    }
    if (!found) return;
    if (unopened && !watch.Pause(kUnopenedProcessPauseMs)) return;
  }
}

// What is held for a moment (a crashed installer's image, held by the crash handler) is
// tried again for a few seconds, newest first each time, before it is left to the next start.
template <typename Watch>
KOVSEA_STEP void DeleteList(CleanupList* cleanup_list, const Watch& watch) {
  CleanupList held = {nullptr};
  for (int pass = 0;; ++pass) {
    while (CleanupNode* node = PopCleanup(cleanup_list)) {
      const bool deleted = node->is_directory != 0 ? platform::RemoveEmptyDirectory(node->path)
                                                   : platform::DeleteFileAt(node->path);
      if (deleted || !platform::PathExists(node->path)) {
        watch.Report(deleted ? HandOffStep::kDeleted : HandOffStep::kGone, node->path);
        DiscardCleanupNode(node);
      } else {
        LinkCleanupNode(&held, node);
      }
    }
    // `held` is newest last; turned over, it is the list in its order again.
    while (CleanupNode* node = PopCleanup(&held)) LinkCleanupNode(cleanup_list, node);
    if (cleanup_list->head == nullptr || pass + 1 == kHeldRetryPasses) break;
    platform::Pause(kHeldRetryPauseMs);
  }
  while (CleanupNode* node = PopCleanup(cleanup_list)) {
    const bool scheduled = platform::DeleteAtRestart(node->path);
    watch.Report(scheduled ? HandOffStep::kScheduled : HandOffStep::kNotDeleted, node->path);
    DiscardCleanupNode(node);
  }
}

// After the time ran out nothing is deleted under the installer that still runs: every path
// is left to the system to delete at its next start, newest first as always.
void ScheduleList(CleanupList* cleanup_list, const Watched& watch) {
  while (CleanupNode* node = PopCleanup(cleanup_list)) {
    const bool scheduled = platform::DeleteAtRestart(node->path);
    watch.Report(scheduled ? HandOffStep::kScheduled : HandOffStep::kNotDeleted, node->path);
    DiscardCleanupNode(node);
  }
}

}  // namespace

bool RunSetupAndWait(platform::Window dialog, const char* directory, const char* program) {
  return RunSetup(dialog, directory, program, Unwatched());
}

void WaitForInstallerWindows(uint64_t started_since) { WaitForWindows(started_since, Unwatched()); }

void DeleteCleanupList(CleanupList* cleanup_list) { DeleteList(cleanup_list, Unwatched()); }

namespace {

// The stub's hand-off calls its steps as the functions above, the watched one its own.
bool RunSetupStep(platform::Window dialog, const char* directory, const Unwatched&) {
  return RunSetupAndWait(dialog, directory, kSetupProgram);
}
bool RunSetupStep(platform::Window dialog, const char* directory, const Watched& watch) {
  return RunSetup(dialog, directory, kSetupProgram, watch);
}
void WaitStep(uint64_t started_since, const Unwatched&) { WaitForInstallerWindows(started_since); }
void WaitStep(uint64_t started_since, const Watched& watch) { WaitForWindows(started_since, watch); }
void DeleteStep(CleanupList* cleanup_list, const Unwatched&) { DeleteCleanupList(cleanup_list); }
void DeleteStep(CleanupList* cleanup_list, const Watched& watch) {
  DeleteList(cleanup_list, watch);
}
void ScheduleStep(CleanupList*, const Unwatched&) {}
void ScheduleStep(CleanupList* cleanup_list, const Watched& watch) {
  ScheduleList(cleanup_list, watch);
}

template <typename Watch>
KOVSEA_STEP HandOffOutcome HandOff(platform::File* archive_file, ExtractionState* state,
                                   const Watch& watch) {
  HandOffOutcome outcome = {SetRebootRequest(0), HandOffEnd::kSkipped};
  watch.Report(HandOffStep::kRequestReset, nullptr, 0, outcome.request_reset);
  if (state->error_flag == 0) {
    platform::HideWindow(state->dialog_window);
    char disk_directory[kPathCapacity];
    CopyText(disk_directory, sizeof disk_directory, state->extraction_root);
    AppendText(disk_directory, sizeof disk_directory, kDiskDirectoryPath);
    const ArchiveTrailer& trailer = *state->trailer;
    for (int i = 0; i < kSideFileCount; ++i) {
      const SideFileSlot& slot = SideFileAt(trailer, i);
      const bool written = WriteSideFile(state->dialog_window, archive_file, disk_directory,
                                         &state->cleanup_list, SideFileName(i), slot.offset,
                                         slot.size);
      watch.SideFile(i, slot, written);
    }
    platform::CloseFile(archive_file);
    state->archive_file = nullptr;
    const uint64_t setup_started = platform::SystemTime();
    const bool started = RunSetupStep(state->dialog_window, disk_directory, watch);
    if (!watch.RanOut()) {
      WaitStep(setup_started, watch);
      if (!watch.RanOut()) watch.Report(HandOffStep::kWindowsGone, nullptr);
    }
    outcome.end = watch.RanOut() ? HandOffEnd::kRanOut
                  : started      ? HandOffEnd::kCompleted
                                 : HandOffEnd::kNotStarted;
  }
  if (watch.RanOut()) {
    ScheduleStep(&state->cleanup_list, watch);
  } else {
    DeleteStep(&state->cleanup_list, watch);
  }
  return outcome;
}

}  // namespace

bool HandOffToInstaller(platform::File* archive_file, ExtractionState* state) {
  return HandOff(archive_file, state, Unwatched()).request_reset;
}

HandOffOutcome HandOffToInstaller(platform::File* archive_file, ExtractionState* state,
                                  const HandOffWatch& watch) {
  const Watched watched = {&watch};
  return HandOff(archive_file, state, watched);
}
