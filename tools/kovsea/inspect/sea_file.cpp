#include "sea_file.h"

#include <errno.h>
#include <string.h>

#include "host_files.h"

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
    problems.push_back(sea.At(at.table.offset, table + " reaches past the end of the file"));
  } else if (table_end < at.file_length) {
    problems.push_back(sea.At(table_end, std::to_string(at.file_length - table_end) + " bytes follow " + table +
                                             ", outside what the signature covers"));
  } else {
    problems.push_back(sea.At(at.table.offset, table + " is not aligned to 8 bytes"));
  }
  return problems;
}

// Whether a range of the file reaches past the trailer into the certificate table.
bool ReachesIntoTable(const Sea& sea, uint32_t offset, uint32_t size) {
  return sea.location.is_signed && uint64_t{offset} + size > sea.location.logical_end;
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
    *problem = Problem{sea->path, std::nullopt, "too short to hold a trailer", std::string()};
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
    case TrailerProblem::kBadMagic: break;
    case TrailerProblem::kEmptyArchive: at += 12; break;
    case TrailerProblem::kArchiveOutsideFile:
      at += 8;
      if (ReachesIntoTable(sea, sea.trailer.archive_offset, sea.trailer.archive_size)) {
        what = "entry stream reaches into the certificate table";
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
      break;
    }
  }
  problems.push_back(sea.At(at, what));
  return problems;
}

std::string DescribeSignature(const TrailerLocation& at) {
  if (!at.is_signed) return "not signed";
  std::string text = "signed: certificate table at offset " + std::to_string(at.table.offset) + ", " +
                     std::to_string(at.table.size) + " bytes";
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
