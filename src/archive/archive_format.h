// The self-extractor's file layout, shared by the stub (which reads it) and the packer
// (which writes it).
//
//   offset 0                                                           file length
//   +----------------+----------------------------+-- - - --+-------------------+
//   | stub PE image  | entry stream               | side    | trailer (52 bytes)|
//   |                | entry, entry, ...          | files   | "KOVSEA" ...      |
//   +----------------+----------------------------+-- - - --+-------------------+
//                    ^ archive_offset, archive_size bytes long
//
// The trailer is found by its position (the last 52 bytes, or the 52 in front of a code
// signature's certificate table: see trailer_locator.h), never by scanning. All integers
// are unsigned 32-bit little-endian; offsets are absolute from the start of the file.
//
// Entry:  size (4)  name (1..264 bytes, ANSI, backslash-separated, zero-terminated)  data
//         size 0xFFFFFFFF = directory (no data), 0 = empty file, else that many data bytes.
// Entries follow each other with no padding; a directory precedes everything inside it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "install_layout.h"
#include "text.h"

constexpr size_t kTrailerSize = 52;
constexpr char kTrailerMagic[6] = {'K', 'O', 'V', 'S', 'E', 'A'};
constexpr uint32_t kDirectoryEntrySize = 0xFFFFFFFFu;
constexpr uint32_t kMaxFileEntrySize = 0xFFFFFFFEu;
constexpr size_t kEntryNameCapacity = 264;  // 263 characters and the terminator

// The bytes an entry takes in the stream: its size field, its name and the name's zero, and
// a file's data.
inline uint64_t EntryBytes(size_t name_length, bool is_directory, uint64_t data_size) {
  return 4 + uint64_t{name_length} + 1 + (is_directory ? 0 : data_size);
}

struct SideFileSlot {
  uint32_t offset;  // 0 = absent
  uint32_t size;
};

// The side-file slots are named after their files (install_layout.h): admin, client, net,
// setup, in this order.
#define KOVSEA_SIDE_FILE_FIELD(field, file, option, key) SideFileSlot field;
struct ArchiveTrailer {
  char magic[6];
  uint32_t archive_offset;
  uint32_t archive_size;
  uint32_t entry_count;  // informational; the reader ends the stream by archive_size alone
  KOVSEA_SIDE_FILES(KOVSEA_SIDE_FILE_FIELD)
};
#undef KOVSEA_SIDE_FILE_FIELD

// One entry's header as it stands in the stream.
struct ArchiveEntry {
  uint32_t size;
  char name[kEntryNameCapacity];
};

// The side-file slots in trailer order.
const SideFileSlot& SideFileAt(const ArchiveTrailer& trailer, int index);
SideFileSlot& SideFileAt(ArchiveTrailer& trailer, int index);
// The file name each slot is written under in the disk directory.
const char* SideFileName(int index);

void EncodeTrailer(const ArchiveTrailer& trailer, uint8_t out[kTrailerSize]);
void DecodeTrailer(const uint8_t in[kTrailerSize], ArchiveTrailer* trailer);
bool HasTrailerMagic(const ArchiveTrailer& trailer);

// Why a trailer does not describe a usable archive inside a file of a given length.
enum class TrailerProblem {
  kNone,
  kBadMagic,
  kEmptyArchive,        // archive size 0
  kArchiveOutsideFile,  // the entry stream does not lie before the trailer
  kSlotOutsideFile,     // a present side file does not lie before the trailer
  kSlotInsideArchive,   // a side file overlaps the stub image or the entry stream
  kSlotsOverlap,        // two side files share bytes
};
// Checks magic, a non-empty stream and that the stream and every present slot end at or
// before `trailer_offset`, the trailer's first byte in the file (64-bit arithmetic, no wrap).
// Side files that hold bytes lie behind the entry stream and apart from each other, as the
// packer lays them out; a side file reading the stub or another one's bytes is damage.
// `bad_slot` receives the failing slot's index for the slot problems.
TrailerProblem CheckTrailer(const ArchiveTrailer& trailer, uint64_t trailer_offset,
                            int* bad_slot = nullptr);
const char* DescribeTrailerProblem(TrailerProblem problem);

// Why an entry name may not be created under the extraction root.
enum class NameProblem {
  kNone,
  kEmpty,
  kTooLong,            // more than 263 characters
  kAbsolute,           // leading backslash or a drive
  kForbiddenCharacter, // ':' '/' control characters and the others Windows refuses
  kEmptyComponent,
  kDotComponent,       // "." or ".."
  kTrailingDotOrSpace, // Windows would strip it and alias another name
  kReservedName,       // CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension
};
// Validates a zero-terminated entry name as stored in the stream (ANSI, backslashes).
NameProblem CheckEntryName(const char* name);
const char* DescribeNameProblem(NameProblem problem);
