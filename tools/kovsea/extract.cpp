// `kovsea extract`: the stream checked in the catalogue first, then decoded into the output
// directory through the host platform's directory target, which never follows a link out of
// it. On failure the run's own creations are removed again, newest first.
#include <stdio.h>

#include <chrono>
#include <system_error>
#include <thread>

#include "commands.h"
#include "progress_meter.h"
#include "reading.h"
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

bool PrepareDestination(const fs::path& out_dir, bool force, Destination* destination) {
  std::error_code error;
  destination->path = out_dir;
  // A link given as OUT itself is the user's own choice of directory and is followed.
  const fs::file_status status = fs::status(out_dir, error);
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) {
      PrintError(out_dir.string() + ": not a directory");
      return false;
    }
    if (!force && !fs::is_empty(out_dir, error)) {
      PrintError(out_dir.string() + ": not empty (use --force to extract into it anyway)");
      return false;
    }
    return true;
  }
  if (!fs::create_directories(out_dir, error)) {
    PrintError(out_dir.string() + ": cannot create: " + error.message());
    return false;
  }
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
std::vector<std::string> WriteSideFiles(Sea* sea, CleanupList* created, size_t* written) {
  std::vector<std::string> problems;
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(sea->trailer, i);
    if (slot.offset == 0) continue;
    char path[kPathCapacity];
    CopyText(path, sizeof path, "Disk1\\");
    AppendText(path, sizeof path, SideFileName(i));
    CleanupNode* node = NewCleanupNode(path, CleanupKind::kFile);
    if (node == nullptr) continue;
    // Listed before it is written: one that is made but not written whole goes with the rest.
    LinkCleanupNode(created, node);
    if (!CopySideFile(sea, slot, path)) {
      problems.push_back(std::string("cannot write the side file Disk1\\") + SideFileName(i) +
                         " (the archive has no Disk1 directory, or the disk is full)");
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
Reading DecodeWithMeter(Sea* sea, CleanupList* created) {
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
  Reading reading = DecodeStream(sea, &percent, created);
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

int ExtractCommand(const fs::path& path, const fs::path& out_dir, bool force, const std::string& codepage) {
  Sea sea;
  if (!OpenUsableSea(path, &sea)) return 1;
  // An archive that would fail, fails here, before anything is written.
  std::vector<host::CatalogueEntry> entries;
  std::vector<std::string> problems = StreamProblems(CatalogueStream(&sea, &entries), codepage);
  for (const auto& p : problems) PrintError(path.string() + ": " + p);
  if (!problems.empty()) return 1;

  Destination destination;
  if (!PrepareDestination(out_dir, force, &destination)) return 1;
  if (!host::TargetDirectory(out_dir.string())) {
    PrintError(out_dir.string() + ": cannot open");
    return 1;
  }
  CleanupList created = {nullptr};
  problems = StreamProblems(DecodeWithMeter(&sea, &created), codepage);
  size_t side_files = 0;
  if (problems.empty()) problems = WriteSideFiles(&sea, &created, &side_files);
  const size_t made = Count(created);
  if (!problems.empty()) {
    Undo(&created);
    host::ClearTarget();
    std::error_code ignored;
    if (destination.created) fs::remove(out_dir, ignored);
    for (const auto& p : problems) PrintError(path.string() + ": " + p);
    return 1;
  }
  ForgetCleanupList(&created);
  host::ClearTarget();
  printf("extracted %lu entries and %lu side files into %s\n", static_cast<unsigned long>(made - side_files),
         static_cast<unsigned long>(side_files), out_dir.string().c_str());
  return 0;
}
