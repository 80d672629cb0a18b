#include "archive_format.h"

#include "byte_order.h"
#include "platform_files.h"

namespace {

bool SameIgnoringCase(const char* a, size_t a_len, const char* b) {
  size_t i = 0;
  for (; i < a_len && b[i] != '\0'; ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return i == a_len && b[i] == '\0';
}

// Device names that Windows opens instead of a file, whatever extension follows. COM and
// LPT also take the superscript digits 1, 2 and 3 (bytes 0xB9, 0xB2, 0xB3 in Windows-1252).
bool IsReservedComponent(const char* component, size_t length) {
  size_t base = 0;
  while (base < length && component[base] != '.') ++base;
  while (base > 0 && component[base - 1] == ' ') --base;
  static const char* const kPlain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* name : kPlain) {
    if (SameIgnoringCase(component, base, name)) return true;
  }
  if (base == 4 && (SameIgnoringCase(component, 3, "COM") || SameIgnoringCase(component, 3, "LPT"))) {
    unsigned char d = static_cast<unsigned char>(component[3]);
    if ((d >= '1' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3) return true;
  }
  return false;
}

bool IsForbiddenCharacter(unsigned char c) {
  if (c < 0x20) return true;
  switch (c) {
    case ':': case '/': case '<': case '>': case '"': case '|': case '?': case '*':
      return true;
    default:
      return false;
  }
}

NameProblem CheckComponent(const char* component, size_t length) {
  if (length == 0) return NameProblem::kEmptyComponent;
  if ((length == 1 && component[0] == '.') ||
      (length == 2 && component[0] == '.' && component[1] == '.')) {
    return NameProblem::kDotComponent;
  }
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(component[i]);
    // The second byte of a double-byte character is part of it, whatever its value.
    if (i + 1 < length && platform::IsLeadByte(c)) {
      ++i;
    } else if (IsForbiddenCharacter(c)) {
      return NameProblem::kForbiddenCharacter;
    }
  }
  char last = component[length - 1];
  if (last == '.' || last == ' ') return NameProblem::kTrailingDotOrSpace;
  if (IsReservedComponent(component, length)) return NameProblem::kReservedName;
  return NameProblem::kNone;
}

}  // namespace

const SideFileSlot& SideFileAt(const ArchiveTrailer& trailer, int index) {
#define KOVSEA_SIDE_FILE_MEMBER(field, file, option, key) &ArchiveTrailer::field,
  static constexpr SideFileSlot ArchiveTrailer::*kSlots[kSideFileCount] = {
      KOVSEA_SIDE_FILES(KOVSEA_SIDE_FILE_MEMBER)};
#undef KOVSEA_SIDE_FILE_MEMBER
  return trailer.*kSlots[index];
}

SideFileSlot& SideFileAt(ArchiveTrailer& trailer, int index) {
  return const_cast<SideFileSlot&>(SideFileAt(static_cast<const ArchiveTrailer&>(trailer), index));
}

const char* SideFileName(int index) {
#define KOVSEA_SIDE_FILE_NAME(field, file, option, key) file,
  static const char* const kNames[kSideFileCount] = {KOVSEA_SIDE_FILES(KOVSEA_SIDE_FILE_NAME)};
#undef KOVSEA_SIDE_FILE_NAME
  return kNames[index];
}

void EncodeTrailer(const ArchiveTrailer& trailer, uint8_t out[kTrailerSize]) {
  for (size_t i = 0; i < sizeof kTrailerMagic; ++i) out[i] = static_cast<uint8_t>(trailer.magic[i]);
  out[6] = 0;
  out[7] = 0;
  StoreLe32(out + 8, trailer.archive_offset);
  StoreLe32(out + 12, trailer.archive_size);
  StoreLe32(out + 16, trailer.entry_count);
  for (int i = 0; i < kSideFileCount; ++i) {
    StoreLe32(out + 20 + 8 * i, SideFileAt(trailer, i).offset);
    StoreLe32(out + 24 + 8 * i, SideFileAt(trailer, i).size);
  }
}

void DecodeTrailer(const uint8_t in[kTrailerSize], ArchiveTrailer* trailer) {
  for (size_t i = 0; i < sizeof kTrailerMagic; ++i) trailer->magic[i] = static_cast<char>(in[i]);
  trailer->archive_offset = LoadLe32(in + 8);
  trailer->archive_size = LoadLe32(in + 12);
  trailer->entry_count = LoadLe32(in + 16);
  for (int i = 0; i < kSideFileCount; ++i) {
    SideFileAt(*trailer, i).offset = LoadLe32(in + 20 + 8 * i);
    SideFileAt(*trailer, i).size = LoadLe32(in + 24 + 8 * i);
  }
}

bool HasTrailerMagic(const ArchiveTrailer& trailer) {
  for (size_t i = 0; i < sizeof kTrailerMagic; ++i) {
    if (trailer.magic[i] != kTrailerMagic[i]) return false;
  }
  return true;
}

TrailerProblem CheckTrailer(const ArchiveTrailer& trailer, uint64_t trailer_offset, int* bad_slot) {
  if (!HasTrailerMagic(trailer)) return TrailerProblem::kBadMagic;
  if (trailer.archive_size == 0) return TrailerProblem::kEmptyArchive;
  const uint64_t limit = trailer_offset;
  if (uint64_t{trailer.archive_offset} + trailer.archive_size > limit) {
    return TrailerProblem::kArchiveOutsideFile;
  }
  const uint64_t archive_end = uint64_t{trailer.archive_offset} + trailer.archive_size;
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(trailer, i);
    if (slot.offset == 0) continue;
    TrailerProblem problem = TrailerProblem::kNone;
    if (uint64_t{slot.offset} + slot.size > limit) {
      problem = TrailerProblem::kSlotOutsideFile;
    } else if (slot.size != 0 && slot.offset < archive_end) {
      problem = TrailerProblem::kSlotInsideArchive;
    }
    for (int j = 0; j < i && problem == TrailerProblem::kNone && slot.size != 0; ++j) {
      const SideFileSlot& other = SideFileAt(trailer, j);
      if (other.offset != 0 && other.size != 0 && slot.offset < uint64_t{other.offset} + other.size &&
          other.offset < uint64_t{slot.offset} + slot.size) {
        problem = TrailerProblem::kSlotsOverlap;
      }
    }
    if (problem != TrailerProblem::kNone) {
      if (bad_slot != nullptr) *bad_slot = i;
      return problem;
    }
  }
  return TrailerProblem::kNone;
}

NameProblem CheckEntryName(const char* name) {
  if (name[0] == '\0') return NameProblem::kEmpty;
  if (name[0] == '\\') return NameProblem::kAbsolute;
  if (name[1] == ':') return NameProblem::kAbsolute;
  size_t start = 0;
  size_t i = 0;
  for (;; ++i) {
    if (i >= kEntryNameCapacity - 1 && name[i] != '\0') return NameProblem::kTooLong;
    if (name[i] != '\0' && name[i + 1] != '\0' && platform::IsLeadByte(static_cast<uint8_t>(name[i]))) {
      ++i;  // a double-byte character: its second byte separates nothing
      if (i >= kEntryNameCapacity - 1) return NameProblem::kTooLong;
      continue;
    }
    if (name[i] == '\\' || name[i] == '\0') {
      NameProblem p = CheckComponent(name + start, i - start);
      if (p != NameProblem::kNone) return p;
      if (name[i] == '\0') return NameProblem::kNone;
      start = i + 1;
    }
  }
}

