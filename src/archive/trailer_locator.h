// Finds a self-extractor's trailer, also in a file that has been signed.
//
// A code signer appends the certificate table after everything else and names it in the PE
// header (the security entry of the data directory, whose address is a file offset). In a
// signed file the trailer therefore stands in front of that table, possibly followed by up to
// 7 zero bytes the signer added to align the table to 8 bytes. The lookup is by position:
//
//   table named, 8-byte aligned, ending exactly at the end of the file
//       -> the logical end is the table's start; the trailer ends there or up to 7 zero
//          bytes before it;
//   table named, lying inside the file, bytes following it
//       -> no trailer: those bytes are outside what a signature covers, so a trailer there
//          was added after signing; the trailer read is all zeros (a bad magic);
//   otherwise
//       -> the logical end is the end of the file; the trailer is its last 52 bytes.
//
// Offsets inside the trailer stay absolute; every range it describes must end at or before
// the trailer's own first byte.
#pragma once

#include <stdint.h>

#include "archive_format.h"
#include "platform_files.h"

constexpr uint32_t kCertificateAlignment = 8;

// The certificate table as the PE header names it; offset 0 or size 0 = none.
struct CertificateTable {
  uint32_t offset;
  uint32_t size;
};

struct TrailerLocation {
  uint64_t file_length;
  CertificateTable table;   // as named, whether usable or not
  bool is_signed;           // the table is aligned and ends the file
  uint64_t logical_end;     // the table's start when signed, else the file length
  uint64_t trailer_offset;  // the trailer's first byte (the last 52 bytes' when none is taken)
  uint32_t padding;         // zero bytes between the trailer and the table
};

// Reads the certificate table entry from the PE header at the start of `file`. Leaves
// `table` zero when the file holds no PE header or the header names no table.
void ReadCertificateTable(platform::File* file, CertificateTable* table);

// Finds the trailer of `file` and reads its bytes into `trailer`. False when the file cannot
// be read or is too short to hold a trailer in front of its logical end.
bool LocateTrailer(platform::File* file, TrailerLocation* location, uint8_t trailer[kTrailerSize]);
