// The directory target on POSIX systems: every path is reached from an open descriptor of
// the target directory, one component at a time with O_NOFOLLOW, so that no symbolic link
// standing anywhere on the way, or at the place, is ever followed.
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <sys/file.h>
#include <wctype.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host_target.h"

namespace platform::host {
namespace {

int g_directory = -1;  // an open handle of the target directory
// The directory the last path was created in, kept open: entries come directory by
// directory, and a walk for each of them would cost a system call per component.
std::vector<std::string> g_last_parent;
int g_last_parent_fd = -1;

// An open descriptor, closed when it goes out of scope unless it is only borrowed.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(-1); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool borrowed() const { return !owned_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd) {
    if (fd_ >= 0 && owned_) close(fd_);
    fd_ = fd;
    owned_ = true;
  }
  // Uses `fd`, which someone else keeps open, without closing it.
  void borrow(int fd) {
    reset(-1);
    fd_ = fd;
    owned_ = false;
  }

 private:
  int fd_;
  bool owned_ = true;
};

// Why `name` in `directory` could not be opened: a link standing there is named as such,
// whatever the error the open reported for it.
Refusal RefusalAt(int directory, const std::string& name, int error) {
  struct stat st;
  if (fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return Refusal::kLink;
  }
  return RefusalForErrno(error);
}

// A `holder` that borrows the kept directory takes it over instead of seeing it closed.
void ForgetLastParent(Descriptor* holder = nullptr) {
  if (holder != nullptr && holder->borrowed() && holder->get() == g_last_parent_fd) {
    holder->reset(g_last_parent_fd);
  } else if (g_last_parent_fd >= 0) {
    close(g_last_parent_fd);
  }
  g_last_parent_fd = -1;
  g_last_parent.clear();
}

// Opens the directory that holds the last component of `path`, walking from the target's
// handle one component at a time and never following a symbolic link; `leaf` receives the
// last component's host name.
bool OpenParent(const char* path, Descriptor* parent, std::string* leaf) {
  std::vector<std::string> components;
  if (!HostComponents(path, &components)) return false;
  *leaf = components.back();
  components.pop_back();
  // Borrowed, not duplicated: a file's create then costs no system call but its own.
  if (g_last_parent_fd >= 0 && components == g_last_parent) {
    parent->borrow(g_last_parent_fd);
    return true;
  }
  parent->borrow(g_directory);
  for (const std::string& component : components) {
    const int next = openat(parent->get(), component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return Refuse(RefusalAt(parent->get(), component, errno), errno);
    parent->reset(next);
  }
  if (parent->get() < 0) return Refuse(Refusal::kSystem);
  if (components.empty()) return true;  // the target itself, kept open anyway
  ForgetLastParent();
  g_last_parent = components;
  g_last_parent_fd = parent->release();
  parent->borrow(g_last_parent_fd);
  return true;
}

}  // namespace

bool OpenTargetDirectory(const std::string& host_directory) {
  g_directory = open(host_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return g_directory >= 0;
}

void CloseTargetDirectory() {
  ForgetLastParent();
  if (g_directory >= 0) close(g_directory);
  g_directory = -1;
}

// A file that stands where one is to be written is never changed in place: the new bytes go
// to a file beside it, which replaces it only when the whole run has succeeded
// (CommitReplacements), so that a run that fails leaves it as it was.
File* CreateInDirectory(const char* path) {
  Descriptor parent;
  std::string leaf;
  if (!OpenParent(path, &parent, &leaf)) return nullptr;
  // A link standing at the place (even a dangling one) refuses the open.
  Descriptor fd(openat(parent.get(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (fd.get() >= 0) {
    NoteCreated(path);
  } else if (errno == EEXIST) {
    struct stat st;
    if (fstatat(parent.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      Refuse(Refusal::kSystem, errno);
      return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
      Refuse(S_ISLNK(st.st_mode) ? Refusal::kLink : Refusal::kExists);
      return nullptr;
    }
    if (WritesInPlace()) {
      fd.reset(openat(parent.get(), leaf.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
      if (fd.get() < 0) {
        Refuse(Refusal::kSystem, errno);
        return nullptr;
      }
      NoteFound(path);
      FILE* stream = fdopen(fd.get(), "wb");
      if (stream == nullptr) return nullptr;
      fd.release();
      return WrapStream(stream);
    }
    std::string beside;
    for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
      beside = ReplacementName(leaf);
      fd.reset(openat(parent.get(), beside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (fd.get() < 0 && errno != EEXIST) break;
    }
    if (fd.get() < 0) {
      Refuse(Refusal::kSystem, errno);
      return nullptr;
    }
    fchmod(fd.get(), st.st_mode & 07777);
    NoteFound(path);
    NoteReplacement(path, beside);
  } else {
    Refuse(RefusalAt(parent.get(), leaf, errno), errno);
    return nullptr;
  }
  FILE* stream = fdopen(fd.get(), "wb");
  if (stream == nullptr) return nullptr;
  fd.release();
  return WrapStream(stream);
}

bool ReplaceInDirectory(const char* path, const std::string& beside, bool keep) {
  Descriptor parent;
  std::string leaf;
  if (!OpenParent(path, &parent, &leaf)) return false;
  if (!keep) return unlinkat(parent.get(), beside.c_str(), 0) == 0;
  return renameat(parent.get(), beside.c_str(), parent.get(), leaf.c_str()) == 0;
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
  return Refuse(RefusalAt(parent.get(), leaf, error), error);
}

bool RemoveInDirectory(const char* path, bool directory) {
  Descriptor parent;
  std::string leaf;
  if (!OpenParent(path, &parent, &leaf)) return false;
  struct stat st;
  if (fstatat(parent.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISDIR(st.st_mode) != directory) return false;
  // A directory that goes may be the one kept open.
  if (directory) ForgetLastParent(&parent);
  return unlinkat(parent.get(), leaf.c_str(), directory ? AT_REMOVEDIR : 0) == 0;
}

bool RemoveTargetDirectory(const std::string& host_directory) {
  ForgetLastParent();
  return rmdir(host_directory.c_str()) == 0;
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

FILE* OpenRegularFile(const std::string& host_path, FileIdentity* identity) {
  Descriptor fd(open(host_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) return nullptr;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return nullptr;
  }
  fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  identity->device = static_cast<uint64_t>(st.st_dev);
  identity->inode = static_cast<uint64_t>(st.st_ino);
  identity->size = static_cast<uint64_t>(st.st_size);
  identity->changed_ns = static_cast<uint64_t>(st.st_ctim.tv_sec) * 1000000000u + static_cast<uint64_t>(st.st_ctim.tv_nsec);
  FILE* stream = fdopen(fd.get(), "rb");
  if (stream != nullptr) fd.release();
  return stream;
}

DirectoryLock::~DirectoryLock() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool DirectoryLock::Acquire(const std::string& host_directory, bool* busy) {
  *busy = false;
  const int fd = open(host_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *busy = errno == EWOULDBLOCK;
    close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool IsLeadByteIn(const std::string& codepage, uint8_t byte) {
  // Which bytes of a code page begin a character of two, found once per code page: a byte
  // that iconv reads as the start of an incomplete character.
  static std::map<std::string, std::bitset<256>> known;
  auto found = known.find(codepage);
  if (found == known.end()) {
    std::bitset<256> leads;
    iconv_t cd = iconv_open("UTF-8", codepage.c_str());
    if (cd != reinterpret_cast<iconv_t>(-1)) {
      for (int b = 0x80; b < 0x100; ++b) {
        char in[1] = {static_cast<char>(b)};
        char out[8];
        char* src = in;
        char* dst = out;
        size_t src_left = 1;
        size_t dst_left = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1) && errno == EINVAL) leads.set(b);
      }
      iconv_close(cd);
    }
    found = known.emplace(codepage, leads).first;
  }
  return found->second.test(byte);
}

std::string WindowsUpperCase(const std::string& host_name) {
  // Most names are ASCII, whose upper case is A to Z alone: no conversion needed.
  if (std::all_of(host_name.begin(), host_name.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; })) {
    std::string upper = host_name;
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return upper;
  }
  static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  std::string wide;
  if (unicode == static_cast<locale_t>(0) || !ConvertEncoding("UTF-8", "UTF-32LE", host_name, &wide)) {
    std::string upper = host_name;
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return upper;
  }
  for (size_t i = 0; i + 4 <= wide.size(); i += 4) {
    uint32_t code = 0;
    for (int k = 3; k >= 0; --k) code = code << 8 | static_cast<uint8_t>(wide[i + k]);
    const uint32_t upper = static_cast<uint32_t>(towupper_l(static_cast<wint_t>(code), unicode));
    for (int k = 0; k < 4; ++k) wide[i + k] = static_cast<char>(upper >> (8 * k));
  }
  std::string out;
  return ConvertEncoding("UTF-32LE", "UTF-8", wide, &out) ? out : host_name;
}

// Converts with iconv, refusing anything that does not map exactly: an unmappable character,
// and a multi-byte character cut at the end of the input.
bool ConvertEncoding(const char* from, const char* to, const std::string& in, std::string* out) {
  // One descriptor per pair of encodings, kept open for the life of the program: every name of
  // a stream is converted, and glibc loads a converter's module afresh for each open once the
  // last one was closed (for UTF-32, a whole dlopen per entry). Used by one thread at a time.
  static std::mutex guard;
  static auto* open_pairs = new std::map<std::pair<std::string, std::string>, iconv_t>;
  const std::lock_guard<std::mutex> hold(guard);
  auto found = open_pairs->find({from, to});
  if (found == open_pairs->end()) {
    iconv_t opened = iconv_open(to, from);
    if (opened == reinterpret_cast<iconv_t>(-1)) return false;
    found = open_pairs->emplace(std::make_pair(std::string(from), std::string(to)), opened).first;
  }
  iconv_t cd = found->second;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out->assign(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = &(*out)[0];
  size_t dst_left = out->size();
  size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
  // A multi-byte character cut at the end of the input is an error too.
  if (r != static_cast<size_t>(-1)) r = iconv(cd, nullptr, nullptr, &dst, &dst_left);
  if (r == static_cast<size_t>(-1) || src_left != 0) return false;
  out->resize(out->size() - dst_left);
  return true;
}

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

}  // namespace platform::host
