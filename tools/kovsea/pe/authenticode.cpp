#include "authenticode.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "byte_order.h"
#include "pe_headers.h"
#include "trailer_locator.h"

namespace pe {
namespace {

// The signature, the COFF header and the longer (PE32+) optional header with a full data
// directory: all a layout needs.
constexpr uint32_t kHeaderReach = 4 + 20 + 112 + 8 * 16;
// Where CheckSum stands in either form of the optional header.
constexpr uint32_t kCheckSumInOptional = 64;

bool Refuse(Problem* problem, uint64_t offset, const char* what) {
  problem->offset = offset;
  problem->what = what;
  return false;
}

bool ReadAt(platform::File* file, uint64_t offset, void* buffer, size_t bytes, size_t* got) {
  if (!platform::SeekTo(file, offset)) return false;
  *got = platform::ReadBytes(file, buffer, bytes);
  return !platform::ReadFailed(file);
}

// Feeds [from, to) of `file` to every digest of `digests`.
bool HashRange(platform::File* file, uint64_t from, uint64_t to, std::vector<char>* buffer,
               const std::vector<Digest*>& digests) {
  if (from >= to) return true;
  if (!platform::SeekTo(file, from)) return false;
  while (from < to) {
    const size_t want = to - from < buffer->size() ? static_cast<size_t>(to - from) : buffer->size();
    if (platform::ReadBytes(file, buffer->data(), want) != want) return false;
    for (Digest* digest : digests) digest->Update(buffer->data(), want);
    from += want;
  }
  return true;
}

// The CheckSum's and the table entry's offsets from the headers read at `pe_at`.
bool SignerFieldsOf(const uint8_t* pe, size_t got, PeHeaders* headers, uint32_t* entry_at) {
  if (!ParsePeHeaders(pe, got, headers)) return false;
  *entry_at = DataDirectoryEntryAt(*headers, kSecurityDirectory, got);
  return headers->optional_size >= kCheckSumInOptional + kCheckSumSize && *entry_at != 0;
}

}  // namespace

bool ReadImageDigestLayout(platform::File* file, uint64_t file_length, ImageDigestLayout* layout,
                           Problem* problem) {
  uint8_t dos[kDosHeaderSize];
  size_t got = 0;
  if (!ReadAt(file, 0, dos, sizeof dos, &got) || got != sizeof dos || dos[0] != 'M' || dos[1] != 'Z') {
    return Refuse(problem, 0, "not a PE image (no MZ header)");
  }
  const uint32_t pe_at = LoadLe32(dos + kNewHeaderPointer);
  uint8_t pe[kHeaderReach];
  memset(pe, 0, sizeof pe);
  PeHeaders headers;
  if (pe_at >= file_length || !ReadAt(file, pe_at, pe, sizeof pe, &got) || !ParsePeHeaders(pe, got, &headers)) {
    return Refuse(problem, kNewHeaderPointer, "not a PE image (no PE header)");
  }
  const uint32_t entry_at = DataDirectoryEntryAt(headers, kSecurityDirectory, got);
  if (headers.optional_size < kCheckSumInOptional + kCheckSumSize || entry_at == 0) {
    return Refuse(problem, pe_at + headers.optional_at, "the PE optional header has no certificate table entry");
  }
  layout->checksum_at = uint64_t{pe_at} + headers.optional_at + kCheckSumInOptional;
  layout->table_entry_at = uint64_t{pe_at} + entry_at;
  const uint32_t table_at = LoadLe32(pe + entry_at);
  const uint32_t table_size = LoadLe32(pe + entry_at + 4);
  const bool names_table = table_at != 0 && table_size != 0;
  layout->end = names_table && table_at <= file_length ? table_at : file_length;
  layout->zero_padding =
      names_table ? 0 : static_cast<uint32_t>((kCertificateAlignment - file_length % kCertificateAlignment) %
                                              kCertificateAlignment);
  if (layout->end < layout->table_entry_at + kDataDirectoryEntrySize) {
    return Refuse(problem, layout->table_entry_at, "the certificate table begins inside the PE headers");
  }
  return true;
}

bool HashImageRange(platform::File* file, const ImageDigestLayout& layout, uint64_t from, uint64_t to,
                    const std::vector<Digest*>& digests) {
  std::vector<char> buffer(1u << 20);
  const uint64_t holes[2][2] = {{layout.checksum_at, layout.checksum_at + kCheckSumSize},
                                {layout.table_entry_at, layout.table_entry_at + kDataDirectoryEntrySize}};
  for (const auto& hole : holes) {
    if (from < hole[0] && !HashRange(file, from, std::min(to, hole[0]), &buffer, digests)) return false;
    from = std::max(from, hole[1]);
  }
  return HashRange(file, from, to, &buffer, digests);
}

bool FindSignerFields(const std::string& image, uint64_t* checksum_at, uint64_t* table_entry_at) {
  if (image.size() < kDosHeaderSize || image[0] != 'M' || image[1] != 'Z') return false;
  const uint32_t pe_at = LoadLe32(reinterpret_cast<const uint8_t*>(image.data()) + kNewHeaderPointer);
  if (pe_at >= image.size()) return false;
  uint8_t pe[kHeaderReach];
  memset(pe, 0, sizeof pe);
  const size_t got = std::min<size_t>(sizeof pe, image.size() - pe_at);
  memcpy(pe, image.data() + pe_at, got);
  PeHeaders headers;
  uint32_t entry_at = 0;
  if (!SignerFieldsOf(pe, got, &headers, &entry_at)) return false;
  *checksum_at = uint64_t{pe_at} + headers.optional_at + kCheckSumInOptional;
  *table_entry_at = uint64_t{pe_at} + entry_at;
  return true;
}

std::string ImageDigest(platform::File* file, const ImageDigestLayout& layout, DigestAlgorithm algorithm) {
  Digest digest(algorithm);
  if (!HashImageRange(file, layout, 0, layout.end, {&digest})) return "";
  const char zeros[kCertificateAlignment] = {};
  digest.Update(zeros, layout.zero_padding);
  return digest.Finish();
}

}  // namespace pe
