#include "pack.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <system_error>
#include <vector>

#include "archive/archive_format.h"
#include "archive/trailer_locator.h"
#include "platform/host/host_platform.h"
#include "encoding.h"
#include "progress_meter.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr size_t kCopyChunk = 1u << 20;
constexpr uint64_t kMaxOffset = 0xFFFFFFFFull;
constexpr uint64_t kTrailerAlignment = 8;

struct PlannedEntry {
  fs::path host_path;
  std::string name;  // ANSI, backslashes
  bool is_directory;
  uint64_t size;
};

class Failure {
 public:
  explicit Failure(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

std::string Upper(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
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
    std::string component;
    if (!HostNameToAnsi(child.filename(), codepage, &component)) {
      throw Failure(shown + ": name cannot be represented in code page " + codepage);
    }
    const std::string name = prefix + component;
    const NameProblem problem = CheckEntryName(name.c_str());
    if (problem != NameProblem::kNone) {
      throw Failure(shown + ": " + DescribeNameProblem(problem));
    }
    auto clash = seen_upper.emplace(Upper(component), child);
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

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

class Output {
 public:
  Output(const fs::path& path, ProgressMeter* meter, uint64_t total)
      : path_(path), meter_(meter), total_(total) {
    stream_ = fopen(path.string().c_str(), "wb");
    if (stream_ == nullptr) throw Failure(path.string() + ": cannot create: " + strerror(errno));
  }
  ~Output() {
    if (stream_ != nullptr) fclose(stream_);
  }
  void Write(const void* data, size_t n) {
    if (fwrite(data, 1, n, stream_) != n) {
      throw Failure(path_.string() + ": write failed: " + strerror(errno));
    }
    written_ += n;
    if (total_ != 0) meter_->Show(static_cast<int>(written_ * 100 / total_));
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
      const uint64_t got = platform::CopyDescriptorRange(fileno(in), &from, fileno(stream_), &to, step);
      if (got < step && errno != 0) throw Failure(path_.string() + ": write failed: " + strerror(errno));
      if (got < step) throw Failure(source.string() + ": changed or unreadable while packing");
      done += got;
      written_ += got;
      if (total_ != 0) meter_->Show(static_cast<int>(written_ * 100 / total_));
    }
    if (fseeko(stream_, static_cast<off_t>(to), SEEK_SET) != 0 ||
        fseeko(in, static_cast<off_t>(from), SEEK_SET) != 0) {
      throw Failure(path_.string() + ": write failed: " + strerror(errno));
    }
    return done;
#else
    (void)in;
    (void)source;
    (void)size;
    return 0;
#endif
  }

  void Close() {
    FILE* s = stream_;
    stream_ = nullptr;
    if (fflush(s) != 0 || ferror(s) != 0) {
      fclose(s);
      throw Failure(path_.string() + ": write failed: " + strerror(errno));
    }
    if (fclose(s) != 0) throw Failure(path_.string() + ": write failed: " + strerror(errno));
  }
  uint64_t written() const { return written_; }

 private:
  fs::path path_;
  FILE* stream_ = nullptr;
  ProgressMeter* meter_;
  uint64_t total_;
  uint64_t written_ = 0;
};

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
  platform::File* file = platform::OpenForReading(stub.string().c_str());
  if (file == nullptr) throw Failure(stub.string() + ": cannot open: " + strerror(errno));
  CertificateTable table;
  ReadCertificateTable(file, &table);
  platform::CloseFile(file);
  return table.size != 0;
}

}  // namespace

int Pack(const PackOptions& options, std::string* error) {
  fs::path temp;
  try {
    std::error_code ec;
    if (!fs::is_directory(options.input_dir, ec)) {
      throw Failure(options.input_dir.string() + ": not a directory");
    }
    std::vector<PlannedEntry> entries;
    PlanDirectory(options.input_dir, "", options.codepage, &entries);
    if (entries.empty()) throw Failure(options.input_dir.string() + ": nothing to pack (empty directory)");

    const uint64_t stub_size = RegularFileSize(options.stub, "the stub");
    uint64_t archive_size = 0;
    for (const PlannedEntry& e : entries) {
      archive_size += 4 + e.name.size() + 1 + (e.is_directory ? 0 : e.size);
    }
    if (archive_size > kMaxOffset) throw Failure("the entries add up to more than 4 GiB");
    uint64_t side_sizes[kSideFileCount] = {0, 0, 0, 0};
    uint64_t end = stub_size + archive_size;
    uint32_t side_offsets[kSideFileCount] = {0, 0, 0, 0};
    for (int i = 0; i < kSideFileCount; ++i) {
      if (options.side_files[i].empty()) continue;
      side_sizes[i] = RegularFileSize(options.side_files[i], "a side file");
      if (end > kMaxOffset || side_sizes[i] > kMaxOffset) {
        throw Failure("the side files lie beyond the 4 GiB that the trailer can address");
      }
      side_offsets[i] = static_cast<uint32_t>(end);
      end += side_sizes[i];
    }
    if (stub_size > kMaxOffset || stub_size == 0) {
      throw Failure(options.stub.string() + ": the stub is empty or larger than 4 GiB");
    }
    if (StubIsSigned(options.stub)) {
      throw Failure(options.stub.string() +
                    ": the stub is signed, and the payload would break its signature; pack the "
                    "unsigned stub and sign the finished self-extractor instead");
    }
    const uint64_t padding = (kTrailerAlignment - (end + kTrailerSize) % kTrailerAlignment) % kTrailerAlignment;
    const uint64_t total = end + padding + kTrailerSize;

    fs::path out_dir = options.output.parent_path();
    if (out_dir.empty()) out_dir = ".";
    temp = out_dir / (options.output.filename().string() + ".tmp-" + std::to_string(getpid()));
    ProgressMeter meter("packing", total);
    {
      Output out(temp, &meter, total);
      out.Copy(options.stub, stub_size);
      for (const PlannedEntry& e : entries) {
        uint8_t size[4];
        Put32(size, e.is_directory ? kDirectoryEntrySize : static_cast<uint32_t>(e.size));
        out.Write(size, sizeof size);
        out.Write(e.name.c_str(), e.name.size() + 1);
        if (!e.is_directory && e.size > 0) out.Copy(e.host_path, e.size);
      }
      for (int i = 0; i < kSideFileCount; ++i) {
        if (!options.side_files[i].empty()) out.Copy(options.side_files[i], side_sizes[i]);
      }
      const uint8_t zeros[kTrailerAlignment] = {};
      out.Write(zeros, static_cast<size_t>(padding));

      ArchiveTrailer trailer;
      memset(&trailer, 0, sizeof trailer);
      memcpy(trailer.magic, kTrailerMagic, sizeof trailer.magic);
      trailer.archive_offset = static_cast<uint32_t>(stub_size);
      trailer.archive_size = static_cast<uint32_t>(archive_size);
      trailer.entry_count = static_cast<uint32_t>(entries.size());
      for (int i = 0; i < kSideFileCount; ++i) {
        SideFileAt(trailer, i).offset = side_offsets[i];
        SideFileAt(trailer, i).size = static_cast<uint32_t>(side_sizes[i]);
      }
      uint8_t raw[kTrailerSize];
      EncodeTrailer(trailer, raw);
      out.Write(raw, sizeof raw);
      out.Close();
    }
    meter.Finish();
#ifndef _WIN32
    chmod(temp.string().c_str(), 0755);
#endif
    fs::rename(temp, options.output, ec);
    if (ec) throw Failure(options.output.string() + ": cannot move into place: " + ec.message());
    return 0;
  } catch (const Failure& failure) {
    *error = failure.message();
  } catch (const fs::filesystem_error& failure) {
    *error = failure.what();
  }
  if (!temp.empty()) {
    std::error_code ignored;
    fs::remove(temp, ignored);
  }
  return 1;
}
