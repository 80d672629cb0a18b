// The headers of a PE image, as far as the self-extractor's readers and the packer need
// them: where the optional header, its data directory and the section table stand.
//
//   0x00  DOS header "MZ" ... e_lfanew (0x3C) --+
//   e_lfanew  "PE\0\0"  COFF header (20 bytes: machine, sections, ..., optional size)
//             optional header: magic 0x10B (PE32) or 0x20B (PE32+), ... NumberOfRvaAndSizes,
//                              the data directory: (address, size) pairs
//             section table: 40 bytes a section
//
// Offsets in PeHeaders count from the "PE\0\0" signature, so the caller may hand over just
// the bytes from there (the stub reads no more than it needs).
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kNewHeaderPointer = 0x3C;  // e_lfanew
constexpr uint32_t kSectionHeaderSize = 40;

// Data directory entries this code reads.
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kSecurityDirectory = 4;  // the certificate table; its address is a file offset
constexpr uint32_t kBaseRelocationDirectory = 5;

struct PeHeaders {
  uint32_t optional_at;     // the optional header
  uint32_t optional_size;
  bool plus;                // PE32+
  uint32_t directory_at;    // the data directory's first entry
  uint32_t directory_count;  // NumberOfRvaAndSizes
  uint32_t sections_at;     // the section table
  uint32_t section_count;
};

// Reads the headers from `pe`, the `length` bytes that begin at the "PE\0\0" signature.
// False unless they hold a COFF header and the magic of a PE32 or PE32+ optional header.
bool ParsePeHeaders(const uint8_t* pe, size_t length, PeHeaders* headers);
// Where data directory entry `index` stands (from the signature): 0 unless the header
// declares the entry and it lies inside both the optional header and the `length` bytes read.
uint32_t DataDirectoryEntryAt(const PeHeaders& headers, uint32_t index, size_t length);
