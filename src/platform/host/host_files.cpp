// The host platform's common part: the target (a directory or the catalogue) and the seam's
// file calls, which act on whichever target the packer named. The catalogue itself is
// host_catalogue.cpp.
#include "host_files.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#endif

#include "host_target.h"
#include "text.h"

namespace platform {
namespace host {

Target g_target;

bool Refuse(Refusal why, int error) {
  g_target.refusal = why;
  g_target.refusal_errno = error;
  if (why == Refusal::kSystem && error != 0) g_target.refusal_errno = error;
  return false;
}

void NoteReplacement(const char* path, const std::string& beside) {
  auto earlier = g_target.replacements.find(path);
  if (earlier != g_target.replacements.end()) ReplaceInDirectory(path, earlier->second, false);
  g_target.replacements[path] = beside;
}

std::string ReplacementName(const std::string& leaf) {
  static std::random_device entropy;
  char suffix[16];
  snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(entropy()));
  return "." + leaf + suffix + ".kovsea-new";
}

void NoteCreated(const char* path) {
  g_target.created.insert(path);
  g_target.existed.erase(path);
}

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

Refusal RefusalForErrno(int error) {
  switch (error) {
    case ENOENT: case ENOTDIR: return Refusal::kNoParent;
    case ELOOP: return Refusal::kLink;
    case EEXIST: case EISDIR: return Refusal::kExists;
    default: return Refusal::kSystem;
  }
}

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
    if (!ConvertEncoding(g_target.codepage.c_str(), "UTF-8", raw, &name) || name.empty() || name == "." ||
        name == ".." || name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
      return Refuse(Refusal::kUnspellable);
    }
    out->push_back(name);
    if (cut == std::string::npos) return true;
    start = cut + 1;
  }
}

bool TargetDirectory(const std::string& host_directory, const std::string& codepage) {
  ClearTarget();
  if (!OpenTargetDirectory(host_directory)) return false;
  g_target.kind = TargetKind::kDirectory;
  g_target.codepage = codepage;
  return true;
}

bool TargetDirectoryByFullPaths(const std::string& host_directory, const std::string& codepage) {
  if (!TargetDirectory(host_directory, codepage)) return false;
  g_target.full_path_prefix = host_directory;
  return true;
}

void ClearTarget() {
  DiscardReplacements();
  CloseTargetDirectory();
  g_target = Target();
}

Refusal LastRefusal() { return g_target.refusal; }

std::string DescribeRefusal(Refusal refusal, const std::string& codepage) {
  switch (refusal) {
    case Refusal::kNone: return "could not be created";
    case Refusal::kNoParent: return "comes before its directory";
    case Refusal::kExists: return "would replace something that is not a file";
    case Refusal::kLink: return "would be reached through a symbolic link, which is never followed";
    case Refusal::kUnspellable: return "cannot be spelled in code page " + codepage;
    case Refusal::kSystem: return "could not be created";
    case Refusal::kOutside: return "lies outside the directory it is extracted into";
  }
  return "could not be created";
}

std::string DescribeLastRefusal() {
  std::string text = DescribeRefusal(g_target.refusal, g_target.codepage);
  if (g_target.refusal != Refusal::kSystem || g_target.refusal_errno == 0) return text;
  if (!g_target.refused_parent.empty()) {
    return text + ": its directory \"" + g_target.refused_parent + "\" could not be made: " +
           strerror(g_target.refusal_errno);
  }
  return text + ": " + strerror(g_target.refusal_errno);
}

bool CommitReplacements() {
  bool ok = true;
  for (const auto& r : g_target.replacements) ok = ReplaceInDirectory(r.first.c_str(), r.second, true) && ok;
  g_target.replacements.clear();
  return ok;
}

void DiscardReplacements() {
  for (const auto& r : g_target.replacements) ReplaceInDirectory(r.first.c_str(), r.second, false);
  g_target.replacements.clear();
}

bool ExistedBefore(const char* path) { return g_target.existed.count(path) != 0; }

File* OpenHostFile(const std::string& host_path) { return WrapStream(fopen(host_path.c_str(), "rb")); }

}  // namespace host

using host::g_target;
using host::TargetKind;

namespace {

// The path below the directory target that a full path names, or the path itself for a
// target of relative paths; null (refused) for a full path outside the target.
const char* BelowTarget(const char* path) {
  const std::string& prefix = g_target.full_path_prefix;
  if (prefix.empty()) return path;
  if (strncmp(path, prefix.c_str(), prefix.size()) != 0) {
    host::Refuse(host::Refusal::kOutside);
    return nullptr;
  }
  return path + prefix.size();
}

// The target directory itself, named by a full path.
bool IsTargetItself(const char* path) {
  return !g_target.full_path_prefix.empty() && g_target.full_path_prefix == path;
}

}  // namespace

void* AllocateZeroed(size_t bytes) { return calloc(1, bytes == 0 ? 1 : bytes); }
void Release(void* block) { free(block); }

namespace {

// After a create below a directory refused with kNoParent: when a directory on the way is one
// the system refused to make, that refusal is the reason, not the order of the entries.
void BlameFailedDirectory(const char* path) {
  if (g_target.refusal != host::Refusal::kNoParent) return;
  const std::string p(path);
  for (size_t cut = p.find('\\'); cut != std::string::npos; cut = p.find('\\', cut + 1)) {
    const auto failed = g_target.failed_directories.find(p.substr(0, cut));
    if (failed != g_target.failed_directories.end()) {
      g_target.refusal = host::Refusal::kSystem;
      g_target.refusal_errno = failed->second;
      g_target.refused_parent = failed->first;
      return;
    }
  }
}

void ResetRefusal() {
  g_target.refusal = host::Refusal::kNone;
  g_target.refusal_errno = 0;
  g_target.refused_parent.clear();
}

}  // namespace

File* OpenForReading(const char* path) {
  ResetRefusal();
  path = BelowTarget(path);
  return g_target.kind == TargetKind::kDirectory && path != nullptr ? host::OpenInDirectory(path) : nullptr;
}

File* CreateForWriting(const char* path) {
  ResetRefusal();
  path = BelowTarget(path);
  if (path == nullptr) return nullptr;
  switch (g_target.kind) {
    case TargetKind::kDirectory: {
      File* file = host::CreateInDirectory(path);
      if (file == nullptr) BlameFailedDirectory(path);
      return file;
    }
    case TargetKind::kCatalogue: return host::CatalogueFile(path);
    case TargetKind::kNone: break;
  }
  return nullptr;
}

bool MakeDirectory(const char* path) {
  ResetRefusal();
  path = BelowTarget(path);
  if (path == nullptr) return false;
  switch (g_target.kind) {
    case TargetKind::kDirectory: {
      if (host::DirectoryInDirectory(path)) return true;
      BlameFailedDirectory(path);
      if (g_target.refusal == host::Refusal::kSystem && g_target.refused_parent.empty()) {
        g_target.failed_directories[path] = g_target.refusal_errno;
      }
      return false;
    }
    case TargetKind::kCatalogue: return host::CatalogueDirectory(path);
    case TargetKind::kNone: break;
  }
  return false;
}

bool RemoveEmptyDirectory(const char* path) {
  if (g_target.kind != TargetKind::kDirectory) return false;
  if (IsTargetItself(path)) return host::RemoveTargetDirectory(g_target.full_path_prefix);
  path = BelowTarget(path);
  return path != nullptr && host::RemoveInDirectory(path, true);
}

bool DeleteFileAt(const char* path) {
  if (g_target.kind != TargetKind::kDirectory) return false;
  path = BelowTarget(path);
  return path != nullptr && host::RemoveInDirectory(path, false);
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

bool IsLeadByte(uint8_t byte) { return host::IsLeadByteIn(g_target.codepage, byte); }

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
