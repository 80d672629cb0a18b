#include "tree_snapshot.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <strings.h>

#include <algorithm>
#include <memory>
#include <system_error>

#include "digest.h"
#include "reading.h"
#include "side_files.h"

namespace fs = std::filesystem;
namespace host = platform::host;

namespace trial {
namespace {

// A digest of every catalogued file, fed as the decoder writes it.
class Digests : public host::CatalogueObserver {
 public:
  void Data(size_t entry, const void* bytes, size_t count) override {
    At(entry)->Update(bytes, count);
  }
  std::string Of(size_t entry) { return At(entry)->HexDigest(); }

 private:
  Sha256* At(size_t entry) {
    while (digests_.size() <= entry) digests_.emplace_back(new Sha256);
    return digests_[entry].get();
  }
  std::vector<std::unique_ptr<Sha256>> digests_;
};

// The installer may have planted links and pipes in the tree by now: only a regular file is
// read, never through a link, and opening never waits.
std::string FileDigest(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::string();
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return std::string();
  }
  Sha256 digest;
  std::vector<char> buffer(1u << 20);
  ssize_t n;
  while ((n = read(fd, buffer.data(), buffer.size())) > 0) digest.Update(buffer.data(), static_cast<size_t>(n));
  close(fd);
  return n < 0 ? std::string() : digest.HexDigest();
}

std::string Windows(const fs::path& relative) {
  std::string name = relative.generic_string();
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

const FoundEntry* Lookup(const std::vector<FoundEntry>& found, const std::string& name, std::vector<bool>* used) {
  // Windows names compare without regard to case; an exact match is preferred.
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < found.size(); ++i) {
      const bool match = pass == 0 ? found[i].name == name : strcasecmp(found[i].name.c_str(), name.c_str()) == 0;
      if (match && !(*used)[i]) {
        (*used)[i] = true;
        return &found[i];
      }
    }
  }
  return nullptr;
}

}  // namespace

ExpectedTree ReadExpectedTree(const fs::path& path, const Codepage& codepage) {
  ExpectedTree expected;
  Sea sea;
  Problems problems;
  if (!OpenUsableSea(path, &sea, &problems)) {
    expected.problem = problems.empty() ? "the file cannot be read" : ProblemText(problems.front());
    return expected;
  }
  std::vector<host::CatalogueEntry> entries;
  Digests digests;
  const Reading reading = CatalogueStream(&sea, codepage, &entries, &digests);
  problems = StreamProblems(sea, reading, codepage);
  if (!problems.empty()) expected.problem = ProblemText(problems.front());
  for (size_t i = 0; i < entries.size(); ++i) {
    const host::CatalogueEntry& e = entries[i];
    expected.entries.push_back({codepage.ToDisplay(e.name), e.is_directory, e.size, e.is_directory ? "" : digests.Of(i)});
  }
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(sea.trailer, i);
    ExpectedSideFile side;
    side.key = kSideFiles[i].key;
    side.name = InDiskDirectory(kSideFiles[i].file);
    side.carried = slot.offset != 0;
    if (side.carried) {
      side.size = slot.size;
      side.sha256 = DigestRange(sea.file, slot.offset, slot.size);
    }
    expected.side_files.push_back(side);
  }
  expected.known = true;
  return expected;
}

bool ReadFoundTree(const fs::path& root, std::vector<FoundEntry>* found) {
  std::error_code error;
  fs::recursive_directory_iterator it(root, error);
  if (error) return false;
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) return false;
    const fs::path relative = it->path().lexically_relative(root);
    FoundEntry entry;
    entry.name = Windows(relative);
    const fs::file_status status = it->symlink_status(error);
    entry.is_directory = fs::is_directory(status);
    if (fs::is_regular_file(status)) {
      entry.size = it->file_size(error);
      entry.sha256 = FileDigest(it->path());
    }
    found->push_back(entry);
  }
  std::sort(found->begin(), found->end(), [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
  return true;
}

void CompareTree(const ExpectedTree& expected, const std::vector<FoundEntry>& found, TrialRun* run) {
  std::vector<bool> used(found.size(), false);
  // The side files first: where the trailer carries one, it replaces an entry of the same name.
  for (const ExpectedSideFile& side : expected.side_files) {
    SideFileRow row;
    row.key = side.key;
    row.name = side.name;
    row.carried = side.carried;
    const FoundEntry* f = Lookup(found, side.name, &used);
    if (f == nullptr && !side.carried) continue;
    if (f == nullptr) {
      row.listed = Listed::kMissing;
    } else {
      row.size = f->size;
      row.sha256 = f->sha256;
      row.listed = !side.carried ? Listed::kNotListed
                   : (f->size == side.size && f->sha256 == side.sha256) ? Listed::kSame
                                                                        : Listed::kDifferent;
    }
    run->side_files.push_back(row);
  }
  for (const ExpectedEntry& e : expected.entries) {
    bool replaced = false;
    for (const SideFileRow& side : run->side_files) {
      replaced = replaced || (side.carried && strcasecmp(side.name.c_str(), e.name.c_str()) == 0);
    }
    if (replaced) continue;
    TreeRow row;
    row.name = e.name;
    row.is_directory = e.is_directory;
    const FoundEntry* f = Lookup(found, e.name, &used);
    if (f == nullptr) {
      row.listed = Listed::kMissing;
    } else {
      if (!f->is_directory) {
        row.size = f->size;
        row.sha256 = f->sha256;
      }
      const bool same = f->is_directory == e.is_directory &&
                        (e.is_directory || (f->size == e.size && f->sha256 == e.sha256));
      row.listed = same ? Listed::kSame : Listed::kDifferent;
    }
    if (row.listed != Listed::kSame && !e.is_directory) {
      row.listed_size = e.size;
      row.listed_sha256 = e.sha256;
    }
    run->tree.push_back(row);
  }
  for (size_t i = 0; i < found.size(); ++i) {
    if (used[i]) continue;
    TreeRow row;
    row.name = found[i].name;
    row.is_directory = found[i].is_directory;
    if (!found[i].is_directory) {
      row.size = found[i].size;
      row.sha256 = found[i].sha256;
    }
    row.listed = expected.known ? Listed::kNotListed : Listed::kSame;
    run->tree.push_back(row);
  }
}

std::vector<LeftEntry> ListDirectory(const fs::path& directory) {
  std::vector<LeftEntry> out;
  std::error_code error;
  for (fs::recursive_directory_iterator it(directory, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    LeftEntry entry;
    entry.path = Windows(it->path().lexically_relative(directory));
    const fs::file_status status = it->symlink_status(error);
    entry.is_directory = fs::is_directory(status);
    if (fs::is_regular_file(status)) entry.size = it->file_size(error);
    out.push_back(entry);
  }
  std::sort(out.begin(), out.end(), [](const LeftEntry& a, const LeftEntry& b) { return a.path < b.path; });
  return out;
}

}  // namespace trial
