// The entry decoder: turns the entry stream into directories and files under the
// extraction root.
//
// Two layers meet at a single byte. ReadArchiveByte serves the stream from 512-byte blocks,
// reports progress every tenth block and notices cancellation; DecodeArchiveByte is a state
// machine fed one byte at a time that never looks ahead. DecodeArchive joins them and copies
// runs of file data straight from the block buffer, exactly as the byte-at-a-time loop would.
//
// The decoder never shows anything. Its first failure is recorded in the state (what went
// wrong and the path concerned) and handed to the state's failure hook at once: the stub
// turns it into an error box, the packer reads the record afterwards and prints a line.
#pragma once

#include <stdint.h>

#include "archive_format.h"
#include "cleanup_list.h"
#include "platform_files.h"


constexpr uint32_t kBlockSize = 512;
constexpr uint32_t kBlocksPerProgressStep = 10;
// Runs of file data at least this many whole blocks long are copied file to file where the
// platform can (see CopyBetween), in chunks of at most kCopyChunkBlocks so that a cancel is
// noticed within a chunk.
constexpr uint32_t kCopyShortcutBlocks = 128;  // 64 KiB
constexpr uint32_t kCopyChunkBlocks = 2048;    // 1 MiB

// Why the decoder stopped a stream.
enum class EntryFailure {
  kNone,
  kBadName,            // a name the stub may not create; `name_problem` says why
  kNameTooLong,        // 264 name bytes without the terminating zero
  kPathTooLong,        // the root and the name make more than 259 characters
  kNoMemory,           // the entry's clean-up node could not be allocated
  kCannotCreate,       // the platform refused to create the directory's file or the file
  kCannotWrite,        // a write or the close of the entry's file failed
  kArchiveUnreadable,  // reading the archive failed (not its end: an error)
};
// What happened to the entry, in words that follow its name ("\"Disk1\\a.cab\" could not be
// created").
const char* DescribeEntryFailure(EntryFailure failure);

struct DecodeFailure {
  EntryFailure kind;
  NameProblem name_problem;       // for kBadName
  char path[kMaxPathLength + 1];  // the root and the entry's name, cut to fit
};

struct ExtractionState;
// Called once, when the first failure has been recorded.
using FailureHook = void (*)(const ExtractionState* state);
// Called at every progress point with the percentage done; a non-zero result means the user
// has cancelled (the stub passes the progress dialog's SetProgress through it).
using ProgressHook = int32_t (*)(void* context, int32_t percent);

// The decoder's whole state, with the fields and sizes the stub's format fixes: the name and
// the root hold 263 characters and a terminator (kEntryNameCapacity), more than the 259 of a
// Windows path (kMaxPathLength), because a name is checked for its length only once it is
// read whole. The packer's readers use the same state, so that they decode exactly as the
// stub does.
struct ExtractionState {
  platform::File* archive_file;  // positioned inside the entry stream
  platform::File* output_file;   // the file whose data is being copied; null between entries
  const ArchiveTrailer* trailer;
  uint32_t blocks_loaded;
  int32_t block_position;  // next byte of decode_buffer to serve, 0..512
  uint32_t archive_size;
  uint8_t* decode_buffer;  // kBlockSize bytes, owned by the worker
  uint8_t* read_buffer;    // kBlockSize bytes, owned by the worker
  void* dialog_window;  // owner of the stub's error boxes; the decoder only passes it on
  int32_t error_flag;   // set when extraction must stop; never cleared
  int32_t header_mode;  // 1 while reading an entry header, 0 while copying file data
  char entry_name[kEntryNameCapacity];
  uint32_t entry_size;
  uint32_t bytes_written;
  uint32_t header_bytes_seen;  // 0..3 size bytes, 4 and on name bytes
  char extraction_root[kEntryNameCapacity];  // ends in a backslash
  CleanupList cleanup_list;
  void* progress_context;       // the progress dialog's record in the stub
  ProgressHook report_progress;  // null: no progress is shown and nothing cancels
  DecodeFailure failure;  // the first failure; kind kNone while there was none
  FailureHook report_failure;  // null: failures are only recorded
};

// Zero-fills `state` and sets it up to decode the stream of `trailer` from `archive_file`,
// which must already be positioned at the stream's start. The root is left empty (entries
// are then created at the paths their names give); no window, hook or progress is set.
void PrepareExtractionState(ExtractionState* state, platform::File* archive_file,
                            const ArchiveTrailer* trailer, uint8_t* decode_buffer,
                            uint8_t* read_buffer);
// True when the stream ended on an entry boundary with nothing left open or failed.
bool EndedOnEntryBoundary(const ExtractionState* state);
// Where, in the file, the entry begins that the decoder is in or stopped in.
uint64_t CurrentEntryOffset(const ExtractionState* state);

// The next byte of the stream (0..255), or -1 when the stream is exhausted, the error flag
// is set or the user cancelled.
int ReadArchiveByte(ExtractionState* state);
// Consumes one byte; always returns 1.
int DecodeArchiveByte(int byte, ExtractionState* state);
// Decodes the whole stream, copying file data in runs (and long runs file to file where the
// platform can).
void DecodeArchive(ExtractionState* state);
// Closes the output file if one is open; a failed close is reported like a failed write.
void CloseOutputFile(ExtractionState* state);
