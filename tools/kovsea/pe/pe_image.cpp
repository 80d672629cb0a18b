#include "pe_image.h"

#include <algorithm>

#include "bytes.h"

namespace pe {
namespace {

// Where the alignments stand in the optional header.
constexpr size_t kSectionAlignmentAt = 32;
constexpr size_t kFileAlignmentAt = 36;
// The smallest optional header that holds the alignments and the fields before them.
constexpr uint32_t kSmallestOptionalHeader = 96;

bool Refuse(Problem* problem, uint64_t offset, const char* what) {
  problem->offset = offset;
  problem->what = what;
  return false;
}

}  // namespace

uint32_t Image::DirectoryAddress(const std::string& bytes, uint32_t index) const {
  return Get32(bytes, DirectoryEntry(index));
}

uint32_t Image::DirectorySize(const std::string& bytes, uint32_t index) const {
  return Get32(bytes, DirectoryEntry(index) + 4);
}

bool ParseImage(const std::string& bytes, Image* image, Problem* problem) {
  if (bytes.size() < kDosHeaderSize || bytes[0] != 'M' || bytes[1] != 'Z') {
    return Refuse(problem, 0, "not a PE image (no MZ header)");
  }
  image->pe_at = Get32(bytes, kNewHeaderPointer);
  const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
  if (image->pe_at >= bytes.size() ||
      !ParsePeHeaders(data + image->pe_at, bytes.size() - image->pe_at, &image->headers)) {
    return Refuse(problem, kNewHeaderPointer, "not a PE image (no PE header)");
  }
  const PeHeaders& h = image->headers;
  if (image->OptionalAt() + h.optional_size > bytes.size() || h.optional_size < kSmallestOptionalHeader) {
    return Refuse(problem, image->OptionalAt(), "the PE optional header is cut short");
  }
  image->section_alignment = Get32(bytes, image->OptionalAt() + kSectionAlignmentAt);
  image->file_alignment = Get32(bytes, image->OptionalAt() + kFileAlignmentAt);
  const size_t length = bytes.size() - image->pe_at;
  if (image->file_alignment == 0 || image->section_alignment == 0 ||
      DataDirectoryEntryAt(h, kResourceDirectory, length) == 0 ||
      DataDirectoryEntryAt(h, kSecurityDirectory, length) == 0 ||
      DataDirectoryEntryAt(h, kBaseRelocationDirectory, length) == 0) {
    return Refuse(problem, image->OptionalAt(), "the PE data directory is damaged");
  }
  const size_t sections_at = image->pe_at + h.sections_at;
  if (sections_at + uint64_t{h.section_count} * kSectionHeaderSize > bytes.size()) {
    return Refuse(problem, sections_at, "the PE section table is cut short");
  }
  image->sections.clear();
  for (uint32_t i = 0; i < h.section_count; ++i) {
    const size_t at = sections_at + i * kSectionHeaderSize;
    Section s{at, Get32(bytes, at + 8), Get32(bytes, at + 12), Get32(bytes, at + 16), Get32(bytes, at + 20)};
    if (uint64_t{s.raw_at} + s.raw_size > bytes.size()) return Refuse(problem, at, "a PE section lies outside the file");
    image->sections.push_back(s);
  }
  return true;
}

bool NamesCertificateTable(const std::string& bytes) {
  if (bytes.size() < kDosHeaderSize || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const uint32_t pe_at = Get32(bytes, kNewHeaderPointer);
  if (pe_at >= bytes.size()) return false;
  const size_t length = bytes.size() - pe_at;
  PeHeaders headers;
  if (!ParsePeHeaders(reinterpret_cast<const uint8_t*>(bytes.data()) + pe_at, length, &headers)) return false;
  const uint32_t entry = DataDirectoryEntryAt(headers, kSecurityDirectory, length);
  return entry != 0 && Get32(bytes, pe_at + entry + 4) != 0;
}

const Section* SectionAt(const Image& image, uint32_t rva) {
  for (const Section& s : image.sections) {
    const uint32_t size = std::max(s.virtual_size, s.raw_size);
    if (rva >= s.virtual_address && rva < s.virtual_address + size) return &s;
  }
  return nullptr;
}

}  // namespace pe
