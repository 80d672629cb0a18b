#include "pack_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <system_error>
#include <vector>

#include "archive_format.h"
#include "authenticode.h"
#include "byte_order.h"
#include "content_digest.h"
#include "digest.h"
#include "host_files.h"
#include "progress_meter.h"
#include "trailer_locator.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr size_t kCopyChunk = 1u << 20;

// The output under a temporary name beside it, created exclusively under an unpredictable
// name, so that nothing planted there (a link, say) is ever followed; moved into place only
// when complete, removed otherwise.
class TemporaryOutput : public PackSink {
 public:
  TemporaryOutput(ProgressMeter* meter, uint64_t total) : meter_(meter), total_(total) {}

  // Creates the file; false with the problem set when it cannot be had.
  bool Open(const fs::path& output) {
    fs::path dir = output.parent_path();
    if (dir.empty()) dir = ".";
    std::random_device entropy;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      char suffix[16];
      snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(entropy()));
      path_ = dir / ("." + output.filename().string() + suffix + ".tmp");
#ifdef _WIN32
      fd_ = _open(path_.string().c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
      fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
#endif
      if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) return Fail(output, std::string("cannot create beside it: ") + strerror(errno));
    stream_ = fdopen(fd_, "wb");
    if (stream_ == nullptr) {
      const int error = errno;
      close(fd_);
      std::error_code ignored;
      fs::remove(path_, ignored);
      return Fail(output, std::string("cannot create: ") + strerror(error));
    }
    created_ = true;
    return true;
  }
  // Removes the temporary file unless it was moved into place; only one this object created,
  // never one it found under a name it tried.
  ~TemporaryOutput() override {
    if (stream_ != nullptr) fclose(stream_);
    if (created_ && !committed_) {
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
  }

  bool Write(const void* data, size_t n) override {
    if (fwrite(data, 1, n, stream_) != n) return WriteFailure();
    Advance(n);
    return true;
  }

  // Flushes, makes the file executable as a new file would be, and moves it over `output`.
  bool Commit(const fs::path& output) {
    FILE* s = stream_;
    stream_ = nullptr;
    if (fflush(s) != 0 || ferror(s) != 0) {
      fclose(s);
      return WriteFailure();
    }
#ifndef _WIN32
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fileno(s), 0777 & ~mask);
#endif
    if (fclose(s) != 0) return WriteFailure();
    std::error_code ec;
    fs::rename(path_, output, ec);
    if (ec) return Fail(output, "cannot move into place: " + ec.message());
    committed_ = true;
    return true;
  }

 private:
  bool WriteFailure() { return Fail(path_, std::string("write failed: ") + strerror(errno)); }

  void Advance(uint64_t n) {
    written_ += n;
    if (total_ != 0) meter_->Show(static_cast<int>(written_ * 100 / total_));
  }

  // Copies the first `size` bytes of `in` into the output inside the kernel (through memory
  // where the file systems do not allow that), leaving `in` positioned after them. Returns
  // `*copied` how many were copied: none off Linux, where the caller copies them.
  bool CopyPrefix(FILE* in, const fs::path& source, uint64_t size, uint64_t* copied) override {
    *copied = 0;
#ifdef __linux__
    if (size == 0 || fflush(stream_) != 0) return true;
    int64_t from = 0;
    int64_t to = ftello(stream_);
    if (to < 0) return true;
    while (*copied < size) {
      const uint64_t step = std::min<uint64_t>(size - *copied, 16 * kCopyChunk);
      const uint64_t got = platform::host::CopyDescriptorRange(fileno(in), &from, fileno(stream_), &to, step);
      if (got < step && errno != 0) return WriteFailure();
      if (got < step) return Fail(source, "changed or unreadable while packing");
      *copied += got;
      Advance(got);
    }
    if (fseeko(stream_, static_cast<off_t>(to), SEEK_SET) != 0 ||
        fseeko(in, static_cast<off_t>(from), SEEK_SET) != 0) {
      return WriteFailure();
    }
#else
    (void)in;
    (void)source;
    (void)size;
#endif
    return true;
  }

  fs::path path_;
  int fd_ = -1;
  FILE* stream_ = nullptr;
  bool created_ = false;
  bool committed_ = false;
  ProgressMeter* meter_;
  uint64_t total_;
  uint64_t written_ = 0;
};

bool WriteEntries(const PackPlan& plan, PackSink* out) {
  for (const PlannedEntry& e : plan.entries) {
    uint8_t size[4];
    StoreLe32(size, e.is_directory ? kDirectoryEntrySize : static_cast<uint32_t>(e.size));
    if (!out->Write(size, sizeof size) || !out->Write(e.name.c_str(), e.name.size() + 1) ||
        (!e.is_directory && e.size > 0 && !out->Copy(e.host_path, e.size, &e.identity))) {
      return false;
    }
  }
  return true;
}

// Passes everything on to `out` and hashes it, less the fields a signer writes, into the
// content digest, which WriteDigestAndTrailer writes in front of the trailer.
class ContentDigestSink : public PackSink {
 public:
  ContentDigestSink(PackSink* out, const std::string& stub) : out_(out) {
    uint64_t checksum_at = 0, table_entry_at = 0;
    if (pe::FindSignerFields(stub, &checksum_at, &table_entry_at)) {
      holes_[0] = {checksum_at, checksum_at + pe::kCheckSumSize};
      holes_[1] = {table_entry_at, table_entry_at + pe::kDataDirectoryEntrySize};
    }
  }

  bool Write(const void* data, size_t n) override {
    if (!out_->Write(data, n)) return false;
    const char* bytes = static_cast<const char*>(data);
    uint64_t from = at_;
    const uint64_t to = at_ + n;
    for (const auto& hole : holes_) {
      if (hole.second <= from || hole.first >= to) continue;
      if (from < hole.first) digest_.Update(bytes + (from - at_), hole.first - from);
      from = std::min(to, hole.second);
    }
    if (from < to) digest_.Update(bytes + (from - at_), to - from);
    at_ = to;
    return true;
  }

  // The record (its magic hashed, then the trailer) and the trailer.
  bool WriteDigestAndTrailer(const uint8_t* trailer) {
    if (!Write(kContentDigestMagic, sizeof kContentDigestMagic)) return false;
    digest_.Update(trailer, kTrailerSize);
    const std::string digest = digest_.Finish();
    if (digest.size() != kContentDigestSize) return Fail("kovsea", "cannot compute the content digest");
    return out_->Write(digest.data(), digest.size()) && out_->Write(trailer, kTrailerSize);
  }

 private:
  PackSink* out_;
  Sha256 digest_;
  uint64_t at_ = 0;
  std::pair<uint64_t, uint64_t> holes_[2] = {};
};

bool WriteTrailer(const PackPlan& plan, ContentDigestSink* out) {
  const uint8_t zeros[kCertificateAlignment] = {};
  if (!out->Write(zeros, static_cast<size_t>(plan.padding))) return false;
  ArchiveTrailer trailer;
  memset(&trailer, 0, sizeof trailer);
  memcpy(trailer.magic, kTrailerMagic, sizeof trailer.magic);
  trailer.archive_offset = static_cast<uint32_t>(plan.stub_size);
  trailer.archive_size = static_cast<uint32_t>(plan.archive_size);
  trailer.entry_count = static_cast<uint32_t>(plan.entries.size());
  for (int i = 0; i < kSideFileCount; ++i) {
    SideFileAt(trailer, i).offset = plan.side_offsets[i];
    SideFileAt(trailer, i).size = static_cast<uint32_t>(plan.side_sizes[i]);
  }
  uint8_t raw[kTrailerSize];
  EncodeTrailer(trailer, raw);
  return out->WriteDigestAndTrailer(raw);
}

}  // namespace

bool PackSink::Fail(const fs::path& where, const std::string& what) {
  problem_ = Problem{where.string(), std::nullopt, what, std::string()};
  return false;
}

bool PackSink::CopyPrefix(FILE*, const fs::path&, uint64_t, uint64_t* copied) {
  *copied = 0;
  return true;
}

bool PackSink::Copy(const fs::path& source, uint64_t size, const platform::host::FileIdentity* planned) {
  platform::host::FileIdentity identity;
  FILE* in = platform::host::OpenRegularFile(source.string(), &identity);
  if (in == nullptr) return Fail(source, std::string("cannot open: ") + strerror(errno));
  if (planned != nullptr && !(identity == *planned)) {
    fclose(in);
    return Fail(source, "was replaced after it was checked (by a link, or another file)");
  }
  uint64_t copied = 0;
  bool ok = CopyPrefix(in, source, size, &copied);
  uint64_t left = size - copied;
  std::vector<char> buffer(ok && left != 0 ? kCopyChunk : 0);
  while (ok && left > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    const size_t got = fread(buffer.data(), 1, want, in);
    ok = got == want ? Write(buffer.data(), got) : Fail(source, "changed or unreadable while packing");
    left -= got;
  }
  const bool longer = ok && fgetc(in) != EOF;
  fclose(in);
  if (longer) return Fail(source, "grew while packing");
  return ok;
}

bool StreamPackage(const PackOptions& options, const std::string& stub, const PackPlan& plan, PackSink* sink) {
  ContentDigestSink hashed(sink, stub);
  bool ok = hashed.Write(stub.data(), stub.size()) && WriteEntries(plan, &hashed);
  for (int i = 0; ok && i < kSideFileCount; ++i) {
    if (!options.side_files[i].empty()) ok = hashed.Copy(options.side_files[i], plan.side_sizes[i]);
  }
  ok = ok && WriteTrailer(plan, &hashed);
  // A source that could not be read stopped the hashing sink, not `sink`.
  if (!ok && sink->problem().what.empty()) sink->Refuse(hashed.problem());
  return ok;
}

bool WritePackage(const PackOptions& options, const std::string& stub, const PackPlan& plan, Problem* problem) {
  ProgressMeter meter("packing", plan.total);
  TemporaryOutput out(&meter, plan.total);
  if (!out.Open(options.output) || !StreamPackage(options, stub, plan, &out) || !out.Commit(options.output)) {
    *problem = out.problem();
    return false;
  }
  meter.Finish();
  return true;
}
