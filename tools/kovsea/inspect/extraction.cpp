// Extraction into a directory of the host: the stream checked in the catalogue first, then
// decoded through the host platform's directory target, which never follows a link out of
// it. On failure the run's own creations are removed again, newest first.
#include <stdio.h>

#include <chrono>
#include <system_error>
#include <thread>

#include "extraction.h"
#include "progress_meter.h"
#include "reading.h"
#include "side_files.h"
#include "text.h"

namespace fs = std::filesystem;
namespace host = platform::host;

namespace {

constexpr size_t kSideFileChunk = 1u << 20;

// The directory that receives the files, and whether this run made it.
struct Destination {
  fs::path path;
  bool created = false;
};

bool PrepareDestination(const fs::path& out_dir, bool force, Destination* destination, Problems* problems) {
  auto refuse = [&](const std::string& what, const std::string& fix) {
    problems->push_back(Problem{out_dir.string(), std::nullopt, what, fix});
    return false;
  };
  std::error_code error;
  destination->path = out_dir;
  // A link given as OUT itself is the user's own choice of directory and is followed.
  const fs::file_status status = fs::status(out_dir, error);
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) return refuse("not a directory", "name a directory");
    if (!force && !fs::is_empty(out_dir, error)) {
      return refuse("not empty", "use --force to extract into it anyway");
    }
    return true;
  }
  if (!fs::create_directories(out_dir, error)) return refuse("cannot create: " + error.message(), "");
  destination->created = true;
  return true;
}

// Copies one side file's bytes from the self-extractor into `path`.
bool CopySideFile(Sea* sea, const SideFileSlot& slot, const char* path) {
  platform::File* out = platform::CreateForWriting(path);
  if (out == nullptr) return false;
  bool ok = platform::SeekTo(sea->file, slot.offset);
  uint64_t left = slot.size;
  if (ok && platform::CanCopyBetween(sea->file, out)) {
    ok = platform::CopyBetween(sea->file, out, left) == left;
    left = 0;
  }
  std::vector<char> buffer(left != 0 ? kSideFileChunk : 0);
  while (ok && left > 0) {
    const size_t want = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
    ok = platform::ReadBytes(sea->file, buffer.data(), want) == want &&
         platform::WriteBytes(out, buffer.data(), want);
    left -= want;
  }
  return platform::CloseFile(out) && ok;
}

// Writes the side files into Disk1, as the stub does; every one written joins `created`.
Problems WriteSideFiles(Sea* sea, CleanupList* created, size_t* written) {
  Problems problems;
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(sea->trailer, i);
    if (slot.offset == 0) continue;
    char path[kPathCapacity];
    CopyText(path, sizeof path, kDiskDirectoryPath);
    AppendText(path, sizeof path, SideFileName(i));
    CleanupNode* node = NewCleanupNode(path, CleanupKind::kFile);
    if (node == nullptr) continue;
    // Listed before it is written: one that is made but not written whole goes with the rest.
    LinkCleanupNode(created, node);
    if (!CopySideFile(sea, slot, path)) {
      problems.push_back(Problem{sea->path, slot.offset, "cannot write the side file " + std::string(path),
                                 std::string("the archive has no ") + kDiskDirectory +
                                     " directory, or the disk is full"});
      break;
    }
    ++*written;
  }
  return problems;
}

// Removes, newest first, what this run created; what was there before stays.
void Undo(CleanupList* created) {
  while (CleanupNode* node = PopCleanup(created)) {
    if (!host::ExistedBefore(node->path)) {
      if (node->is_directory != 0) {
        platform::RemoveEmptyDirectory(node->path);
      } else {
        platform::DeleteFileAt(node->path);
      }
    }
    DiscardCleanupNode(node);
  }
}

// Decodes into the destination while a terminal progress bar follows the decoder's
// progress points, as the stub's dialog does.
Reading DecodeWithMeter(Sea* sea, CleanupList* created, const std::atomic<int>* stop) {
  ProgressMeter meter("extracting", sea->trailer.archive_size);
  std::atomic<int32_t> percent(0);
  std::atomic<bool> done(false);
  std::thread ticker;
  if (meter.enabled()) {
    ticker = std::thread([&] {
      while (!done.load()) {
        meter.Show(percent.load(std::memory_order_relaxed));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  Reading reading = DecodeStream(sea, &percent, created, stop);
  done.store(true);
  if (ticker.joinable()) ticker.join();
  meter.Finish();
  return reading;
}

size_t Count(const CleanupList& list) {
  size_t n = 0;
  for (const CleanupNode* node = list.head; node != nullptr; node = node->next) ++n;
  return n;
}

}  // namespace

bool ExtractSea(Sea* sea, const fs::path& out_dir, bool force, const Codepage& codepage, Extracted* extracted,
                Problems* problems, const std::atomic<int>* stop) {
  auto stopped = [&] {
    if (stop == nullptr || stop->load() == 0) return false;
    extracted->stopped_by = stop->load();
    *problems = {Problem{out_dir.string(), std::nullopt,
                         "interrupted (signal " + std::to_string(extracted->stopped_by) +
                             "): what this run wrote is removed again, and what was there before is as it was",
                         std::string()}};
    return true;
  };
  // An archive that would fail, fails here, before anything is written.
  std::vector<host::CatalogueEntry> entries;
  *problems = StreamProblems(*sea, CatalogueStream(sea, codepage, &entries), codepage);
  if (!problems->empty()) return false;

  Destination destination;
  if (!PrepareDestination(out_dir, force, &destination, problems)) return false;
  // Two runs into one directory would mix their files: the second waits for nobody, it refuses.
  host::DirectoryLock lock;
  bool busy = false;
  if (!lock.Acquire(out_dir.string(), &busy)) {
    problems->push_back(Problem{out_dir.string(), std::nullopt,
                                busy ? "another kovsea is extracting into it" : "cannot be locked for extraction",
                                busy ? "wait for it to finish" : ""});
    std::error_code ignored;
    if (destination.created) fs::remove(out_dir, ignored);
    return false;
  }
  if (!host::TargetDirectory(out_dir.string(), codepage.name())) {
    problems->push_back(Problem{out_dir.string(), std::nullopt, "cannot open", std::string()});
    return false;
  }
  CleanupList created = {nullptr};
  *problems = StreamProblems(*sea, DecodeWithMeter(sea, &created, stop), codepage);
  size_t side_files = 0;
  if (!stopped() && problems->empty()) *problems = WriteSideFiles(sea, &created, &side_files);
  const size_t made = Count(created);
  // The files that were there are replaced below, all at once: a signal before then undoes
  // the run, and one after it finds the run complete.
  if (stopped() || !problems->empty()) {
    Undo(&created);
    host::ClearTarget();
    std::error_code ignored;
    if (destination.created) fs::remove(out_dir, ignored);
    return false;
  }
  // Files that were there are replaced only now, when everything else is in place.
  if (!host::CommitReplacements()) {
    problems->push_back(Problem{out_dir.string(), std::nullopt, "a file that was there could not be replaced",
                                "make it writable"});
  }
  ForgetCleanupList(&created);
  host::ClearTarget();
  if (!problems->empty()) return false;
  extracted->entries = made - side_files;
  extracted->side_files = side_files;
  return true;
}
