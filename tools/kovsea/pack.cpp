#include "pack.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <random>
#include <system_error>
#include <vector>

#include "archive_format.h"
#include "byte_order.h"
#include "encoding.h"
#include "host_files.h"
#include "progress_meter.h"
#include "text.h"
#include "trailer_locator.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr size_t kCopyChunk = 1u << 20;
constexpr uint64_t kMaxOffset = 0xFFFFFFFFull;
constexpr uint64_t kTrailerAlignment = 8;

class Failure {
 public:
  explicit Failure(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

struct PlannedEntry {
  fs::path host_path;
  std::string name;  // ANSI, backslashes
  bool is_directory;
  uint64_t size;
};

// Everything the file will hold, and where: worked out before a byte is written.
struct Layout {
  std::vector<PlannedEntry> entries;
  uint64_t stub_size = 0;
  uint64_t archive_size = 0;
  uint64_t side_sizes[kSideFileCount] = {0, 0, 0, 0};
  uint32_t side_offsets[kSideFileCount] = {0, 0, 0, 0};
  uint64_t padding = 0;  // zeros in front of the trailer, so that the file ends 8-aligned
  uint64_t total = 0;
};

std::string UpperAsciiString(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = UpperAscii(c);
  return out;
}

// The name one host file name component is stored under, refusing what the stub could not
// create faithfully.
std::string StoredComponent(const fs::path& child, const std::string& codepage) {
  const std::string shown = child.string();
  std::string component;
  if (!HostNameToAnsi(child.filename(), codepage, &component)) {
    throw Failure(shown + ": name cannot be represented in code page " + codepage);
  }
  // In East Asian code pages 0x5C can be the second byte of a character; the stub and every
  // reader split names at that byte, so the name would fall apart.
  if (component.find('\\') != std::string::npos) {
    throw Failure(shown + ": its spelling in code page " + codepage +
                  " holds the byte 0x5C, which Windows reads as a path separator; rename it");
  }
  return component;
}

// Walks `dir` in a fixed order: names sorted byte-wise, each directory's entry before its
// contents. Refuses anything the stub could not recreate faithfully.
void PlanDirectory(const fs::path& dir, const std::string& prefix, const std::string& codepage,
                   std::vector<PlannedEntry>* out) {
  std::vector<fs::path> children;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    children.push_back(it->path());
  }
  if (error) throw Failure(dir.string() + ": cannot read directory: " + error.message());
  std::sort(children.begin(), children.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });

  std::map<std::string, fs::path> seen_upper;
  for (const fs::path& child : children) {
    const std::string shown = child.string();
    const fs::file_status status = fs::symlink_status(child, error);
    if (error) throw Failure(shown + ": " + error.message());
    if (fs::is_symlink(status)) throw Failure(shown + ": symbolic links cannot be packed");
    const bool is_directory = fs::is_directory(status);
    if (!is_directory && !fs::is_regular_file(status)) {
      throw Failure(shown + ": only regular files and directories can be packed");
    }
    const std::string component = StoredComponent(child, codepage);
    const std::string name = prefix + component;
    const NameProblem problem = CheckEntryName(name.c_str());
    if (problem != NameProblem::kNone) throw Failure(shown + ": " + DescribeNameProblem(problem));
    auto clash = seen_upper.emplace(UpperAsciiString(component), child);
    if (!clash.second) {
      throw Failure(shown + ": differs from " + clash.first->second.string() +
                    " only in case, and Windows cannot hold both");
    }
    uint64_t size = 0;
    if (!is_directory) {
      size = fs::file_size(child, error);
      if (error) throw Failure(shown + ": " + error.message());
      if (size > kMaxFileEntrySize) throw Failure(shown + ": larger than 4 GiB - 2 bytes");
    }
    out->push_back(PlannedEntry{child, name, is_directory, size});
    if (is_directory) PlanDirectory(child, name + "\\", codepage, out);
  }
}

uint64_t RegularFileSize(const fs::path& path, const char* what) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::is_regular_file(status)) {
    throw Failure(path.string() + ": " + what + " is not a readable file");
  }
  return fs::file_size(path, error);
}

// Whether the stub's PE header names a certificate table.
bool StubIsSigned(const fs::path& stub) {
  platform::File* file = platform::host::OpenHostFile(stub.string());
  if (file == nullptr) throw Failure(stub.string() + ": cannot open: " + strerror(errno));
  CertificateTable table;
  ReadCertificateTable(file, &table);
  platform::CloseFile(file);
  return table.size != 0;
}

void CheckStub(const fs::path& stub, uint64_t size) {
  if (size > kMaxOffset || size == 0) throw Failure(stub.string() + ": the stub is empty or larger than 4 GiB");
  if (StubIsSigned(stub)) {
    throw Failure(stub.string() +
                  ": the stub is signed, and the payload would break its signature; pack the "
                  "unsigned stub and sign the finished self-extractor instead");
  }
}

// The stub, the entry stream, the side files back to back behind it, zero padding and the
// trailer, each within the 4 GiB the trailer's offsets can address.
Layout PlanLayout(const PackOptions& options) {
  std::error_code ec;
  if (!fs::is_directory(options.input_dir, ec)) throw Failure(options.input_dir.string() + ": not a directory");
  Layout layout;
  PlanDirectory(options.input_dir, "", options.codepage, &layout.entries);
  if (layout.entries.empty()) throw Failure(options.input_dir.string() + ": nothing to pack (empty directory)");
  layout.stub_size = RegularFileSize(options.stub, "the stub");
  for (const PlannedEntry& e : layout.entries) {
    layout.archive_size += 4 + e.name.size() + 1 + (e.is_directory ? 0 : e.size);
  }
  if (layout.archive_size > kMaxOffset) throw Failure("the entries add up to more than 4 GiB");
  uint64_t end = layout.stub_size + layout.archive_size;
  for (int i = 0; i < kSideFileCount; ++i) {
    if (options.side_files[i].empty()) continue;
    layout.side_sizes[i] = RegularFileSize(options.side_files[i], "a side file");
    if (end > kMaxOffset || layout.side_sizes[i] > kMaxOffset) {
      throw Failure("the side files lie beyond the 4 GiB that the trailer can address");
    }
    layout.side_offsets[i] = static_cast<uint32_t>(end);
    end += layout.side_sizes[i];
  }
  CheckStub(options.stub, layout.stub_size);
  layout.padding = (kTrailerAlignment - (end + kTrailerSize) % kTrailerAlignment) % kTrailerAlignment;
  layout.total = end + layout.padding + kTrailerSize;
  return layout;
}

// The output under a temporary name beside it, created exclusively under an unpredictable
// name, so that nothing planted there (a link, say) is ever followed; moved into place only
// when complete, removed otherwise.
class TemporaryOutput {
 public:
  TemporaryOutput(const fs::path& output, ProgressMeter* meter, uint64_t total)
      : meter_(meter), total_(total) {
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
    if (fd_ < 0) throw Failure(output.string() + ": cannot create beside it: " + strerror(errno));
    stream_ = fdopen(fd_, "wb");
    if (stream_ == nullptr) {
      const int error = errno;
      close(fd_);
      std::error_code ignored;
      fs::remove(path_, ignored);
      throw Failure(output.string() + ": cannot create: " + strerror(error));
    }
  }
  ~TemporaryOutput() {
    if (stream_ != nullptr) fclose(stream_);
    if (!committed_) {
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
  }

  void Write(const void* data, size_t n) {
    if (fwrite(data, 1, n, stream_) != n) throw WriteFailure();
    Advance(n);
  }

  // Copies exactly `size` bytes of `source`; a file that changed size meanwhile is an error.
  void Copy(const fs::path& source, uint64_t size) {
    FILE* in = fopen(source.string().c_str(), "rb");
    if (in == nullptr) throw Failure(source.string() + ": cannot open: " + strerror(errno));
    uint64_t left = size - CopyInKernel(in, source, size);
    std::vector<char> buffer(left != 0 ? kCopyChunk : 0);
    while (left > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
      const size_t got = fread(buffer.data(), 1, want, in);
      if (got != want) {
        fclose(in);
        throw Failure(source.string() + ": changed or unreadable while packing");
      }
      Write(buffer.data(), got);
      left -= got;
    }
    const bool longer = fgetc(in) != EOF;
    fclose(in);
    if (longer) throw Failure(source.string() + ": grew while packing");
  }

  // Flushes, makes the file executable as a new file would be, and moves it over `output`.
  void Commit(const fs::path& output) {
    FILE* s = stream_;
    stream_ = nullptr;
    if (fflush(s) != 0 || ferror(s) != 0) {
      fclose(s);
      throw WriteFailure();
    }
#ifndef _WIN32
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fileno(s), 0777 & ~mask);
#endif
    if (fclose(s) != 0) throw WriteFailure();
    std::error_code ec;
    fs::rename(path_, output, ec);
    if (ec) throw Failure(output.string() + ": cannot move into place: " + ec.message());
    committed_ = true;
  }

 private:
  Failure WriteFailure() const { return Failure(path_.string() + ": write failed: " + strerror(errno)); }

  void Advance(uint64_t n) {
    written_ += n;
    if (total_ != 0) meter_->Show(static_cast<int>(written_ * 100 / total_));
  }

  // Copies the first `size` bytes of `in` into the output inside the kernel (through memory
  // where the file systems do not allow that), leaving `in` positioned after them. Returns
  // how many were copied: 0 off Linux, where the caller copies them.
  uint64_t CopyInKernel(FILE* in, const fs::path& source, uint64_t size) {
#ifdef __linux__
    if (size == 0 || fflush(stream_) != 0) return 0;
    int64_t from = 0;
    int64_t to = ftello(stream_);
    if (to < 0) return 0;
    uint64_t done = 0;
    while (done < size) {
      const uint64_t step = std::min<uint64_t>(size - done, 16 * kCopyChunk);
      const uint64_t got = platform::host::CopyDescriptorRange(fileno(in), &from, fileno(stream_), &to, step);
      if (got < step && errno != 0) throw WriteFailure();
      if (got < step) throw Failure(source.string() + ": changed or unreadable while packing");
      done += got;
      Advance(got);
    }
    if (fseeko(stream_, static_cast<off_t>(to), SEEK_SET) != 0 ||
        fseeko(in, static_cast<off_t>(from), SEEK_SET) != 0) {
      throw WriteFailure();
    }
    return done;
#else
    (void)in;
    (void)source;
    (void)size;
    return 0;
#endif
  }

  fs::path path_;
  int fd_ = -1;
  FILE* stream_ = nullptr;
  bool committed_ = false;
  ProgressMeter* meter_;
  uint64_t total_;
  uint64_t written_ = 0;
};

void WriteEntries(const Layout& layout, TemporaryOutput* out) {
  for (const PlannedEntry& e : layout.entries) {
    uint8_t size[4];
    StoreLe32(size, e.is_directory ? kDirectoryEntrySize : static_cast<uint32_t>(e.size));
    out->Write(size, sizeof size);
    out->Write(e.name.c_str(), e.name.size() + 1);
    if (!e.is_directory && e.size > 0) out->Copy(e.host_path, e.size);
  }
}

void WriteTrailer(const Layout& layout, TemporaryOutput* out) {
  const uint8_t zeros[kTrailerAlignment] = {};
  out->Write(zeros, static_cast<size_t>(layout.padding));
  ArchiveTrailer trailer;
  memset(&trailer, 0, sizeof trailer);
  memcpy(trailer.magic, kTrailerMagic, sizeof trailer.magic);
  trailer.archive_offset = static_cast<uint32_t>(layout.stub_size);
  trailer.archive_size = static_cast<uint32_t>(layout.archive_size);
  trailer.entry_count = static_cast<uint32_t>(layout.entries.size());
  for (int i = 0; i < kSideFileCount; ++i) {
    SideFileAt(trailer, i).offset = layout.side_offsets[i];
    SideFileAt(trailer, i).size = static_cast<uint32_t>(layout.side_sizes[i]);
  }
  uint8_t raw[kTrailerSize];
  EncodeTrailer(trailer, raw);
  out->Write(raw, sizeof raw);
}

}  // namespace

int Pack(const PackOptions& options, std::string* error) {
  try {
    const Layout layout = PlanLayout(options);
    ProgressMeter meter("packing", layout.total);
    TemporaryOutput out(options.output, &meter, layout.total);
    out.Copy(options.stub, layout.stub_size);
    WriteEntries(layout, &out);
    for (int i = 0; i < kSideFileCount; ++i) {
      if (!options.side_files[i].empty()) out.Copy(options.side_files[i], layout.side_sizes[i]);
    }
    WriteTrailer(layout, &out);
    out.Commit(options.output);
    meter.Finish();
    return 0;
  } catch (const Failure& failure) {
    *error = failure.message();
  } catch (const fs::filesystem_error& failure) {
    *error = failure.what();
  }
  return 1;
}
