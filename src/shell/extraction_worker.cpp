#include "extraction_worker.h"

#include <string.h>

#include "error_box.h"
#include "handoff.h"
#include "messages.h"
#include "sea_result.h"
#include "stream_scan.h"
#include "text.h"
#include "trailer_locator.h"

namespace {

// The temporary directory is asked for with room for one more character than a path holds,
// so that a directory too long to take the root's name is seen as such.
constexpr size_t kTempPathCapacity = kPathCapacity + 1;
// A drawn root name that is taken already (by another run, or left by one) is drawn again,
// this many times in all.
constexpr int kRootAttempts = 10;

// Opens the program's own file and reads and checks its trailer. Null when the file cannot
// be opened or does not hold a usable archive.
platform::File* OpenOwnArchive(ArchiveTrailer* trailer) {
  platform::File* file = platform::OpenOwnExecutable();
  if (file == nullptr) return nullptr;
  TrailerLocation location;
  uint8_t raw[kTrailerSize];
  const bool read = LocateTrailer(file, &location, raw);
  if (read) DecodeTrailer(raw, trailer);
  if (!read || CheckTrailer(*trailer, location.trailer_offset) != TrailerProblem::kNone ||
      !platform::SeekTo(file, trailer->archive_offset)) {
    platform::CloseFile(file);
    return nullptr;
  }
  return file;
}

// The decoder's progress points go to the progress dialog; a Cancel comes back from there.
int32_t ReportToDialog(void* record, int32_t percent) {
  return SetProgress(static_cast<ProgressDialogRecord*>(record), percent, 0);
}

// The error box for the decoder's first failure, shown the moment it is recorded.
void ShowDecodeFailure(const ExtractionState* state) {
  if (state->failure.kind == EntryFailure::kArchiveUnreadable) {
    ShowErrorMessageTitled(state->dialog_window, IDS_ERR_NOT_SEA, IDS_ERROR_TITLE);
  } else {
    ShowErrorMessage(state->dialog_window, IDS_ERR_CREATE_FILE, state->failure.path);
  }
}

}  // namespace

void FormatRootSuffix(int r1, int r2, char out[kRootSuffixDigits + 1]) {
  static const char kDigits[] = "0123456789abcdef";
  uint32_t product = static_cast<uint32_t>(r1) * static_cast<uint32_t>(r2);
  char reversed[8];
  int count = 0;
  do {
    reversed[count++] = kDigits[product & 0xF];
    product >>= 4;
  } while (product != 0);
  int kept = count < kRootSuffixDigits ? count : kRootSuffixDigits;
  for (int i = 0; i < kept; ++i) out[i] = reversed[count - 1 - i];
  out[kept] = '\0';
}

namespace {

// Makes the extraction root and records it first on the clean-up list; 0 or kSeaErrorAborted
// (after the error box).
int32_t CreateTempRoot(ExtractionState* state) {
  char* root = state->extraction_root;
  const size_t length = platform::TemporaryDirectory(root, kTempPathCapacity);
  // The root and its added characters must fit a clean-up node's path.
  bool ok = length > 0 && length < kTempPathCapacity &&
            length + kRootAddedCharacters <= kMaxPathLength;
  if (ok) {
    platform::SeedRandom();
    ok = false;
    for (int attempt = 0; attempt < kRootAttempts && !ok; ++attempt) {
      root[length] = '\0';
      const int r1 = platform::NextRandom();
      const int r2 = platform::NextRandom();
      char suffix[kRootSuffixDigits + 1];
      FormatRootSuffix(r1, r2, suffix);
      AppendText(root, sizeof state->extraction_root, kRootPrefix);
      AppendText(root, sizeof state->extraction_root, suffix);
      AppendText(root, sizeof state->extraction_root, "\\");
      CleanupNode* node = NewCleanupNode(root, CleanupKind::kDirectory);
      if (node == nullptr) break;
      ok = platform::MakePrivateDirectory(root);
      if (ok) {
        LinkCleanupNode(&state->cleanup_list, node);
      } else {
        DiscardCleanupNode(node);
      }
    }
  }
  if (ok) return kSeaSuccess;
  ShowErrorMessageTitled(state->dialog_window, IDS_ERR_TEMP_DIR, IDS_ERROR_TITLE);
  return kSeaErrorAborted;
}

}  // namespace

int32_t ExtractArchive(ProgressDialogRecord* record, void* user_data) {
  const platform::Window dialog = GetDialogWindow(record);

  ArchiveTrailer trailer;
  memset(&trailer, 0, sizeof trailer);
  platform::File* archive = OpenOwnArchive(&trailer);
  if (archive == nullptr) {
    ShowErrorMessageTitled(dialog, IDS_ERR_NOT_SEA, IDS_ERROR_TITLE);
    return kSeaErrorAborted;
  }

  uint8_t decode_buffer[kBlockSize];
  uint8_t read_buffer[kBlockSize];
  // A stream cut short would extract a cut or missing file: refused before anything is made.
  if (!StreamHoldsWholeEntries(archive, trailer, read_buffer, sizeof read_buffer) ||
      !platform::SeekTo(archive, trailer.archive_offset)) {
    platform::CloseFile(archive);
    ShowErrorMessageTitled(dialog, IDS_ERR_NOT_SEA, IDS_ERROR_TITLE);
    return kSeaErrorAborted;
  }
  ExtractionState state;
  PrepareExtractionState(&state, archive, &trailer, decode_buffer, read_buffer);
  state.dialog_window = dialog;
  state.progress_context = record;
  state.report_progress = ReportToDialog;
  state.report_failure = ShowDecodeFailure;

  const int32_t root = CreateTempRoot(&state);
  if (root != kSeaSuccess) {
    platform::CloseFile(archive);
    return root;
  }
  DecodeArchive(&state);
  CloseOutputFile(&state);
  memset(decode_buffer, 0, sizeof decode_buffer);
  memset(read_buffer, 0, sizeof read_buffer);
  SetProgress(record, 100, 1);
  const bool request_reset = HandOffToInstaller(archive, &state);
  if (user_data != nullptr) static_cast<RunOutcome*>(user_data)->request_reset = request_reset;
  // The hand-off closes the archive before it starts the installer; a failed run still
  // holds it.
  if (state.archive_file != nullptr) platform::CloseFile(state.archive_file);
  return state.error_flag != 0 ? kSeaErrorAborted : kSeaSuccess;
}
