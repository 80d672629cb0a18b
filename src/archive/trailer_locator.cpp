#include "trailer_locator.h"

#include "byte_order.h"
#include "pe_headers.h"

#include <string.h>

namespace {

// Signature, COFF header, and the optional header up to the end of the security entry of a
// PE32+ header (the longer of the two forms).
constexpr uint32_t kPeHeaderReach = 4 + 20 + 112 + 8 * (kSecurityDirectory + 1);
// The trailer and the most padding a signer adds in front of the table.
constexpr uint32_t kTrailerWindow = kTrailerSize + kCertificateAlignment - 1;

bool ReadAt(platform::File* file, uint64_t offset, uint8_t* buffer, uint32_t bytes) {
  return platform::SeekTo(file, offset) && platform::ReadBytes(file, buffer, bytes) == bytes;
}

}  // namespace

void ReadCertificateTable(platform::File* file, CertificateTable* table) {
  table->offset = 0;
  table->size = 0;
  uint8_t dos[kDosHeaderSize];
  if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return;
  uint8_t pe[kPeHeaderReach];
  memset(pe, 0, sizeof pe);
  if (!platform::SeekTo(file, LoadLe32(dos + kNewHeaderPointer))) return;
  const size_t got = platform::ReadBytes(file, pe, sizeof pe);
  PeHeaders headers;
  if (!ParsePeHeaders(pe, got, &headers)) return;
  const uint32_t entry_at = DataDirectoryEntryAt(headers, kSecurityDirectory, got);
  if (entry_at == 0) return;
  table->offset = LoadLe32(pe + entry_at);
  table->size = LoadLe32(pe + entry_at + 4);
  if (table->offset == 0 || table->size == 0) table->offset = table->size = 0;
}

bool LocateTrailer(platform::File* file, TrailerLocation* location, uint8_t trailer[kTrailerSize]) {
  memset(location, 0, sizeof *location);
  if (!platform::FileLength(file, &location->file_length)) return false;
  ReadCertificateTable(file, &location->table);
  const uint64_t table_end = uint64_t{location->table.offset} + location->table.size;
  location->is_signed = location->table.size != 0 &&
                        location->table.offset % kCertificateAlignment == 0 &&
                        table_end == location->file_length;
  location->logical_end = location->is_signed ? location->table.offset : location->file_length;
  if (location->logical_end < kTrailerSize) return false;
  // Bytes after a table inside the file lie outside what a signature covers: whatever trailer
  // they end with was added later, so none is taken (zeros, which fail the magic).
  if (location->table.size != 0 && table_end < location->file_length) {
    location->trailer_offset = location->file_length - kTrailerSize;
    memset(trailer, 0, kTrailerSize);
    return true;
  }

  // The window ends at the logical end; without a table only its last 52 bytes count.
  uint8_t window[kTrailerWindow];
  uint32_t reach = location->is_signed ? kTrailerWindow : kTrailerSize;
  if (reach > location->logical_end) reach = static_cast<uint32_t>(location->logical_end);
  const uint64_t window_at = location->logical_end - reach;
  if (!ReadAt(file, window_at, window, reach)) return false;
  // The magic cannot match itself shifted by 1 to 7 bytes, so at most one padding fits.
  uint32_t padding = 0;
  for (uint32_t p = 0; p + kTrailerSize <= reach; ++p) {
    const uint8_t* candidate = window + reach - kTrailerSize - p;
    bool zeros = true;
    for (uint32_t i = 0; i < p; ++i) zeros = zeros && candidate[kTrailerSize + i] == 0;
    if (zeros && memcmp(candidate, kTrailerMagic, sizeof kTrailerMagic) == 0) {
      padding = p;
      break;
    }
  }
  location->padding = padding;
  location->trailer_offset = location->logical_end - padding - kTrailerSize;
  memcpy(trailer, window + reach - kTrailerSize - padding, kTrailerSize);
  return true;
}
