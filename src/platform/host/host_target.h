// Inside the host platform: the state of the current target and the helpers that the
// common code (host_files.cpp) and the directory code of each system (host_directory_posix.cpp,
// host_directory_win32.cpp) share. Not for the packer: it sees host_files.h only.
#pragma once

#include <stdio.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host_files.h"

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

// Larger than stdio's default, so the decoder's 512-byte reads and its runs of file data
// reach the disk in few system calls.
constexpr size_t kStreamBuffer = 256 * 1024;

enum class TargetKind { kNone, kDirectory, kCatalogue };

// The seam's calls carry no context, so the target they act on is the one the packer named
// last: one at a time, as the packer reads one file at a time.
struct Target {
  TargetKind kind = TargetKind::kNone;
  std::string codepage = "CP1252";  // iconv name of the code page stored names are in
  std::set<std::string> existed;    // paths that were there before the run asked for them
  std::set<std::string> created;    // paths this run made
  std::vector<CatalogueEntry> entries;
  std::map<std::string, size_t> by_key;  // the name upper-cased -> the newest entry of that name
  CatalogueObserver* observer = nullptr;
  Refusal refusal = Refusal::kNone;      // why the last create was refused
  int refusal_errno = 0;                 // and the system's reason, where it gave one
  std::string refused_parent;            // for kSystem: the directory on the way that failed
  std::map<std::string, int> failed_directories;  // directories the system refused, and why
  std::map<std::string, std::string> replacements;  // path -> the file written beside it
  // For a directory reached by full paths: the directory as those paths begin; else empty.
  std::string full_path_prefix;
};

extern Target g_target;

// A directory reached by full paths is a run's own fresh root, whose installer reads what is
// written at once: a file written again there (a side file in an entry's place) is truncated
// in place, as the stub does, not written beside it.
inline bool WritesInPlace() { return !g_target.full_path_prefix.empty(); }

// Records why a create was refused (with the errno value, where the system gave one);
// returns false for the caller to pass on.
bool Refuse(Refusal why, int error = 0);
void NoteCreated(const char* path);
// A path found already there counts as the user's unless this run made it.
void NoteFound(const char* path);
// Notes that `path`, which was there, is being written as `beside` (a name in its directory).
void NoteReplacement(const char* path, const std::string& beside);
// A fresh, unpredictable name beside `leaf` for the file that is to replace it.
std::string ReplacementName(const std::string& leaf);
// A File reading or writing `stream` through a large buffer; null for a null stream.
File* WrapStream(FILE* stream);
// The refusal an errno value stands for.
Refusal RefusalForErrno(int error);
// Splits a stub path into its components, each converted into a host name that is a plain
// name there too: not empty, not "." or "..", without a separator. Refuses (kUnspellable)
// otherwise.
bool HostComponents(const char* path, std::vector<std::string>* out);

// ---- The catalogue (host_catalogue.cpp) ----------------------------------------------------
bool CatalogueDirectory(const char* path);
File* CatalogueFile(const char* path);

// ---- The directory target, one implementation per system ---------------------------------
bool OpenTargetDirectory(const std::string& host_directory);
void CloseTargetDirectory();
File* CreateInDirectory(const char* path);
bool DirectoryInDirectory(const char* path);
bool RemoveInDirectory(const char* path, bool directory);
File* OpenInDirectory(const char* path);
// Moves `beside` over `path` (keep) or removes it (not keep).
bool ReplaceInDirectory(const char* path, const std::string& beside, bool keep);
// Removes the (empty) target directory itself, named by its host path.
bool RemoveTargetDirectory(const std::string& host_directory);

}  // namespace host
}  // namespace platform
