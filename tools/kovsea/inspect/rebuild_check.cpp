#include "rebuild_check.h"

#include <algorithm>
#include <vector>

#include "archive_format.h"
#include "authenticode.h"
#include "bytes.h"
#include "content_digest.h"
#include "pack_plan.h"
#include "pack_writer.h"
#include "pe_image.h"
#include "reading.h"
#include "sea_diff.h"
#include "side_files.h"
#include "stub_image.h"

namespace host = platform::host;

namespace {

constexpr size_t kChunk = 1u << 20;

// Compares what the writer sends with the file's bytes at the same offsets, ignoring the
// header fields a signer rewrites; stops at the first difference.
class ComparingSink : public PackSink {
 public:
  ComparingSink(const Sea& sea, uint64_t content_size) : sea_(sea), content_size_(content_size) {
    pe::ImageDigestLayout layout;
    Problem ignored;
    if (pe::ReadImageDigestLayout(sea.file, sea.location.file_length, &layout, &ignored)) {
      masked_ = {{layout.checksum_at, pe::kCheckSumSize}, {layout.table_entry_at, pe::kDataDirectoryEntrySize}};
    }
  }

  bool Write(const void* data, size_t n) override {
    const char* bytes = static_cast<const char*>(data);
    while (n > 0) {
      const size_t step = std::min(n, kChunk);
      const size_t present = at_ < content_size_ ? static_cast<size_t>(std::min<uint64_t>(step, content_size_ - at_)) : 0;
      buffer_.resize(present);
      if (present > 0 && (!platform::SeekTo(sea_.file, at_) ||
                          platform::ReadBytes(sea_.file, &buffer_[0], present) != present)) {
        return Fail(sea_.path, "cannot read the file to compare it");
      }
      for (size_t i = 0; i < step; ++i) {
        if (i >= present || (bytes[i] != buffer_[i] && !Masked(at_ + i))) {
          difference_ = at_ + i;
          return Fail(sea_.path, "differs");
        }
      }
      at_ += step;
      bytes += step;
      n -= step;
    }
    return true;
  }

  uint64_t written() const { return at_; }
  const std::optional<uint64_t>& difference() const { return difference_; }

 private:
  bool Masked(uint64_t offset) const {
    for (const auto& m : masked_) {
      if (offset >= m.first && offset < m.first + m.second) return true;
    }
    return false;
  }

  const Sea& sea_;
  uint64_t content_size_;
  uint64_t at_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> masked_;
  std::string buffer_;
  std::optional<uint64_t> difference_;
};

std::string StubRegion(const std::string& stub, uint64_t offset) {
  pe::Image image;
  Problem ignored;
  if (!pe::ParseImage(stub, &image, &ignored)) return "the stub";
  const uint32_t resources = image.DirectoryAddress(stub, kResourceDirectory);
  for (const pe::Section& s : image.sections) {
    if (s.raw_size == 0 || offset < s.raw_at || offset >= uint64_t{s.raw_at} + s.raw_size) continue;
    std::string name = stub.substr(s.header_at, 8);
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
    const bool holds_resources = resources >= s.virtual_address && resources < s.virtual_address + s.raw_size;
    return holds_resources ? "the stub's resources (section " + name + ")" : "the stub's section " + name;
  }
  uint64_t first = stub.size();
  for (const pe::Section& s : image.sections) {
    if (s.raw_size != 0) first = std::min<uint64_t>(first, s.raw_at);
  }
  return offset < first ? "the stub's headers" : "the stub";
}

// The entry of the file (as catalogued) whose bytes hold `offset`; empty when none does.
std::string FileEntryAt(Sea* sea, const Codepage& codepage, uint64_t offset) {
  std::vector<host::CatalogueEntry> entries;
  CatalogueStream(sea, codepage, &entries);
  uint64_t at = sea->trailer.archive_offset;
  for (const auto& e : entries) {
    at += EntryBytes(e.name.size(), e.is_directory, e.size);
    if (offset < at) return codepage.ToDisplay(e.name);
  }
  return "";
}

// The stub's part of the difference, named as diff names it (the icon, the languages, ...)
// after the section it begins in; the headers and the stub as a whole give way to that name.
std::string StubDifferenceAt(const Sea& sea, const std::string& stub, uint64_t offset) {
  const std::string region = StubRegion(stub, offset);
  std::string file_stub;
  if (!ReadStubPart(sea, &file_stub)) return region;
  const std::vector<std::string> differences = StubDifferences(DiffStubs(file_stub, stub));
  if (differences.empty()) return region;
  std::string what;
  for (const std::string& s : differences) what += (what.empty() ? "" : ", ") + s;
  return (region == "the stub's headers" || region == "the stub" ? "the stub" : region) + ": " + what +
         (differences.size() == 1 ? " differs" : " differ");
}

std::string RebuiltRegion(Sea* sea, const PackOptions& options, const PackPlan& plan, const std::string& stub,
                          uint64_t offset) {
  if (offset < plan.stub_size) return StubDifferenceAt(*sea, stub, offset);
  uint64_t at = plan.stub_size;
  for (const PlannedEntry& e : plan.entries) {
    at += EntryBytes(e.name.size(), e.is_directory, e.size);
    if (offset >= at) continue;
    const std::string name = options.codepage.ToDisplay(e.name);
    const std::string there = FileEntryAt(sea, options.codepage, offset);
    return "entry \"" + name + "\"" +
           (there.empty() || there == name ? "" : " (the file holds entry \"" + there + "\" there)");
  }
  for (int i = 0; i < kSideFileCount; ++i) {
    const uint64_t from = plan.side_offsets[i];
    if (from != 0 && offset >= from && offset < from + plan.side_sizes[i]) {
      return std::string("side file ") + kSideFiles[i].file;
    }
  }
  if (offset >= plan.total) return "past the end of the rebuilt file";
  if (offset >= plan.total - kTrailerSize) return "the trailer";
  return offset >= plan.total - kTrailerSize - kContentDigestRecordSize ? "the content digest"
                                                                         : "the padding in front of the content digest";
}

}  // namespace

Problems CompareWithRebuild(Sea* sea, const PackOptions& options, RebuildComparison* comparison) {
  *comparison = RebuildComparison();
  std::string stub;
  Problems refused;
  if (!PrepareStub(options, &stub, &refused)) return refused;
  const PackPlan plan = PlanPack(options, stub.size());
  if (!plan.problems.empty()) return plan.problems;
  // What the file held before it was signed: up to the trailer's end, where the signer's
  // padding and table begin.
  const uint64_t content = sea->location.is_signed ? sea->TrailerAt() + kTrailerSize : sea->location.file_length;
  ComparingSink sink(*sea, content);
  const bool whole = StreamPackage(options, stub, plan, &sink);
  if (!whole && !sink.difference()) return {sink.problem()};
  comparison->compared = true;
  comparison->rebuilt_size = plan.total;
  comparison->content_size = content;
  comparison->first_difference = sink.difference();
  if (whole && sink.written() < content) comparison->first_difference = sink.written();
  if (!comparison->first_difference) return {};
  const uint64_t at = *comparison->first_difference;
  comparison->region = RebuiltRegion(sea, options, plan, stub, at);
  std::string what = "differs from " + options.input_dir.string() + " packed again, first in " + comparison->region;
  if (plan.total != content) {
    what += "; the file holds " + std::to_string(content) + " bytes before any signature, the tree packs to " +
            std::to_string(plan.total);
  }
  return {sea->At(at, what, "this file was not built from that tree with these options and this stub")};
}
