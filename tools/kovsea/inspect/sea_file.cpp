#include "sea_file.h"

#include <errno.h>
#include <string.h>

#include "host_files.h"
#include "authenticode.h"

namespace fs = std::filesystem;

namespace {

// What is wrong with the certificate table the PE header names, if anything: data the
// signature does not cover, or a table no signer would have written.
Problems SignatureProblems(const Sea& sea) {
  Problems problems;
  const TrailerLocation& at = sea.location;
  if (at.table.size == 0 || at.is_signed) return problems;
  const uint64_t table_end = uint64_t{at.table.offset} + at.table.size;
  const std::string table = "the certificate table (offset " + std::to_string(at.table.offset) +
                            ", " + std::to_string(at.table.size) + " bytes)";
  if (table_end > at.file_length) {
    problems.push_back(sea.At(at.table.offset, table + " reaches past the end of the file: the signature cannot be read"));
  } else if (table_end < at.file_length) {
    problems.push_back(sea.At(table_end, std::to_string(at.file_length - table_end) + " bytes follow " + table +
                                             ", outside what the signature covers: anyone can add them without "
                                             "breaking the signature, so it vouches for nothing read there",
                              "get the file again from the vendor"));
  } else {
    problems.push_back(sea.At(at.table.offset, table + " is not aligned to 8 bytes: no signer writes it so, and "
                                                       "Windows refuses the signature"));
  }
  return problems;
}

// Whether a range of the file reaches past the trailer into the certificate table.
bool ReachesIntoTable(const Sea& sea, uint32_t offset, uint32_t size) {
  return sea.location.is_signed && uint64_t{offset} + size > sea.location.logical_end;
}

// A trailer in front of a signer's table behind padding that is not zeros: where the padding
// begins, and what it means.
bool PaddingNotZeros(const Sea& sea, uint64_t* at, std::string* what) {
  const TrailerLocation& location = sea.location;
  if (!location.is_signed || location.logical_end < kTrailerSize + kCertificateAlignment) return false;
  uint8_t window[kTrailerSize + kCertificateAlignment - 1];
  const uint64_t window_at = location.logical_end - sizeof window;
  if (!platform::SeekTo(sea.file, window_at) || platform::ReadBytes(sea.file, window, sizeof window) != sizeof window) {
    return false;
  }
  for (uint32_t padding = 1; padding < kCertificateAlignment; ++padding) {
    if (memcmp(window + sizeof window - kTrailerSize - padding, kTrailerMagic, sizeof kTrailerMagic) == 0) {
      *at = location.logical_end - padding;
      *what = "the " + std::to_string(padding) + " bytes between the trailer and the certificate table are not "
              "zeros: the signature covers them, but the stub finds its trailer only behind zeros and will not start";
      return true;
    }
  }
  return false;
}

}  // namespace

Sea::~Sea() {
  if (file != nullptr) platform::CloseFile(file);
}

bool OpenSea(const fs::path& path, Sea* sea, Problem* problem) {
  sea->path = path.string();
  sea->file = platform::host::OpenHostFile(path.string());
  if (sea->file == nullptr) {
    *problem = Problem{sea->path, std::nullopt, std::string("cannot open: ") + strerror(errno), std::string()};
    return false;
  }
  uint8_t raw[kTrailerSize];
  if (!LocateTrailer(sea->file, &sea->location, raw)) {
    *problem = Problem{sea->path, std::nullopt, "not a KOV self-extractor: too short to hold a trailer", std::string()};
    return false;
  }
  DecodeTrailer(raw, &sea->trailer);
  return true;
}

Problems TrailerProblems(const Sea& sea) {
  Problems problems = SignatureProblems(sea);
  int bad_slot = -1;
  const TrailerProblem problem = CheckTrailer(sea.trailer, sea.TrailerAt(), &bad_slot);
  uint64_t at = sea.TrailerAt();
  std::string what = DescribeTrailerProblem(problem);
  switch (problem) {
    case TrailerProblem::kNone: return problems;
    case TrailerProblem::kBadMagic:
      // A damaged trailer still begins like one; any other file is simply not one of ours.
      if (!PaddingNotZeros(sea, &at, &what) && memcmp(sea.trailer.magic, kTrailerMagic, 3) != 0) {
        problems.push_back(Problem{sea.path, std::nullopt,
                                   "not a KOV self-extractor: it does not end in a KOVSEA trailer",
                                   "name a self-extractor that kovsea pack made"});
        return problems;
      }
      break;
    case TrailerProblem::kEmptyArchive: at += 12; break;
    case TrailerProblem::kArchiveOutsideFile:
      at += 8;
      if (ReachesIntoTable(sea, sea.trailer.archive_offset, sea.trailer.archive_size)) {
        what = "entry stream reaches into the certificate table, which the signature does not cover";
      }
      break;
    case TrailerProblem::kSlotOutsideFile:
    case TrailerProblem::kSlotInsideArchive:
    case TrailerProblem::kSlotsOverlap: {
      at += 20 + 8 * bad_slot;
      const SideFileSlot& slot = SideFileAt(sea.trailer, bad_slot);
      if (problem == TrailerProblem::kSlotOutsideFile && ReachesIntoTable(sea, slot.offset, slot.size)) {
        what = "side file reaches into the certificate table";
      }
      what += std::string(" (") + SideFileName(bad_slot) + ")";
      if (problem == TrailerProblem::kSlotOutsideFile && ReachesIntoTable(sea, slot.offset, slot.size)) {
        what += ", which the signature does not cover";
      }
      break;
    }
  }
  problems.push_back(sea.At(at, what));
  return problems;
}

std::string DescribeSignature(const TrailerLocation& at) {
  if (at.table.size == 0) return "not signed";
  std::string text = "signed: certificate table at offset " + std::to_string(at.table.offset) + ", " +
                     std::to_string(at.table.size) + " bytes";
  if (!at.is_signed) return text + ", not where a signer leaves it (see below)";
  if (at.padding != 0) text += ", after " + std::to_string(at.padding) + " bytes of padding";
  return text;
}

bool OpenUsableSea(const fs::path& path, Sea* sea, Problems* problems) {
  Problem problem;
  if (!OpenSea(path, sea, &problem)) {
    problems->push_back(problem);
    return false;
  }
  *problems = TrailerProblems(*sea);
  return problems->empty();
}

// The stub part of a file must be small enough to read whole: the stub's size budget is far
// below this.
constexpr uint64_t kLargestStubPart = 256u << 20;

bool ReadStubPart(const Sea& sea, std::string* stub) {
  const uint64_t size = sea.trailer.archive_offset;
  if (size > kLargestStubPart) return false;
  stub->assign(static_cast<size_t>(size), '\0');
  if (!platform::SeekTo(sea.file, 0) || platform::ReadBytes(sea.file, &(*stub)[0], stub->size()) != stub->size()) {
    return false;
  }
  pe::ImageDigestLayout layout;
  Problem ignored;
  if (pe::ReadImageDigestLayout(sea.file, sea.location.file_length, &layout, &ignored)) {
    for (const auto& field : {std::make_pair(layout.checksum_at, pe::kCheckSumSize),
                              std::make_pair(layout.table_entry_at, pe::kDataDirectoryEntrySize)}) {
      if (field.first + field.second <= stub->size()) stub->replace(field.first, field.second, field.second, '\0');
    }
  }
  return true;
}
