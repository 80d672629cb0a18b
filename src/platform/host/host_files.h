// The packer's side of the seam: the file part of platform_files.h on Linux and Windows, and
// what the packer needs to tell it where the paths it is given lead.
//
// The seam's paths are stub paths (ANSI code page, backslashes) relative to a target, so
// that the decoder runs with an empty extraction root:
//   a directory  real files below one directory, reached from an open handle of it without
//                ever following a symbolic link (a reparse point on Windows): nothing is
//                written, overwritten or deleted outside it, whatever already lies there;
//   a catalogue  nothing touches the disk: directories and files are recorded with the
//                bytes written to each, and a file whose directory was not recorded first
//                cannot be created, as on a real disk. This lets `list` and `verify` read an
//                archive with the very decoder that extracts it, without reading file data.
// Without a target every path is refused. The self-extractor itself is opened by its host
// path with OpenHostFile, outside any target.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "platform_files.h"

namespace platform::host {

// Converts between two iconv encodings, refusing anything that does not map exactly (the
// identity on Windows, where paths stay in the ANSI code page).
bool ConvertEncoding(const char* from, const char* to, const std::string& in, std::string* out);

// Sees the data bytes written to each catalogued file, in order (for digests).
class CatalogueObserver {
 public:
  virtual ~CatalogueObserver() = default;
  // `entry` is the file's index in the catalogue.
  virtual void Data(size_t entry, const void* bytes, size_t count) = 0;
};

// Each target converts stored names with `codepage` (an iconv name such as "CP1252") into host
// names (UTF-8 on Linux) one component at a time.
bool TargetDirectory(const std::string& host_directory, const std::string& codepage);
// With an observer the catalogue reads every file's data to show it; without one it does not
// read file data at all.
void TargetCatalogue(const std::string& codepage, CatalogueObserver* observer = nullptr);
// Forgets the target (and closes its directory).
void ClearTarget();

// Why the target refused the last directory or file it was asked to create.
enum class Refusal {
  kNone,
  kNoParent,     // a directory on the way is missing, or is a file
  kExists,       // something other than a file stands where a file should be, or the
                 // directory exists already
  kLink,         // a symbolic link or reparse point stands on the way or at the place
  kUnspellable,  // a component cannot be converted from the code page into a host name
  kSystem,       // the system refused (permissions, a full disk); see RefusalDetail
};
// Like errno for the seam's create calls, which return only a null or false: read right
// after the call that failed, and reset by the next one.
Refusal LastRefusal();
// What the refusal means, for an entry whose name is in `codepage`.
std::string DescribeRefusal(Refusal refusal, const std::string& codepage);

// The description of the last refusal, in the target's code page, with the system's reason
// where it gave one ("could not be created: Permission denied"), or the directory on the way
// that the system refused.
std::string DescribeLastRefusal();

// A file the directory target found where it was to write one is written beside it instead;
// CommitReplacements moves every such file over the one it replaces (false when a move
// failed), DiscardReplacements removes them. ClearTarget discards what was not committed, so
// that a run that fails leaves the files it found as they were.
bool CommitReplacements();
void DiscardReplacements();

// Held while a run writes into a directory, so that two runs never mix their files in one.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  ~DirectoryLock();
  // False when it cannot be had; `busy` says whether another run holds it.
  bool Acquire(const std::string& host_directory, bool* busy);

 private:
  intptr_t handle_ = -1;
};

// Whether `byte` begins a double-byte character in `codepage` (an iconv name).
bool IsLeadByteIn(const std::string& codepage, uint8_t byte);
// A host name upper-cased as Windows compares file names: every letter, not only ASCII.
std::string WindowsUpperCase(const std::string& host_name);

// Whether the directory target already held `path` (a directory, or a file that was
// truncated) when the run asked to create it: what was there before is never undone.
bool ExistedBefore(const char* path);

// One directory or file that the decoder created in the catalogue.
struct CatalogueEntry {
  std::string name;  // as stored (ANSI, backslashes)
  bool is_directory;
  uint64_t size;     // data bytes written
};
std::vector<CatalogueEntry> TakeCatalogue();

// What tells one regular file from another: the planner records it when it checks a file,
// and the writer holds the file it opens to copy to it, so that a file replaced (by a link to
// something outside the tree, say) between the two is noticed.
struct FileIdentity {
  uint64_t device = 0;  // 0 where the system does not tell (Windows)
  uint64_t inode = 0;
  uint64_t size = 0;
  uint64_t changed_ns = 0;  // when its inode last changed: a new file under a reused number differs
  bool operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size && changed_ns == o.changed_ns;
  }
};
// Opens a regular file by its host path for reading without following a link; null with
// errno set when it cannot be opened or is not a regular file.
FILE* OpenRegularFile(const std::string& host_path, FileIdentity* identity);

// Opens a file by its host path for reading, outside the target.
File* OpenHostFile(const std::string& host_path);

#ifdef __linux__
// Copies `bytes` bytes from descriptor `from` at `*from_at` to descriptor `to` at `*to_at`,
// inside the kernel where the file systems allow it and through memory where not, advancing
// both offsets. Returns how many were copied; fewer means the source ended (errno 0) or a
// read or write failed (errno says why).
uint64_t CopyDescriptorRange(int from, int64_t* from_at, int to, int64_t* to_at, uint64_t bytes);
#endif

}  // namespace platform::host
