#include "entry_decoder.h"

#include <string.h>

#include "text.h"

namespace {

// Stops the stream: sets the error flag, records the first failure with the path it concerns
// (the root and the current entry's name, cut safely when they do not fit) and reports it.
void Fail(ExtractionState* state, EntryFailure kind, NameProblem name_problem = NameProblem::kNone) {
  state->error_flag = 1;
  DecodeFailure& failure = state->failure;
  if (failure.kind != EntryFailure::kNone) return;
  failure.kind = kind;
  failure.name_problem = name_problem;
  if (kind != EntryFailure::kArchiveUnreadable) {
    CopyText(failure.path, sizeof failure.path, state->extraction_root);
    AppendText(failure.path, sizeof failure.path, state->entry_name);
  }
  if (state->report_failure != nullptr) state->report_failure(state);
}

void FinishFileData(ExtractionState* state) {
  platform::File* file = state->output_file;
  state->output_file = nullptr;
  state->header_mode = 1;
  if (!platform::CloseFile(file)) Fail(state, EntryFailure::kCannotWrite);
}

// Creates the entry whose name has just been completed.
void CreateEntry(ExtractionState* state) {
  const NameProblem problem = CheckEntryName(state->entry_name);
  if (problem != NameProblem::kNone) {
    Fail(state, EntryFailure::kBadName, problem);
    return;
  }
  char path[kMaxPathLength + 1];
  CopyText(path, sizeof path, state->extraction_root);
  if (!AppendText(path, sizeof path, state->entry_name)) {
    Fail(state, EntryFailure::kPathTooLong);
    return;
  }

  const bool is_directory = state->entry_size == kDirectoryEntrySize;
  // The node is allocated before anything is created, so nothing is ever created that the
  // clean-up would not know about.
  CleanupNode* node =
      NewCleanupNode(path, is_directory ? CleanupKind::kDirectory : CleanupKind::kFile);
  if (node == nullptr) {
    Fail(state, EntryFailure::kNoMemory);
    return;
  }

  if (is_directory) {
    // An existing directory is not an error; a directory that could not be made makes the
    // entries inside it fail instead.
    platform::MakeDirectory(path);
    LinkCleanupNode(&state->cleanup_list, node);
    state->header_bytes_seen = 0;
    return;
  }

  if (state->entry_size != 0) state->header_mode = 0;
  platform::File* file = platform::CreateForWriting(path);
  if (file == nullptr) {
    DiscardCleanupNode(node);
    Fail(state, EntryFailure::kCannotCreate);
    return;
  }
  LinkCleanupNode(&state->cleanup_list, node);
  state->header_bytes_seen = 0;
  if (state->entry_size == 0) {
    if (!platform::CloseFile(file)) Fail(state, EntryFailure::kCannotWrite);
    return;
  }
  state->output_file = file;
  state->bytes_written = 0;
}

void ConsumeHeaderByte(int byte, ExtractionState* state) {
  const uint32_t seen = state->header_bytes_seen;
  if (seen < 4) {
    const uint32_t shift = 8 * seen;
    state->entry_size = (state->entry_size & ~(0xFFu << shift)) |
                        (static_cast<uint32_t>(byte) << shift);
    state->header_bytes_seen = seen + 1;
    return;
  }
  const uint32_t at = seen - 4;
  state->entry_name[at] = static_cast<char>(byte);
  state->header_bytes_seen = seen + 1;
  if (byte == 0) {
    CreateEntry(state);
  } else if (at + 1 == kEntryNameCapacity) {
    // 264 characters without a terminator: no valid entry can follow.
    state->entry_name[at] = '\0';
    Fail(state, EntryFailure::kNameTooLong);
  }
}

// Copies as many data bytes as the current block, the stream and the entry allow, exactly as
// ReadArchiveByte and DecodeArchiveByte would have served and written them one by one.
void CopyDataRun(ExtractionState* state) {
  if (state->error_flag != 0 || state->header_mode != 0 || state->output_file == nullptr) return;
  const uint64_t served =
      uint64_t{state->blocks_loaded - 1} * kBlockSize + static_cast<uint32_t>(state->block_position);
  if (served >= state->archive_size) return;
  uint64_t run = kBlockSize - static_cast<uint32_t>(state->block_position);
  const uint64_t stream_left = state->archive_size - served;
  const uint64_t entry_left = state->entry_size - state->bytes_written;
  if (stream_left < run) run = stream_left;
  if (entry_left < run) run = entry_left;
  if (run == 0) return;
  const bool written = platform::WriteBytes(
      state->output_file, state->decode_buffer + state->block_position, static_cast<size_t>(run));
  state->block_position += static_cast<int32_t>(run);
  state->bytes_written += static_cast<uint32_t>(run);
  if (!written) {
    Fail(state, EntryFailure::kCannotWrite);
    return;
  }
  if (state->bytes_written == state->entry_size) FinishFileData(state);
}

// `dividend / divisor`, cut to 32 bits, by long division: a 64-bit division would cost the
// stub the C runtime's helpers for it, twice the size of all this.
uint32_t Quotient(uint64_t dividend, uint32_t divisor) {
  uint64_t remainder = 0;
  uint32_t quotient = 0;
  for (int bit = 63; bit >= 0; --bit) {
    remainder = remainder << 1 | ((dividend >> bit) & 1);
    quotient <<= 1;
    if (remainder >= divisor) {
      remainder -= divisor;
      quotient |= 1;
    }
  }
  return quotient;
}

// Reports the progress point at the load of block `number` (every tenth block); nonzero when
// the user has cancelled.
int32_t ReportBlockProgress(ExtractionState* state, uint32_t number) {
  const uint64_t done = uint64_t{number} * kBlockSize * 100;
  const uint32_t percent = state->archive_size == 0 ? 100 : Quotient(done, state->archive_size);
  if (state->report_progress == nullptr) return 0;
  return state->report_progress(state->progress_context, static_cast<int32_t>(percent));
}

// Moves whole blocks of a long run of file data from the archive to the output file inside
// the system, where the platform can, instead of through the block buffers. The same
// progress points are reported for the same block numbers, before the blocks they precede
// are copied; a cancel ends the copy in front of its block, as the block path would.
void CopyWholeBlocks(ExtractionState* state) {
  while (state->error_flag == 0 && state->header_mode == 0 && state->output_file != nullptr &&
         state->blocks_loaded != 0 &&
         state->block_position == static_cast<int32_t>(kBlockSize)) {
    const uint64_t served = uint64_t{state->blocks_loaded} * kBlockSize;
    if (served >= state->archive_size) return;
    const uint64_t stream_left = state->archive_size - served;
    const uint64_t entry_left = state->entry_size - state->bytes_written;
    uint64_t whole = (stream_left < entry_left ? stream_left : entry_left) / kBlockSize;
    if (whole < kCopyShortcutBlocks) return;
    if (!platform::CanCopyBetween(state->archive_file, state->output_file)) return;
    if (whole > kCopyChunkBlocks) whole = kCopyChunkBlocks;
    uint32_t blocks = 0;
    for (; blocks < whole; ++blocks) {
      const uint32_t number = state->blocks_loaded + blocks;
      if (number % kBlocksPerProgressStep == 0 && ReportBlockProgress(state, number) != 0) {
        state->error_flag = 1;
        break;
      }
    }
    const uint64_t bytes = uint64_t{blocks} * kBlockSize;
    const uint64_t copied =
        bytes == 0 ? 0 : platform::CopyBetween(state->archive_file, state->output_file, bytes);
    state->blocks_loaded += static_cast<uint32_t>(copied / kBlockSize);
    state->bytes_written += static_cast<uint32_t>(copied);
    if (copied != bytes) {
      Fail(state, EntryFailure::kCannotWrite);
      return;
    }
    if (state->bytes_written == state->entry_size) FinishFileData(state);
  }
}

}  // namespace

void PrepareExtractionState(ExtractionState* state, platform::File* archive_file,
                            const ArchiveTrailer* trailer, uint8_t* decode_buffer,
                            uint8_t* read_buffer) {
  memset(state, 0, sizeof *state);
  state->archive_file = archive_file;
  state->trailer = trailer;
  state->archive_size = trailer->archive_size;
  state->decode_buffer = decode_buffer;
  state->read_buffer = read_buffer;
  state->header_mode = 1;
}

bool EndedOnEntryBoundary(const ExtractionState* state) {
  return state->error_flag == 0 && state->header_mode == 1 && state->header_bytes_seen == 0 &&
         state->output_file == nullptr;
}

uint64_t CurrentEntryOffset(const ExtractionState* state) {
  const uint64_t served =
      state->blocks_loaded == 0
          ? 0
          : uint64_t{state->blocks_loaded - 1} * kBlockSize + static_cast<uint32_t>(state->block_position);
  // Inside a header the bytes seen so far lead back to its start; inside file data, the data
  // written and the whole header (size, name and its zero) do.
  uint64_t back = 0;
  if (state->header_bytes_seen != 0) {
    back = state->header_bytes_seen;
  } else if (state->header_mode == 0) {
    back = EntryBytes(TextLength(state->entry_name), false, state->bytes_written);
  }
  return state->trailer->archive_offset + (served >= back ? served - back : 0);
}

int ReadArchiveByte(ExtractionState* state) {
  if (state->error_flag != 0) return -1;
  if (state->blocks_loaded == 0 || state->block_position == static_cast<int32_t>(kBlockSize)) {
    if (state->blocks_loaded % kBlocksPerProgressStep == 0) {
      if (ReportBlockProgress(state, state->blocks_loaded) != 0) {
        state->error_flag = 1;
        return -1;
      }
    }
    // A short read at the end of the file is served as zeros; a read error is a damaged file.
    memset(state->read_buffer, 0, kBlockSize);
    platform::ReadBytes(state->archive_file, state->read_buffer, kBlockSize);
    if (platform::ReadFailed(state->archive_file)) {
      Fail(state, EntryFailure::kArchiveUnreadable);
      return -1;
    }
    memcpy(state->decode_buffer, state->read_buffer, kBlockSize);
    state->block_position = 0;
    state->blocks_loaded += 1;
  }
  // 64-bit so that a stream close to 4 GiB cannot wrap past its end.
  const uint64_t served =
      uint64_t{state->blocks_loaded - 1} * kBlockSize + static_cast<uint32_t>(state->block_position);
  if (served >= state->archive_size) return -1;
  return state->decode_buffer[state->block_position++];
}

int DecodeArchiveByte(int byte, ExtractionState* state) {
  if (state->error_flag != 0) return 1;
  if (state->header_mode == 0) {
    const uint8_t b = static_cast<uint8_t>(byte);
    const bool written = platform::WriteBytes(state->output_file, &b, 1);
    state->bytes_written += 1;
    if (!written) {
      Fail(state, EntryFailure::kCannotWrite);
      return 1;
    }
    if (state->bytes_written == state->entry_size) FinishFileData(state);
    return 1;
  }
  ConsumeHeaderByte(byte, state);
  return 1;
}

void DecodeArchive(ExtractionState* state) {
  for (int byte = ReadArchiveByte(state); byte != -1; byte = ReadArchiveByte(state)) {
    DecodeArchiveByte(byte, state);
    CopyDataRun(state);
    CopyWholeBlocks(state);
  }
}

void CloseOutputFile(ExtractionState* state) {
  if (state->output_file == nullptr) return;
  platform::File* file = state->output_file;
  state->output_file = nullptr;
  if (!platform::CloseFile(file) && state->error_flag == 0) Fail(state, EntryFailure::kCannotWrite);
}
