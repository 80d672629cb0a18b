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

bool RunSetupAndWait(platform::Window dialog, const char* directory, const char* program) {
  char path[kPathCapacity];
  CopyText(path, sizeof path, directory);
  const bool fits = AppendText(path, sizeof path, program);
  // The program is named by its full path, and its command line is that path in quotes: with
  // a blank in the path, an unquoted line would let "C:\Documents.exe" and the like run in
  // its place. The error caption shows that command line.
  char command_line[kPathCapacity + 2];
  command_line[0] = '\0';
  AppendQuoted(command_line, sizeof command_line, path);
  platform::Process* process = fits ? platform::StartProgram(path, command_line) : nullptr;
  if (process == nullptr) {
    ShowErrorMessage(dialog, IDS_ERR_START_EXE, command_line);
    return false;
  }
  platform::WaitForProcess(process);
  platform::CloseProcess(process);
  return true;
}

void WaitForInstallerWindows(uint64_t started_since) {
  static const char* const kClasses[] = {kEngineWindowClass, kDeleteHelperWindowClass};
  for (;;) {
    bool found = false;
    bool unopened = false;
    for (const char* window_class : kClasses) {
      uint32_t process_id = 0;
      if (!platform::FindWindowOwner(window_class, started_since, &process_id)) continue;
      found = true;
      platform::Process* process = platform::OpenProcessById(process_id);
      if (process == nullptr) {
        unopened = true;
        continue;
      }
      platform::WaitForProcess(process);
      platform::CloseProcess(process);
    }
    if (!found) return;
    if (unopened) platform::Pause(kUnopenedProcessPauseMs);
  }
}

void DeleteCleanupList(CleanupList* cleanup_list) {
  // What is held for a moment (a crashed installer's image, held by the crash handler) is
  // tried again for a few seconds, newest first each time, before it is left to the next start.
  CleanupList held = {nullptr};
  for (int pass = 0;; ++pass) {
    while (CleanupNode* node = PopCleanup(cleanup_list)) {
      const bool deleted = node->is_directory != 0 ? platform::RemoveEmptyDirectory(node->path)
                                                   : platform::DeleteFileAt(node->path);
      if (deleted || !platform::PathExists(node->path)) {
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
    platform::DeleteAtRestart(node->path);
    DiscardCleanupNode(node);
  }
}

bool HandOffToInstaller(platform::File* archive_file, ExtractionState* state) {
  const bool request_reset = SetRebootRequest(0);
  if (state->error_flag == 0) {
    platform::HideWindow(state->dialog_window);
    char disk_directory[kPathCapacity];
    CopyText(disk_directory, sizeof disk_directory, state->extraction_root);
    AppendText(disk_directory, sizeof disk_directory, kDiskDirectoryPath);
    const ArchiveTrailer& trailer = *state->trailer;
    for (int i = 0; i < kSideFileCount; ++i) {
      const SideFileSlot& slot = SideFileAt(trailer, i);
      WriteSideFile(state->dialog_window, archive_file, disk_directory, &state->cleanup_list,
                    SideFileName(i), slot.offset, slot.size);
    }
    platform::CloseFile(archive_file);
    state->archive_file = nullptr;
    const uint64_t setup_started = platform::SystemTime();
    RunSetupAndWait(state->dialog_window, disk_directory, kSetupProgram);
    WaitForInstallerWindows(setup_started);
  }
  DeleteCleanupList(&state->cleanup_list);
  return request_reset;
}
