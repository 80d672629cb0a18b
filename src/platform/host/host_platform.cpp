// The host platform: real files through C stdio, messages on stderr, and no processes,
// windows, registry or restart (the packer never runs what it extracts).
#include "platform/host/host_platform.h"

#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "common/random.h"
#include "common/resource_ids.h"
#include "platform/platform.h"

namespace platform {
namespace {

std::string g_codepage = "WINDOWS-1252";
std::string g_verbatim_prefix;
std::string g_program_name = "kovsea";
RandomGenerator g_random = {1};

bool Convert(const char* from, const char* to, const std::string& in, std::string* out) {
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
  for (char& c : tail) {
    if (c == '\\') c = '/';
  }
  return head + tail;
}

}  // namespace

struct File {
  FILE* stream;
};

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
  FILE* stream = fopen(host.c_str(), "rb");
  return stream != nullptr ? new File{stream} : nullptr;
}

File* CreateForWriting(const char* path) {
  std::string host = HostPath(path);
  if (host.empty() || host.back() == '/') return nullptr;
  FILE* stream = fopen(host.c_str(), "wb");
  return stream != nullptr ? new File{stream} : nullptr;
}

size_t ReadBytes(File* file, void* buffer, size_t bytes) {
  return fread(buffer, 1, bytes, file->stream);
}

bool ReadFailed(File* file) { return ferror(file->stream) != 0; }

bool SeekTo(File* file, uint64_t offset) {
  return fseeko(file->stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool FileLength(File* file, uint64_t* length) {
  struct stat st;
  if (fstat(fileno(file->stream), &st) != 0) return false;
  *length = static_cast<uint64_t>(st.st_size);
  return true;
}

bool WriteBytes(File* file, const void* data, size_t bytes) {
  return fwrite(data, 1, bytes, file->stream) == bytes;
}

bool CloseFile(File* file) {
  const bool ok = ferror(file->stream) == 0 && fclose(file->stream) == 0;
  delete file;
  return ok;
}

bool MakeDirectory(const char* path) {
  std::string host = HostPath(path);
  return !host.empty() && mkdir(host.c_str(), 0777) == 0;
}

bool RemoveEmptyDirectory(const char* path) {
  std::string host = HostPath(path);
  return !host.empty() && rmdir(host.c_str()) == 0;
}

bool DeleteFileAt(const char* path) {
  std::string host = HostPath(path);
  return !host.empty() && unlink(host.c_str()) == 0;
}

size_t TemporaryDirectory(char* buffer, size_t capacity) {
  const char* tmp = getenv("TMPDIR");
  std::string dir = (tmp != nullptr && tmp[0] != '\0') ? tmp : "/tmp";
  if (dir.back() != '/') dir += '/';
  if (dir.size() >= capacity) return dir.size() + 1;
  memcpy(buffer, dir.c_str(), dir.size() + 1);
  return dir.size();
}

size_t OwnExecutablePath(char* buffer, size_t capacity) {
  ssize_t n = readlink("/proc/self/exe", buffer, capacity);
  if (n <= 0) return 0;
  if (static_cast<size_t>(n) >= capacity) return capacity;
  buffer[n] = '\0';
  return static_cast<size_t>(n);
}

void SeedRandom() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  SeedGenerator(&g_random, MixSeed(static_cast<uint64_t>(time(nullptr)),
                                   static_cast<uint32_t>(getpid()),
                                   static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec)));
}

int NextRandom() { return NextDraw(&g_random); }

void Pause(uint32_t milliseconds) { usleep(milliseconds * 1000u); }

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
