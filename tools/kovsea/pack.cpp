#include "pack.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

#include "archive_format.h"
#include "byte_order.h"
#include "encoding.h"
#include "host_files.h"
#include "pe_resources.h"
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
// A signer appends its certificate table behind the file and names it with 32-bit offsets;
// this much room is kept for it (a signature with a chain and a timestamp takes 10-30 KiB).
constexpr uint64_t kSignatureRoom = 64 * 1024;
constexpr uint16_t kProgramIconGroup = 99;

class Failure {
 public:
  explicit Failure(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

std::string UpperAsciiString(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = UpperAscii(c);
  return out;
}

// Walks a tree in the stub's order (names sorted byte-wise, each directory's entry before its
// contents) and collects every entry and every problem.
class TreePlanner {
 public:
  TreePlanner(const PackOptions& options, PackPlan* plan) : options_(options), plan_(plan) {}

  void Walk(const fs::path& dir, const std::string& prefix) {
    std::vector<fs::path> children;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
      children.push_back(it->path());
    }
    if (error) {
      Problem(dir, "cannot be read: " + error.message(), "make it readable");
      return;
    }
    std::sort(children.begin(), children.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    std::map<std::string, fs::path> seen_upper;
    for (const fs::path& child : children) Entry(child, prefix, &seen_upper);
  }

 private:
  void Problem(const fs::path& where, const std::string& problem, const std::string& fix) {
    plan_->problems.push_back(PackProblem{where.string(), problem, fix});
  }

  void Entry(const fs::path& child, const std::string& prefix, std::map<std::string, fs::path>* seen_upper) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(child, error);
    if (error) return Problem(child, error.message(), "make it readable");
    if (fs::is_symlink(status)) {
      return Problem(child, "symbolic links cannot be packed", "put the file or directory it points to in its place");
    }
    const bool is_directory = fs::is_directory(status);
    if (!is_directory && !fs::is_regular_file(status)) {
      return Problem(child, "only regular files and directories can be packed", "remove it from the tree");
    }
    std::string component;
    if (!HostNameToAnsi(child.filename(), options_.codepage, &component)) {
      return Problem(child, "name cannot be represented in code page " + options_.codepage,
                     "rename it, or pack with the --codepage of the installer's language");
    }
    // In East Asian code pages 0x5C can be the second byte of a character; the stub and every
    // reader split names at that byte, so the name would fall apart.
    if (component.find('\\') != std::string::npos) {
      return Problem(child, "its spelling in code page " + options_.codepage +
                                " holds the byte 0x5C, which Windows reads as a path separator",
                     "rename it");
    }
    const std::string name = prefix + component;
    const NameProblem name_problem = CheckEntryName(name.c_str());
    if (name_problem != NameProblem::kNone) return Problem(child, DescribeNameProblem(name_problem), "rename it");
    auto clash = seen_upper->emplace(UpperAsciiString(component), child);
    if (!clash.second) {
      return Problem(child, "differs from " + clash.first->second.string() + " only in case, and Windows cannot hold both",
                     "rename one of them");
    }
    const uint64_t path_length = PathLengthAtSite(options_.temp_length, name.size());
    if (path_length > kMaxPathLength) {
      Problem(child, "would make a path of " + std::to_string(path_length) + " characters at the user's site, more than " +
                         "the 259 Windows allows (with a temporary directory of " +
                         std::to_string(options_.temp_length) + " characters)",
              "shorten its name or the directories above it by " + std::to_string(path_length - kMaxPathLength) +
                  (path_length - kMaxPathLength == 1 ? " character" : " characters"));
    }
    uint64_t size = 0;
    if (!is_directory) {
      size = fs::file_size(child, error);
      if (error) return Problem(child, error.message(), "make it readable");
      if (size > kMaxFileEntrySize) {
        return Problem(child, "larger than 4 GiB - 2 bytes, the most an entry can hold", "leave it out or split it");
      }
    }
    plan_->entries.push_back(PlannedEntry{child, name, is_directory, size});
    if (is_directory) Walk(child, name + "\\");
  }

  const PackOptions& options_;
  PackPlan* plan_;
};

void CheckLayout(const PackOptions& options, PackPlan* plan) {
  auto problem = [plan](const std::string& where, const std::string& what, const std::string& fix) {
    plan->problems.push_back(PackProblem{where, what, fix});
  };
  for (const PlannedEntry& e : plan->entries) {
    plan->archive_size += EntryBytes(e.name.size(), e.is_directory, e.size);
  }
  if (plan->archive_size > kMaxOffset) {
    problem(options.input_dir.string(), "the entries add up to more than 4 GiB, the most the format can address",
            "leave files out, or ship them in a second package");
  }
  uint64_t end = plan->stub_size + plan->archive_size;
  for (int i = 0; i < kSideFileCount; ++i) {
    if (options.side_files[i].empty()) continue;
    std::error_code error;
    const fs::path& side = options.side_files[i];
    if (!fs::is_regular_file(fs::status(side, error)) || error) {
      problem(side.string(), "a side file is not a readable file", "name a readable file");
      continue;
    }
    plan->side_sizes[i] = fs::file_size(side, error);
    if (end > kMaxOffset || plan->side_sizes[i] > kMaxOffset) {
      problem(side.string(), "the side file lies beyond the 4 GiB that the trailer can address",
              "make the payload smaller");
    }
    plan->side_offsets[i] = static_cast<uint32_t>(std::min<uint64_t>(end, kMaxOffset));
    end += plan->side_sizes[i];
    const std::string in_disk = std::string("Disk1\\") + SideFileName(i);
    if (PathLengthAtSite(options.temp_length, in_disk.size()) > kMaxPathLength) {
      problem(side.string(), "Disk1\\" + std::string(SideFileName(i)) + " would make a path longer than 259 characters",
              "lower --temp-length");
    }
  }
  plan->padding = (kTrailerAlignment - (end + kTrailerSize) % kTrailerAlignment) % kTrailerAlignment;
  plan->total = end + plan->padding + kTrailerSize;
  if (plan->total + kTrailerAlignment + kSignatureRoom > kMaxOffset) {
    problem(options.output.empty() ? options.input_dir.string() : options.output.string(),
            "the file would be " + std::to_string(plan->total) + " bytes, too large to be signed: a signature " +
                "is addressed with 32-bit offsets behind the file",
            "make the payload smaller by " +
                std::to_string(plan->total + kTrailerAlignment + kSignatureRoom - kMaxOffset) + " bytes");
  }
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

void WriteEntries(const PackPlan& plan, TemporaryOutput* out) {
  for (const PlannedEntry& e : plan.entries) {
    uint8_t size[4];
    StoreLe32(size, e.is_directory ? kDirectoryEntrySize : static_cast<uint32_t>(e.size));
    out->Write(size, sizeof size);
    out->Write(e.name.c_str(), e.name.size() + 1);
    if (!e.is_directory && e.size > 0) out->Copy(e.host_path, e.size);
  }
}

void WriteTrailer(const PackPlan& plan, TemporaryOutput* out) {
  const uint8_t zeros[kTrailerAlignment] = {};
  out->Write(zeros, static_cast<size_t>(plan.padding));
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
  out->Write(raw, sizeof raw);
}

bool ReadWhole(const fs::path& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *bytes = s.str();
  return static_cast<bool>(in) || in.eof();
}

}  // namespace

PackPlan PlanPack(const PackOptions& options, uint64_t stub_size) {
  PackPlan plan;
  plan.stub_size = stub_size;
  std::error_code error;
  if (!fs::is_directory(options.input_dir, error)) {
    plan.problems.push_back(PackProblem{options.input_dir.string(), "not a directory", "name the installer's tree"});
    return plan;
  }
  TreePlanner(options, &plan).Walk(options.input_dir, "");
  if (plan.entries.empty() && plan.problems.empty()) {
    plan.problems.push_back(PackProblem{options.input_dir.string(), "nothing to pack (empty directory)",
                                        "put the installer's files in it"});
  }
  if (!fs::is_regular_file(options.input_dir / "Disk1" / "Setup.exe", error)) {
    plan.problems.push_back(PackProblem{(options.input_dir / "Disk1" / "Setup.exe").string(),
                                        "is missing: the stub would find no installer to start",
                                        "put the installer's Setup.exe in the tree's Disk1 directory"});
  }
  CheckLayout(options, &plan);
  return plan;
}

bool PrepareStub(const PackOptions& options, std::string* stub, std::string* error) {
  if (!ReadWhole(options.stub, stub) || stub->empty()) {
    *error = options.stub.string() + ": the stub is not a readable file";
    return false;
  }
  if (stub->size() > kMaxOffset) {
    *error = options.stub.string() + ": the stub is larger than 4 GiB";
    return false;
  }
  platform::File* file = platform::host::OpenHostFile(options.stub.string());
  CertificateTable table{0, 0};
  if (file != nullptr) {
    ReadCertificateTable(file, &table);
    platform::CloseFile(file);
  }
  if (table.size != 0) {
    *error = options.stub.string() +
             ": the stub is signed, and the payload would break its signature; pack the "
             "unsigned stub and sign the finished self-extractor instead";
    return false;
  }
  if (options.icon.empty() && options.version_info.empty()) return true;
  pe::ResourceTree resources;
  if (!pe::ReadResources(*stub, &resources, error)) {
    *error = options.stub.string() + ": " + *error;
    return false;
  }
  if (!options.icon.empty()) {
    std::string ico;
    std::vector<pe::IconImage> images;
    if (!ReadWhole(options.icon, &ico)) {
      *error = options.icon.string() + ": cannot read";
      return false;
    }
    if (!pe::ParseIcoFile(ico, &images, error)) {
      *error = options.icon.string() + ": " + *error;
      return false;
    }
    pe::ReplaceIconGroup(&resources, kProgramIconGroup, images);
  }
  if (!options.version_info.empty()) {
    std::string version;
    if (!pe::BuildVersionResource(options.version_info, &version, error)) return false;
    auto& slot = resources[pe::ResourceId::Number(pe::kTypeVersion)][pe::ResourceId::Number(1)];
    slot.clear();
    slot[pe::kLanguageUsEnglish] = version;
  }
  if (!pe::WriteResources(stub, resources, error)) {
    *error = options.stub.string() + ": " + *error;
    return false;
  }
  return true;
}

int Pack(const PackOptions& options, std::vector<std::string>* errors) {
  std::string stub;
  std::string error;
  if (!PrepareStub(options, &stub, &error)) {
    errors->push_back(error);
    return 1;
  }
  const PackPlan plan = PlanPack(options, stub.size());
  for (const PackProblem& p : plan.problems) errors->push_back(p.where + ": " + p.problem + " (" + p.fix + ")");
  if (!plan.problems.empty()) return 1;
  try {
    ProgressMeter meter("packing", plan.total);
    TemporaryOutput out(options.output, &meter, plan.total);
    out.Write(stub.data(), stub.size());
    WriteEntries(plan, &out);
    for (int i = 0; i < kSideFileCount; ++i) {
      if (!options.side_files[i].empty()) out.Copy(options.side_files[i], plan.side_sizes[i]);
    }
    WriteTrailer(plan, &out);
    out.Commit(options.output);
    meter.Finish();
    return 0;
  } catch (const Failure& failure) {
    errors->push_back(failure.message());
  } catch (const fs::filesystem_error& failure) {
    errors->push_back(failure.what());
  }
  return 1;
}
