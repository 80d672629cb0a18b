#include "host_files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <iconv.h>
#include <unistd.h>
#endif

namespace platform {

struct File {
  FILE* stream = nullptr;          // null for a catalogued file
  size_t catalogue_index = 0;
  std::unique_ptr<char[]> buffer;  // the stream's buffer (stdio may ignore a size without one)
  // Where reading continues after file-to-file copies, applied at the next read. Seeking the
  // stream at once would make stdio refill its buffer, which the next copy throws away.
  int64_t resume_at = -1;
};

namespace host {
namespace {

// Larger than stdio's default, so the decoder's 512-byte reads and its runs of file data
// reach the disk in few system calls.
constexpr size_t kStreamBuffer = 256 * 1024;

enum class TargetKind { kNone, kDirectory, kCatalogue };

// A catalogued name as Windows compares names: ASCII letters in upper case.
std::string CatalogueKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  return key;
}

struct Target {
  TargetKind kind = TargetKind::kNone;
#ifdef _WIN32
  std::string directory;  // ends in a backslash
#else
  int directory = -1;     // an open handle of the target directory
  // The directory the last path was created in, kept open: entries come directory by
  // directory, and a walk for each of them would cost a system call per component.
  std::vector<std::string> last_parent;
  int last_parent_fd = -1;
#endif
  std::set<std::string> existed;  // paths that were there before the run asked for them
  std::set<std::string> created;  // paths this run made
  std::vector<CatalogueEntry> entries;
  std::map<std::string, size_t> by_key;  // CatalogueKey(name) -> the newest entry of that name
  CatalogueObserver* observer = nullptr;
};

Target g_target;
Refusal g_refusal = Refusal::kNone;
std::string g_codepage = "CP1252";

bool Refuse(Refusal why) {
  g_refusal = why;
  return false;
}

void NoteCreated(const char* path) {
  g_target.created.insert(path);
  g_target.existed.erase(path);
}

// A path found already there counts as the user's unless this run made it.
void NoteFound(const char* path) {
  if (g_target.created.count(path) == 0) g_target.existed.insert(path);
}

File* WrapStream(FILE* stream) {
  if (stream == nullptr) return nullptr;
  auto* file = new File;
  file->stream = stream;
  file->buffer.reset(new char[kStreamBuffer]);
  setvbuf(stream, file->buffer.get(), _IOFBF, kStreamBuffer);
  return file;
}

// Splits a stub path into its components and converts each into a host name. Every
// component must be a plain name there too: not empty, not "." or "..", without a separator.
// Converting one component at a time keeps a double-byte character from swallowing a
// backslash (0x5C can be a trail byte in East Asian code pages).
bool HostComponents(const char* path, std::vector<std::string>* out) {
  out->clear();
  const std::string p(path);
  size_t start = 0;
  for (;;) {
    const size_t cut = p.find('\\', start);
    const std::string raw = p.substr(start, cut == std::string::npos ? std::string::npos : cut - start);
    std::string name;
    if (!ConvertEncoding(g_codepage.c_str(), "UTF-8", raw, &name) || name.empty() || name == "." ||
        name == ".." || name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
      return Refuse(Refusal::kUnspellable);
    }
    out->push_back(name);
    if (cut == std::string::npos) return true;
    start = cut + 1;
  }
}

// ---- The catalogue -----------------------------------------------------------------------

const CatalogueEntry* Catalogued(const std::string& name) {
  const auto found = g_target.by_key.find(CatalogueKey(name));
  return found == g_target.by_key.end() ? nullptr : &g_target.entries[found->second];
}

// Records an entry, findable by its name from then on.
size_t Record(const char* path, bool is_directory) {
  g_target.entries.push_back(CatalogueEntry{path, is_directory, 0});
  const size_t index = g_target.entries.size() - 1;
  g_target.by_key[CatalogueKey(path)] = index;
  return index;
}

// A name may be recorded when it converts and its directory was recorded before it.
bool CatalogueAccepts(const char* path) {
  std::vector<std::string> components;
  if (!HostComponents(path, &components)) return false;
  const std::string name(path);
  const size_t cut = name.rfind('\\');
  if (cut != std::string::npos) {
    const CatalogueEntry* parent = Catalogued(name.substr(0, cut));
    if (parent == nullptr || !parent->is_directory) return Refuse(Refusal::kNoParent);
  }
  return true;
}

bool CatalogueDirectory(const char* path) {
  if (!CatalogueAccepts(path)) return false;
  if (Catalogued(path) != nullptr) return Refuse(Refusal::kExists);
  Record(path, true);
  return true;
}

File* CatalogueFile(const char* path) {
  if (!CatalogueAccepts(path)) return nullptr;
  const CatalogueEntry* same = Catalogued(path);
  if (same != nullptr && same->is_directory) {
    Refuse(Refusal::kExists);
    return nullptr;
  }
  auto* file = new File;
  file->catalogue_index = Record(path, false);
  return file;
}

// ---- The directory target ----------------------------------------------------------------

Refusal RefusalFor(int error) {
  switch (error) {
    case ENOENT: case ENOTDIR: return Refusal::kNoParent;
    case ELOOP: return Refusal::kLink;
    case EEXIST: case EISDIR: return Refusal::kExists;
    default: return Refusal::kSystem;
  }
}

#ifdef _WIN32

bool IsReparsePoint(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The full path of a stub path in the directory target, refusing a reparse point on the way
// or at the place (what stands there is checked right before it is used).
bool Place(const char* path, std::string* full) {
  std::vector<std::string> components;
  if (!HostComponents(path, &components)) return false;
  *full = g_target.directory;
  for (size_t i = 0; i < components.size(); ++i) {
    *full += components[i];
    if (IsReparsePoint(*full)) return Refuse(Refusal::kLink);
    if (i + 1 < components.size()) *full += '\\';
  }
  return true;
}

bool IsDirectoryAt(const std::string& full) {
  const DWORD attributes = GetFileAttributesA(full.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

File* CreateInDirectory(const char* path) {
  std::string full;
  if (!Place(path, &full)) return nullptr;
  int fd = _open(full.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0 && errno == EEXIST && !IsDirectoryAt(full)) {
    fd = _open(full.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
    if (fd >= 0) NoteFound(path);
  } else if (fd >= 0) {
    NoteCreated(path);
  }
  if (fd < 0) {
    Refuse(IsDirectoryAt(full) ? Refusal::kExists : RefusalFor(errno));
    return nullptr;
  }
  return WrapStream(_fdopen(fd, "wb"));
}

bool DirectoryInDirectory(const char* path) {
  std::string full;
  if (!Place(path, &full)) return false;
  if (CreateDirectoryA(full.c_str(), nullptr)) {
    NoteCreated(path);
    return true;
  }
  if (IsDirectoryAt(full)) NoteFound(path);
  return Refuse(GetLastError() == ERROR_ALREADY_EXISTS ? Refusal::kExists : Refusal::kNoParent);
}

bool RemoveInDirectory(const char* path, bool directory) {
  std::string full;
  if (!Place(path, &full)) return false;
  if (directory) return RemoveDirectoryA(full.c_str()) != 0;
  return !IsDirectoryAt(full) && DeleteFileA(full.c_str()) != 0;
}

File* OpenInDirectory(const char* path) {
  std::string full;
  if (!Place(path, &full)) return nullptr;
  return WrapStream(fopen(full.c_str(), "rb"));
}

#else

// An open descriptor, closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Why `name` in `directory` could not be opened: a link standing there is named as such,
// whatever the error the open reported for it.
Refusal RefusalAt(int directory, const std::string& name, int error) {
  struct stat st;
  if (fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return Refusal::kLink;
  }
  return RefusalFor(error);
}

void ForgetLastParent() {
  if (g_target.last_parent_fd >= 0) close(g_target.last_parent_fd);
  g_target.last_parent_fd = -1;
  g_target.last_parent.clear();
}

// Opens the directory that holds the last component of `path`, walking from the target's
// handle one component at a time and never following a symbolic link; `leaf` receives the
// last component's host name.
bool OpenParent(const char* path, Descriptor* parent, std::string* leaf) {
  std::vector<std::string> components;
  if (!HostComponents(path, &components)) return false;
  *leaf = components.back();
  components.pop_back();
  if (g_target.last_parent_fd >= 0 && components == g_target.last_parent) {
    parent->reset(dup(g_target.last_parent_fd));
    return parent->get() >= 0 || Refuse(Refusal::kSystem);
  }
  parent->reset(dup(g_target.directory));
  for (const std::string& component : components) {
    const int next = openat(parent->get(), component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return Refuse(RefusalAt(parent->get(), component, errno));
    parent->reset(next);
  }
  if (parent->get() < 0) return Refuse(Refusal::kSystem);
  ForgetLastParent();
  g_target.last_parent = components;
  g_target.last_parent_fd = dup(parent->get());
  return true;
}

File* CreateInDirectory(const char* path) {
  Descriptor parent;
  std::string leaf;
  if (!OpenParent(path, &parent, &leaf)) return nullptr;
  // A new file first; only a regular file that is already there is truncated, and a link
  // standing at the place (even a dangling one) refuses both opens.
  Descriptor fd(openat(parent.get(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (fd.get() < 0 && errno == EEXIST) {
    fd.reset(openat(parent.get(), leaf.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (fd.get() >= 0 && (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
      errno = EISDIR;
      fd.reset(-1);
    }
    if (fd.get() >= 0) {
      if (ftruncate(fd.get(), 0) != 0) {
        fd.reset(-1);
      } else {
        fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
        NoteFound(path);
      }
    }
  } else if (fd.get() >= 0) {
    NoteCreated(path);
  }
  if (fd.get() < 0) {
    Refuse(RefusalAt(parent.get(), leaf, errno));
    return nullptr;
  }
  FILE* stream = fdopen(fd.get(), "wb");
  if (stream == nullptr) return nullptr;
  fd.release();
  return WrapStream(stream);
}

bool DirectoryInDirectory(const char* path) {
  Descriptor parent;
  std::string leaf;
  if (!OpenParent(path, &parent, &leaf)) return false;
  if (mkdirat(parent.get(), leaf.c_str(), 0777) == 0) {
    NoteCreated(path);
    return true;
  }
  const int error = errno;
  struct stat st;
  if (error == EEXIST && fstatat(parent.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(st.st_mode)) {
    NoteFound(path);
  }
  return Refuse(RefusalAt(parent.get(), leaf, error));
}

bool RemoveInDirectory(const char* path, bool directory) {
  Descriptor parent;
  std::string leaf;
  if (!OpenParent(path, &parent, &leaf)) return false;
  struct stat st;
  if (fstatat(parent.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISDIR(st.st_mode) != directory) return false;
  // A directory that goes may be the one kept open.
  if (directory) ForgetLastParent();
  return unlinkat(parent.get(), leaf.c_str(), directory ? AT_REMOVEDIR : 0) == 0;
}

File* OpenInDirectory(const char* path) {
  Descriptor parent;
  std::string leaf;
  if (!OpenParent(path, &parent, &leaf)) return nullptr;
  Descriptor fd(openat(parent.get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  FILE* stream = fd.get() >= 0 ? fdopen(fd.get(), "rb") : nullptr;
  if (stream == nullptr) return nullptr;
  fd.release();
  return WrapStream(stream);
}

bool IconvConvert(const char* from, const char* to, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = &(*out)[0];
  size_t dst_left = out->size();
  size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
  // A multi-byte character cut at the end of the input is an error too.
  if (r != static_cast<size_t>(-1)) r = iconv(cd, nullptr, nullptr, &dst, &dst_left);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || src_left != 0) return false;
  out->resize(out->size() - dst_left);
  return true;
}

#endif

}  // namespace

bool ConvertEncoding(const char* from, const char* to, const std::string& in, std::string* out) {
#ifdef _WIN32
  // On Windows paths stay in the system's ANSI code page and go to the ANSI calls unchanged.
  (void)from;
  (void)to;
  *out = in;
  return true;
#else
  return IconvConvert(from, to, in, out);
#endif
}

bool SetCodepage(const char* iconv_name) {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii.push_back(static_cast<char>(c));
  std::string converted;
  if (!ConvertEncoding(iconv_name, "UTF-8", ascii, &converted) || converted != ascii) return false;
  g_codepage = iconv_name;
  return true;
}

bool TargetDirectory(const std::string& host_directory) {
  ClearTarget();
#ifdef _WIN32
  g_target.directory = host_directory;
  if (g_target.directory.empty() || g_target.directory.back() != '\\') g_target.directory += '\\';
#else
  g_target.directory = open(host_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (g_target.directory < 0) return false;
#endif
  g_target.kind = TargetKind::kDirectory;
  return true;
}

void TargetCatalogue(CatalogueObserver* observer) {
  ClearTarget();
  g_target.kind = TargetKind::kCatalogue;
  g_target.observer = observer;
}

void ClearTarget() {
#ifndef _WIN32
  if (g_target.directory >= 0) close(g_target.directory);
  if (g_target.last_parent_fd >= 0) close(g_target.last_parent_fd);
#endif
  g_target = Target();
  g_refusal = Refusal::kNone;
}

Refusal LastRefusal() { return g_refusal; }

std::string DescribeRefusal(Refusal refusal) {
  switch (refusal) {
    case Refusal::kNone: return "could not be created";
    case Refusal::kNoParent: return "comes before its directory";
    case Refusal::kExists: return "would replace something that is not a file";
    case Refusal::kLink: return "would be reached through a symbolic link, which is never followed";
    case Refusal::kUnspellable: return "cannot be spelled in code page " + g_codepage;
    case Refusal::kSystem: return "could not be created";
  }
  return "could not be created";
}

bool ExistedBefore(const char* path) { return g_target.existed.count(path) != 0; }

std::vector<CatalogueEntry> TakeCatalogue() {
  std::vector<CatalogueEntry> out;
  out.swap(g_target.entries);
  g_target.by_key.clear();
  return out;
}

File* OpenHostFile(const std::string& host_path) { return WrapStream(fopen(host_path.c_str(), "rb")); }

#ifdef __linux__
uint64_t CopyDescriptorRange(int from, int64_t* from_at, int to, int64_t* to_at, uint64_t bytes) {
  off_t in = static_cast<off_t>(*from_at);
  off_t out = static_cast<off_t>(*to_at);
  uint64_t done = 0;
  bool in_kernel = true;
  std::vector<char> bounce;
  errno = 0;
  while (done < bytes) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(bytes - done, 1u << 30));
    ssize_t n = -1;
    if (in_kernel) {
      n = copy_file_range(from, &in, to, &out, step, 0);
      // File systems and kernels that cannot copy between these two files: through memory.
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
        in_kernel = false;
        bounce.resize(kStreamBuffer);
        errno = 0;
        continue;
      }
    } else {
      n = pread(from, bounce.data(), std::min<size_t>(step, bounce.size()), in);
      if (n > 0 && pwrite(to, bounce.data(), static_cast<size_t>(n), out) != n) n = -1;
      if (n > 0) {
        in += n;
        out += n;
      }
    }
    if (n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
  *from_at = in;
  *to_at = out;
  return done;
}
#endif

}  // namespace host

using host::g_target;
using host::TargetKind;

void* AllocateZeroed(size_t bytes) { return calloc(1, bytes == 0 ? 1 : bytes); }
void Release(void* block) { free(block); }

File* OpenForReading(const char* path) {
  host::g_refusal = host::Refusal::kNone;
  return g_target.kind == TargetKind::kDirectory ? host::OpenInDirectory(path) : nullptr;
}

File* CreateForWriting(const char* path) {
  host::g_refusal = host::Refusal::kNone;
  switch (g_target.kind) {
    case TargetKind::kDirectory: return host::CreateInDirectory(path);
    case TargetKind::kCatalogue: return host::CatalogueFile(path);
    case TargetKind::kNone: break;
  }
  return nullptr;
}

bool MakeDirectory(const char* path) {
  host::g_refusal = host::Refusal::kNone;
  switch (g_target.kind) {
    case TargetKind::kDirectory: return host::DirectoryInDirectory(path);
    case TargetKind::kCatalogue: return host::CatalogueDirectory(path);
    case TargetKind::kNone: break;
  }
  return false;
}

bool RemoveEmptyDirectory(const char* path) {
  return g_target.kind == TargetKind::kDirectory && host::RemoveInDirectory(path, true);
}

bool DeleteFileAt(const char* path) {
  return g_target.kind == TargetKind::kDirectory && host::RemoveInDirectory(path, false);
}

size_t ReadBytes(File* file, void* buffer, size_t bytes) {
  if (file->stream == nullptr) return 0;
  if (file->resume_at >= 0) {
    const int64_t at = file->resume_at;
    file->resume_at = -1;
    if (!SeekTo(file, static_cast<uint64_t>(at))) return 0;
  }
  return fread(buffer, 1, bytes, file->stream);
}

bool ReadFailed(File* file) { return file->stream != nullptr && ferror(file->stream) != 0; }

bool SeekTo(File* file, uint64_t offset) {
  file->resume_at = -1;
  if (file->stream == nullptr) return false;
#ifdef _WIN32
  return _fseeki64(file->stream, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(file->stream, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool FileLength(File* file, uint64_t* length) {
  if (file->stream == nullptr) return false;
#ifdef _WIN32
  const __int64 n = _filelengthi64(_fileno(file->stream));
  if (n < 0) return false;
  *length = static_cast<uint64_t>(n);
#else
  struct stat st;
  if (fstat(fileno(file->stream), &st) != 0) return false;
  *length = static_cast<uint64_t>(st.st_size);
#endif
  return true;
}

bool WriteBytes(File* file, const void* data, size_t bytes) {
  if (file->stream == nullptr) {
    g_target.entries[file->catalogue_index].size += bytes;
    if (g_target.observer != nullptr) g_target.observer->Data(file->catalogue_index, data, bytes);
    return true;
  }
  return fwrite(data, 1, bytes, file->stream) == bytes;
}

bool CloseFile(File* file) {
  bool ok = true;
  if (file->stream != nullptr) {
    const bool clean = ferror(file->stream) == 0;
    ok = fclose(file->stream) == 0 && clean;
  }
  delete file;
  return ok;
}

bool CanCopyBetween(File* from, File* to) {
  if (from->stream == nullptr) return false;
  // Into the catalogue nothing is copied: the source only moves on.
  if (to->stream == nullptr) return true;
#ifdef __linux__
  return true;
#else
  return false;
#endif
}

namespace {

// Where the next read of `file` starts.
int64_t ReadPosition(File* file) {
#ifdef _WIN32
  return file->resume_at >= 0 ? file->resume_at : _ftelli64(file->stream);
#else
  return file->resume_at >= 0 ? file->resume_at : ftello(file->stream);
#endif
}

}  // namespace

uint64_t CopyBetween(File* from, File* to, uint64_t bytes) {
  int64_t in = ReadPosition(from);
  uint64_t length = 0;
  if (in < 0 || !FileLength(from, &length)) return 0;
  if (to->stream == nullptr) {
    const uint64_t available = static_cast<uint64_t>(in) < length ? length - static_cast<uint64_t>(in) : 0;
    const uint64_t passed = std::min(bytes, available);
    if (g_target.observer == nullptr) {
      from->resume_at = in + static_cast<int64_t>(passed);
      g_target.entries[to->catalogue_index].size += passed;
      return passed;
    }
    // Shown to the observer, read in large pieces.
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(passed, host::kStreamBuffer)));
    uint64_t done = 0;
    while (done < passed) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(passed - done, buffer.size()));
      const size_t got = ReadBytes(from, buffer.data(), want);
      if (got == 0) break;
      WriteBytes(to, buffer.data(), got);
      done += got;
    }
    return done;
  }
#ifdef __linux__
  // The output's buffer is emptied first and its position taken over, so that stdio and the
  // descriptor agree again afterwards; the input's is applied at its next read.
  if (fflush(to->stream) != 0) return 0;
  int64_t out = ftello(to->stream);
  if (out < 0) return 0;
  const uint64_t done = host::CopyDescriptorRange(fileno(from->stream), &in, fileno(to->stream), &out, bytes);
  from->resume_at = in;
  if (fseeko(to->stream, static_cast<off_t>(out), SEEK_SET) != 0) return 0;
  return done;
#else
  return 0;
#endif
}

}  // namespace platform
