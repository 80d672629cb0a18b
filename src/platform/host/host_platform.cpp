// The tool platform behind the packer, on Linux and on Windows: real files through C stdio,
// messages on stderr, a catalogue mode for reading an archive without extracting it, and no
// processes, windows, registry or restart (the packer never runs what it extracts).
#include "platform/host/host_platform.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "common/random.h"
#include "common/resource_ids.h"
#include "platform/platform.h"
#include "progress/progress_record.h"

namespace platform {
namespace {

// Larger than stdio's default, so the decoder's 512-byte reads and its runs of file data
// reach the disk in few system calls.
constexpr size_t kStreamBuffer = 256 * 1024;

std::string g_codepage = "WINDOWS-1252";
std::string g_verbatim_prefix;
std::string g_program_name = "kovsea";
RandomGenerator g_random = {1};

#ifndef _WIN32
bool IconvConvert(const char* from, const char* to, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = &(*out)[0];
  size_t dst_left = out->size();
  const size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return false;
  out->resize(out->size() - dst_left);
  return true;
}
#endif

bool Convert(const char* from, const char* to, const std::string& in, std::string* out) {
  return ConvertEncoding(from, to, in, out);
}

// Turns a stub path (ANSI, backslashes) into a host path (UTF-8, slashes). A name that the
// code page cannot map yields an empty path, which every file call refuses.
std::string HostPath(const char* path) {
  std::string p(path);
  std::string head;
  if (!g_verbatim_prefix.empty() && p.compare(0, g_verbatim_prefix.size(), g_verbatim_prefix) == 0) {
    head = g_verbatim_prefix;
    p.erase(0, g_verbatim_prefix.size());
  }
  bool ascii = true;
  for (unsigned char c : p) ascii = ascii && c < 0x80;
  std::string tail;
  if (ascii) {
    tail = p;
  } else if (!Convert(g_codepage.c_str(), "UTF-8", p, &tail)) {
    return std::string();
  }
#ifndef _WIN32
  for (char& c : tail) {
    if (c == '\\') c = '/';
  }
#endif
  return head + tail;
}

struct Catalogue {
  bool open = false;
  std::string prefix;
  std::vector<CatalogueEntry> entries;
};
Catalogue g_catalogue;
bool g_quiet_errors = false;
std::vector<ReportedError> g_reported;

// The name below the catalogue's prefix, or nullptr when `path` lies outside it.
const char* CatalogueName(const char* path) {
  if (!g_catalogue.open) return nullptr;
  const std::string& prefix = g_catalogue.prefix;
  return strncmp(path, prefix.c_str(), prefix.size()) == 0 ? path + prefix.size() : nullptr;
}

bool CatalogueHasDirectory(const std::string& name) {
  for (const CatalogueEntry& e : g_catalogue.entries) {
    if (e.is_directory && e.name == name) return true;
  }
  return false;
}

}  // namespace

struct File {
  FILE* stream;        // null for a catalogued file
  size_t catalogue_index;
  std::unique_ptr<char[]> buffer;  // the stream's buffer (stdio may ignore a size without one)
  // Where reading continues after file-to-file copies, applied at the next read. Seeking the
  // stream at once would make stdio refill its buffer, which the next copy throws away.
  int64_t resume_at = -1;
};

namespace {

File* WrapStream(FILE* stream) {
  if (stream == nullptr) return nullptr;
  File* file = new File{stream, 0, std::unique_ptr<char[]>(new char[kStreamBuffer])};
  setvbuf(stream, file->buffer.get(), _IOFBF, kStreamBuffer);
  return file;
}

}  // namespace

void SetErrorBoxesQuiet(bool quiet) { g_quiet_errors = quiet; }

std::vector<ReportedError> TakeReportedErrors() {
  std::vector<ReportedError> out;
  out.swap(g_reported);
  return out;
}

void OpenCatalogue(const char* prefix) {
  g_catalogue = Catalogue();
  g_catalogue.open = true;
  g_catalogue.prefix = prefix;
}

std::vector<CatalogueEntry> CloseCatalogue() {
  std::vector<CatalogueEntry> out;
  out.swap(g_catalogue.entries);
  g_catalogue = Catalogue();
  return out;
}

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

bool ConfigureHostNames(const char* codepage, const char* verbatim_prefix) {
  std::string probe;
  if (!Convert(codepage, "UTF-8", "A", &probe)) return false;
  g_codepage = codepage;
  g_verbatim_prefix = verbatim_prefix != nullptr ? verbatim_prefix : "";
  return true;
}

bool AnsiToHost(const char* ansi, char* out, unsigned long capacity) {
  std::string converted;
  if (!Convert(g_codepage.c_str(), "UTF-8", ansi, &converted) || converted.size() >= capacity) {
    return false;
  }
  memcpy(out, converted.c_str(), converted.size() + 1);
  return true;
}

void SetHostProgramName(const char* name) { g_program_name = name; }

void* AllocateZeroed(size_t bytes) { return calloc(1, bytes == 0 ? 1 : bytes); }
void Release(void* block) { free(block); }

File* OpenForReading(const char* path) {
  std::string host = HostPath(path);
  if (host.empty()) return nullptr;
  return WrapStream(fopen(host.c_str(), "rb"));
}

File* CreateForWriting(const char* path) {
  if (const char* name = CatalogueName(path)) {
    std::string n(name);
    const size_t cut = n.rfind('\\');
    if (n.empty() || (cut != std::string::npos && !CatalogueHasDirectory(n.substr(0, cut)))) {
      return nullptr;
    }
    g_catalogue.entries.push_back(CatalogueEntry{n, false, 0});
    return new File{nullptr, g_catalogue.entries.size() - 1, nullptr};
  }
  std::string host = HostPath(path);
  if (host.empty() || host.back() == '/' || host.back() == '\\') return nullptr;
  return WrapStream(fopen(host.c_str(), "wb"));
}

bool CanCopyBetween(File* from, File* to) {
#ifdef __linux__
  return from->stream != nullptr && to->stream != nullptr;
#else
  (void)from;
  (void)to;
  return false;
#endif
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

uint64_t CopyBetween(File* from, File* to, uint64_t bytes) {
#ifdef __linux__
  // The output's buffer is emptied first and its position taken over, so that stdio and the
  // descriptor agree again afterwards; the input's is applied at its next read.
  if (fflush(to->stream) != 0) return 0;
  int64_t in = from->resume_at >= 0 ? from->resume_at : ftello(from->stream);
  int64_t out = ftello(to->stream);
  if (in < 0 || out < 0) return 0;
  const uint64_t done =
      CopyDescriptorRange(fileno(from->stream), &in, fileno(to->stream), &out, bytes);
  from->resume_at = in;
  if (fseeko(to->stream, static_cast<off_t>(out), SEEK_SET) != 0) return 0;
  return done;
#else
  (void)from;
  (void)to;
  (void)bytes;
  return 0;
#endif
}

size_t ReadBytes(File* file, void* buffer, size_t bytes) {
  if (file->resume_at >= 0) {
    const int64_t at = file->resume_at;
    file->resume_at = -1;
    if (!SeekTo(file, static_cast<uint64_t>(at))) return 0;
  }
  return fread(buffer, 1, bytes, file->stream);
}

bool ReadFailed(File* file) { return ferror(file->stream) != 0; }

bool SeekTo(File* file, uint64_t offset) {
  file->resume_at = -1;
#ifdef _WIN32
  return _fseeki64(file->stream, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(file->stream, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool FileLength(File* file, uint64_t* length) {
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
    g_catalogue.entries[file->catalogue_index].size += bytes;
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

bool MakeDirectory(const char* path) {
  if (const char* name = CatalogueName(path)) {
    if (CatalogueHasDirectory(name)) return false;
    g_catalogue.entries.push_back(CatalogueEntry{name, true, 0});
    return true;
  }
  std::string host = HostPath(path);
  std::error_code error;
  return !host.empty() && std::filesystem::create_directory(host, error) && !error;
}

bool MakePrivateDirectory(const char* path) {
#ifdef _WIN32
  return MakeDirectory(path);
#else
  if (CatalogueName(path) != nullptr) return MakeDirectory(path);
  // Owner only, from the moment it exists.
  const std::string host = HostPath(path);
  return !host.empty() && mkdir(host.c_str(), 0700) == 0;
#endif
}

bool RemoveEmptyDirectory(const char* path) {
  std::string host = HostPath(path);
  std::error_code error;
  return !host.empty() && std::filesystem::is_directory(host, error) &&
         std::filesystem::remove(host, error) && !error;
}

bool DeleteFileAt(const char* path) {
  std::string host = HostPath(path);
  std::error_code error;
  return !host.empty() && !std::filesystem::is_directory(host, error) &&
         std::filesystem::remove(host, error) && !error;
}

size_t TemporaryDirectory(char* buffer, size_t capacity) {
  std::error_code error;
  std::string dir = std::filesystem::temp_directory_path(error).string();
  if (error || dir.empty()) return 0;
  if (dir.back() != '/' && dir.back() != '\\') dir += '/';
  if (dir.size() >= capacity) return dir.size() + 1;
  memcpy(buffer, dir.c_str(), dir.size() + 1);
  return dir.size();
}

size_t OwnExecutablePath(char* buffer, size_t capacity) {
#ifdef _WIN32
  (void)buffer;
  (void)capacity;
  return 0;  // the packer never needs it
#else
  ssize_t n = readlink("/proc/self/exe", buffer, capacity);
  if (n <= 0) return 0;
  if (static_cast<size_t>(n) >= capacity) return capacity;
  buffer[n] = '\0';
  return static_cast<size_t>(n);
#endif
}

void SeedRandom() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  SeedGenerator(&g_random, MixSeed(static_cast<uint64_t>(time(nullptr)),
                                   static_cast<uint32_t>(getpid()), static_cast<uint64_t>(now)));
}

int NextRandom() { return NextDraw(&g_random); }

void Pause(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int LoadMessage(int id, char* buffer, int capacity) {
  const char* text = "";
  switch (id) {
    case IDS_ERR_CREATE_FILE: text = TEXT_ERR_CREATE_FILE; break;
    case IDS_ERR_START_EXE: text = TEXT_ERR_START_EXE; break;
    case IDS_ERR_CREATE_ADMIN: text = TEXT_ERR_CREATE_ADMIN; break;
    case IDS_ERROR_TITLE: text = TEXT_ERROR_TITLE; break;
    case IDS_ERR_NOT_SEA: text = TEXT_ERR_NOT_SEA; break;
    case IDS_ERR_TEMP_DIR: text = TEXT_ERR_TEMP_DIR; break;
    default: break;
  }
  if (capacity <= 0) return 0;
  int n = static_cast<int>(strlen(text));
  if (n >= capacity) n = capacity - 1;
  memcpy(buffer, text, static_cast<size_t>(n));
  buffer[n] = '\0';
  return n;
}

void ShowErrorBox(Window /*owner*/, const char* text, const char* caption) {
  if (g_quiet_errors) {
    g_reported.push_back(ReportedError{text, caption});
    return;
  }
  std::string shown = HostPath(caption);
  if (shown.empty()) shown = caption;
  fprintf(stderr, "%s: error: %s (%s)\n", g_program_name.c_str(), text, shown.c_str());
}

void HideWindow(Window /*window*/) {}
void SetProgressBar(Window /*dialog*/, int32_t /*position*/) {}

Process* StartProgram(const char* /*path*/) { return nullptr; }
void WaitForProcess(Process* /*process*/) {}
void CloseProcess(Process* /*process*/) {}
bool FindWindowOwner(const char* /*window_class*/, uint32_t* /*process_id*/) { return false; }
Process* OpenProcessById(uint32_t /*process_id*/) { return nullptr; }

RegistryKey* CreateMachineKey(const char* /*path*/) { return nullptr; }
RegistryKey* OpenMachineKey(const char* /*path*/) { return nullptr; }
void SetDwordValue(RegistryKey*, const char*, uint32_t) {}
void SetStringValue(RegistryKey*, const char*, const char*) {}
QueryResult QueryValue(RegistryKey*, const char*, void*, uint32_t*) { return QueryResult::kMissing; }
void DeleteValue(RegistryKey*, const char*) {}
void DeleteSubkey(RegistryKey*, const char*) {}
void CloseKey(RegistryKey*) {}

uint32_t PlatformId() { return 0; }
void EnableShutdownPrivilege() {}
bool RequestRestart() { return false; }

}  // namespace platform

// No dialog on the host: the worker runs on the calling thread, once, with no window.
int32_t RunProgressDialog(platform::Window owner, ProgressWorker worker, void* user_data,
                          int32_t initial_position, const char* caption, const char* first_text,
                          const char* second_text, int32_t animation) {
  ProgressDialogRecord record{};
  FillProgressDialogRecord(&record, owner, worker, user_data, initial_position, caption,
                           first_text, second_text, animation);
  return worker(&record, user_data);
}
