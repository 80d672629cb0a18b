// The entry decoder: turns the entry stream into directories and files under the
// extraction root.
//
// Two layers meet at a single byte. ReadArchiveByte serves the stream from 512-byte blocks,
// reports progress every tenth block and notices cancellation; DecodeArchiveByte is a state
// machine fed one byte at a time that never looks ahead. DecodeArchive joins them and copies
// runs of file data straight from the block buffer; DecodeArchiveByteWise is the plain
// byte-at-a-time loop, kept as the reference that the fast path must match exactly.
#pragma once

#include <stdint.h>

#include "archive/archive_format.h"
#include "common/cleanup_list.h"
#include "platform/platform.h"
#include "progress/progress_record.h"

constexpr uint32_t kBlockSize = 512;
constexpr uint32_t kBlocksPerProgressStep = 10;
// Runs of file data at least this many whole blocks long are copied file to file where the
// platform can (see CopyBetween), in chunks of at most kCopyChunkBlocks so that a cancel is
// noticed within a chunk.
constexpr uint32_t kCopyShortcutBlocks = 128;  // 64 KiB
constexpr uint32_t kCopyChunkBlocks = 2048;    // 1 MiB

struct ExtractionState {
  platform::File* archive_file;  // positioned inside the entry stream
  platform::File* output_file;   // the file whose data is being copied; null between entries
  const ArchiveTrailer* trailer;
  uint32_t blocks_loaded;
  int32_t block_position;  // next byte of decode_buffer to serve, 0..512
  uint32_t archive_size;
  uint8_t* decode_buffer;  // kBlockSize bytes, owned by the worker
  uint8_t* read_buffer;    // kBlockSize bytes, owned by the worker
  platform::Window dialog_window;
  int32_t error_flag;   // set when extraction must stop; never cleared
  int32_t header_mode;  // 1 while reading an entry header, 0 while copying file data
  char entry_name[kEntryNameCapacity];
  uint32_t entry_size;
  uint32_t bytes_written;
  uint32_t header_bytes_seen;  // 0..3 size bytes, 4 and on name bytes
  char extraction_root[kEntryNameCapacity];  // ends in a backslash
  CleanupList cleanup_list;
  ProgressDialogRecord* dialog_record;
};

// Zero-fills `state` and sets it up to decode the stream of `trailer` from `archive_file`,
// which must already be positioned at the stream's start. The root is left empty.
void PrepareExtractionState(ExtractionState* state, platform::File* archive_file,
                            const ArchiveTrailer* trailer, uint8_t* decode_buffer,
                            uint8_t* read_buffer, platform::Window dialog_window,
                            ProgressDialogRecord* dialog_record);
// True when the stream ended on an entry boundary with nothing left open or failed.
bool EndedOnEntryBoundary(const ExtractionState* state);

// The next byte of the stream (0..255), or -1 when the stream is exhausted, the error flag
// is set or the user cancelled.
int ReadArchiveByte(ExtractionState* state);
// Consumes one byte; always returns 1.
int DecodeArchiveByte(int byte, ExtractionState* state);
// Decodes the whole stream, copying file data in runs (and long runs file to file where the
// platform can).
void DecodeArchive(ExtractionState* state);
// Decodes the whole stream one byte at a time.
void DecodeArchiveByteWise(ExtractionState* state);
// Closes the output file if one is open; a failed close is reported like a failed write.
void CloseOutputFile(ExtractionState* state);
