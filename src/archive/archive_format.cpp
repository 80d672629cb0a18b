#include "archive/archive_format.h"

namespace {

void Store32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

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
    if (IsForbiddenCharacter(static_cast<unsigned char>(component[i]))) {
      return NameProblem::kForbiddenCharacter;
    }
  }
  char last = component[length - 1];
  if (last == '.' || last == ' ') return NameProblem::kTrailingDotOrSpace;
  if (IsReservedComponent(component, length)) return NameProblem::kReservedName;
  return NameProblem::kNone;
}

}  // namespace

uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

const SideFileSlot& SideFileAt(const ArchiveTrailer& trailer, int index) {
  switch (index) {
    case 0: return trailer.admin;
    case 1: return trailer.client;
    case 2: return trailer.net;
    default: return trailer.setup;
  }
}

SideFileSlot& SideFileAt(ArchiveTrailer& trailer, int index) {
  return const_cast<SideFileSlot&>(SideFileAt(static_cast<const ArchiveTrailer&>(trailer), index));
}

const char* SideFileName(int index) {
  static const char* const kNames[kSideFileCount] = {"KOVadmin.dat", "KOVclient.dat",
                                                     "KOVnet.dat", "setup.ini"};
  return kNames[index];
}

void EncodeTrailer(const ArchiveTrailer& trailer, uint8_t out[kTrailerSize]) {
  for (size_t i = 0; i < sizeof kTrailerMagic; ++i) out[i] = static_cast<uint8_t>(trailer.magic[i]);
  out[6] = 0;
  out[7] = 0;
  Store32(out + 8, trailer.archive_offset);
  Store32(out + 12, trailer.archive_size);
  Store32(out + 16, trailer.entry_count);
  for (int i = 0; i < kSideFileCount; ++i) {
    Store32(out + 20 + 8 * i, SideFileAt(trailer, i).offset);
    Store32(out + 24 + 8 * i, SideFileAt(trailer, i).size);
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
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(trailer, i);
    if (slot.offset != 0 && uint64_t{slot.offset} + slot.size > limit) {
      if (bad_slot != nullptr) *bad_slot = i;
      return TrailerProblem::kSlotOutsideFile;
    }
  }
  return TrailerProblem::kNone;
}

const char* DescribeTrailerProblem(TrailerProblem problem) {
  switch (problem) {
    case TrailerProblem::kNone: return "valid";
    case TrailerProblem::kBadMagic: return "trailer magic is not \"KOVSEA\"";
    case TrailerProblem::kEmptyArchive: return "archive size is 0";
    case TrailerProblem::kArchiveOutsideFile: return "entry stream lies outside the file";
    case TrailerProblem::kSlotOutsideFile: return "side file lies outside the file";
  }
  return "unknown";
}

NameProblem CheckEntryName(const char* name) {
  if (name[0] == '\0') return NameProblem::kEmpty;
  if (name[0] == '\\') return NameProblem::kAbsolute;
  if (name[1] == ':') return NameProblem::kAbsolute;
  size_t start = 0;
  size_t i = 0;
  for (;; ++i) {
    if (i >= kEntryNameCapacity - 1 && name[i] != '\0') return NameProblem::kTooLong;
    if (name[i] == '\\' || name[i] == '\0') {
      NameProblem p = CheckComponent(name + start, i - start);
      if (p != NameProblem::kNone) return p;
      if (name[i] == '\0') return NameProblem::kNone;
      start = i + 1;
    }
  }
}

const char* DescribeNameProblem(NameProblem problem) {
  switch (problem) {
    case NameProblem::kNone: return "valid";
    case NameProblem::kEmpty: return "empty name";
    case NameProblem::kTooLong: return "name longer than 263 characters";
    case NameProblem::kAbsolute: return "name is absolute (leading backslash or drive)";
    case NameProblem::kForbiddenCharacter: return "name contains a character Windows forbids";
    case NameProblem::kEmptyComponent: return "name has an empty component";
    case NameProblem::kDotComponent: return "name has a \".\" or \"..\" component";
    case NameProblem::kTrailingDotOrSpace: return "name component ends in a dot or a space";
    case NameProblem::kReservedName: return "name component is a reserved device name";
  }
  return "unknown";
}
