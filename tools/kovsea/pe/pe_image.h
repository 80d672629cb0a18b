// A PE image held in memory, its headers read: the optional header's alignments, the data
// directory, the section table and the certificate table a signer appends. What the
// resource editor and the stub's preparation read and change; the headers themselves are
// parsed by the format layer's pe_headers, as the stub and the trailer locator parse them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "pe_headers.h"
#include "problem.h"

namespace pe {

struct Section {
  size_t header_at;  // where its header stands in the image
  uint32_t virtual_size;
  uint32_t virtual_address;
  uint32_t raw_size;
  uint32_t raw_at;
};

struct Image {
  size_t pe_at = 0;  // the "PE\0\0" signature
  PeHeaders headers{};
  uint32_t section_alignment = 0;
  uint32_t file_alignment = 0;
  std::vector<Section> sections;

  // Offsets in the image of the optional header and of data directory entry `index`.
  size_t OptionalAt() const { return pe_at + headers.optional_at; }
  size_t DirectoryEntry(uint32_t index) const { return pe_at + headers.directory_at + 8 * index; }
  uint32_t DirectoryAddress(const std::string& bytes, uint32_t index) const;
  uint32_t DirectorySize(const std::string& bytes, uint32_t index) const;
};

// Whether the headers of `bytes` name a signer's certificate table: the image is signed, or
// was. Needs only the headers, not a whole well-formed image.
bool NamesCertificateTable(const std::string& bytes);

// Reads the headers of `bytes`; false with `problem` (what, and the offset of the damaged
// header) when they are not those of a PE image with a resource and a relocation entry in
// its data directory.
bool ParseImage(const std::string& bytes, Image* image, Problem* problem);

// The section holding `rva`; null when none does.
const Section* SectionAt(const Image& image, uint32_t rva);

}  // namespace pe
