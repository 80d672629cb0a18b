#include "inspect.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include "archive/entry_decoder.h"
#include "archive/trailer_locator.h"
#include "common/text.h"
#include "encoding.h"
#include "handoff/handoff.h"
#include "platform/host/host_platform.h"
#include "progress_meter.h"

namespace fs = std::filesystem;

namespace {

// The root under which a catalogue records entries; it is never a real directory.
constexpr char kCatalogueRoot[] = "<archive>\\";

void PrintError(const std::string& message) {
  fprintf(stderr, "kovsea: error: %s\n", message.c_str());
}

// An opened self-extractor with its trailer found and read (not yet checked).
struct Sea {
  platform::File* file = nullptr;
  ArchiveTrailer trailer{};
  TrailerLocation location{};

  ~Sea() {
    if (file != nullptr) platform::CloseFile(file);
  }
  uint64_t TrailerAt() const { return location.trailer_offset; }
};

bool OpenSea(const fs::path& path, Sea* sea) {
  sea->file = platform::OpenForReading(path.string().c_str());
  if (sea->file == nullptr) {
    PrintError(path.string() + ": cannot open: " + strerror(errno));
    return false;
  }
  uint8_t raw[kTrailerSize];
  if (!LocateTrailer(sea->file, &sea->location, raw)) {
    PrintError(path.string() + ": too short to hold a trailer");
    return false;
  }
  DecodeTrailer(raw, &sea->trailer);
  return true;
}

// What the decoder made of a stream.
struct Reading {
  std::vector<platform::CatalogueEntry> entries;
  std::vector<std::string> directories;  // names of the directories created, as stored
  std::vector<platform::ReportedError> errors;
  bool on_boundary = false;
  bool data_cut = false;
  uint32_t bytes_written = 0;
  uint32_t entry_size = 0;
  std::string entry_name;
  uint64_t entry_offset = 0;  // in the file: where the entry the decoder stopped in begins
};

// Takes what the decoder's state says about where and why it stopped.
void TakeEndState(const ExtractionState& state, Reading* reading) {
  reading->on_boundary = EndedOnEntryBoundary(&state);
  reading->data_cut = state.output_file != nullptr;
  reading->bytes_written = state.bytes_written;
  reading->entry_size = state.entry_size;
  reading->entry_name = state.entry_name;
  const uint64_t served =
      state.blocks_loaded == 0
          ? 0
          : uint64_t{state.blocks_loaded - 1} * kBlockSize + static_cast<uint32_t>(state.block_position);
  // Inside a header the bytes seen so far lead back to its start; inside file data, the data
  // written and the whole header do.
  const uint64_t back = state.header_bytes_seen != 0
                            ? state.header_bytes_seen
                            : (state.header_mode == 0 ? uint64_t{state.bytes_written} + 5 +
                                                            strlen(state.entry_name)
                                                      : 0);
  reading->entry_offset = state.trailer->archive_offset + (served >= back ? served - back : 0);
}

void ForgetCleanupList(CleanupList* list) {
  while (list->head != nullptr) {
    CleanupNode* node = list->head;
    list->head = node->next;
    DiscardCleanupNode(node);
  }
}

// Runs the stub's decoder over the stream with the catalogue open, so nothing is written.
Reading CatalogueStream(Sea* sea) {
  Reading reading;
  uint8_t decode_buffer[kBlockSize];
  uint8_t read_buffer[kBlockSize];
  ProgressDialogRecord record{};
  ExtractionState state;
  platform::SeekTo(sea->file, sea->trailer.archive_offset);
  PrepareExtractionState(&state, sea->file, &sea->trailer, decode_buffer, read_buffer, nullptr,
                         &record);
  CopyText(state.extraction_root, sizeof state.extraction_root, kCatalogueRoot);
  platform::OpenCatalogue(kCatalogueRoot);
  platform::SetErrorBoxesQuiet(true);
  DecodeArchive(&state);
  TakeEndState(state, &reading);
  CloseOutputFile(&state);
  reading.entries = platform::CloseCatalogue();
  for (const auto& e : reading.entries) {
    if (e.is_directory) reading.directories.push_back(e.name);
  }
  reading.errors = platform::TakeReportedErrors();
  platform::SetErrorBoxesQuiet(false);
  ForgetCleanupList(&state.cleanup_list);
  return reading;
}

std::string StripRoot(const std::string& path, const std::string& root) {
  return path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : path;
}

// Why the decoder refused the entry named `name` (as stored).
std::string ExplainRefusal(const std::string& name, const std::vector<std::string>& directories,
                           const std::string& root, const std::string& codepage) {
  const std::string shown = AnsiToDisplay(name, codepage);
  const NameProblem problem = CheckEntryName(name.c_str());
  if (problem != NameProblem::kNone) return std::string(DescribeNameProblem(problem)) + ": \"" + shown + "\"";
  const size_t cut = name.rfind('\\');
  if (cut != std::string::npos) {
    const std::string parent = name.substr(0, cut);
    bool found = false;
    for (const auto& d : directories) found = found || d == parent;
    if (!found) {
      return "\"" + shown + "\" comes before its directory \"" + AnsiToDisplay(parent, codepage) + "\"";
    }
  }
  if (root.size() + name.size() > kMaxPathLength) {
    return "\"" + shown + "\" makes a path longer than 259 characters";
  }
  return "\"" + shown + "\" could not be created or written";
}

// Every problem of the stream, one line each with the byte offset it concerns.
std::vector<std::string> StreamProblems(const Sea& sea, const Reading& reading, const std::string& root,
                                        const std::string& codepage) {
  (void)sea;
  std::vector<std::string> problems;
  const uint64_t next = reading.entry_offset;
  if (!reading.errors.empty()) {
    problems.push_back("offset " + std::to_string(next) + ": entry " +
                       ExplainRefusal(reading.entry_name, reading.directories, root, codepage));
  }
  if (reading.errors.empty() && !reading.on_boundary) {
    if (reading.data_cut) {
      problems.push_back("offset " + std::to_string(next) + ": entry \"" +
                         AnsiToDisplay(reading.entry_name, codepage) + "\" is cut short: " +
                         std::to_string(reading.bytes_written) + " of " +
                         std::to_string(reading.entry_size) + " data bytes");
    } else {
      problems.push_back("offset " + std::to_string(next) +
                         ": the stream ends inside an entry header");
    }
  }
  return problems;
}

// What is wrong with the certificate table the PE header names, if anything: data the
// signature does not cover, or a table no signer would have written.
std::vector<std::string> SignatureProblems(const Sea& sea) {
  std::vector<std::string> problems;
  const TrailerLocation& at = sea.location;
  if (at.table.size == 0 || at.is_signed) return problems;
  const uint64_t table_end = uint64_t{at.table.offset} + at.table.size;
  const std::string table = "the certificate table (offset " + std::to_string(at.table.offset) +
                            ", " + std::to_string(at.table.size) + " bytes)";
  if (table_end > at.file_length) {
    problems.push_back("offset " + std::to_string(at.table.offset) + ": " + table +
                       " reaches past the end of the file");
  } else if (table_end < at.file_length) {
    problems.push_back("offset " + std::to_string(table_end) + ": " +
                       std::to_string(at.file_length - table_end) + " bytes follow " + table +
                       ", outside what the signature covers");
  } else {
    problems.push_back("offset " + std::to_string(at.table.offset) + ": " + table +
                       " is not aligned to 8 bytes");
  }
  return problems;
}

// Whether a range of the file reaches past the trailer into the certificate table.
bool ReachesIntoTable(const Sea& sea, uint32_t offset, uint32_t size) {
  return sea.location.is_signed && uint64_t{offset} + size > sea.location.logical_end;
}

std::vector<std::string> TrailerProblems(const Sea& sea) {
  std::vector<std::string> problems = SignatureProblems(sea);
  int bad_slot = -1;
  const TrailerProblem problem = CheckTrailer(sea.trailer, sea.TrailerAt(), &bad_slot);
  uint64_t at = sea.TrailerAt();
  std::string what = DescribeTrailerProblem(problem);
  switch (problem) {
    case TrailerProblem::kNone: break;
    case TrailerProblem::kBadMagic: break;
    case TrailerProblem::kEmptyArchive: at += 12; break;
    case TrailerProblem::kArchiveOutsideFile:
      at += 8;
      if (ReachesIntoTable(sea, sea.trailer.archive_offset, sea.trailer.archive_size)) {
        what = "entry stream reaches into the certificate table";
      }
      break;
    case TrailerProblem::kSlotOutsideFile: {
      at += 20 + 8 * bad_slot;
      const SideFileSlot& slot = SideFileAt(sea.trailer, bad_slot);
      if (ReachesIntoTable(sea, slot.offset, slot.size)) what = "side file reaches into the certificate table";
      what += std::string(" (") + SideFileName(bad_slot) + ")";
      break;
    }
  }
  if (problem != TrailerProblem::kNone) problems.push_back("offset " + std::to_string(at) + ": " + what);
  return problems;
}

std::string DescribeSignature(const TrailerLocation& at) {
  if (!at.is_signed) return "not signed";
  std::string text = "signed: certificate table at offset " + std::to_string(at.table.offset) + ", " +
                     std::to_string(at.table.size) + " bytes";
  if (at.padding != 0) text += ", after " + std::to_string(at.padding) + " bytes of padding";
  return text;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char* kSlotKeys[kSideFileCount] = {"admin", "client", "net", "setup"};

// Opens `path` and refuses it, with a message per problem, unless its trailer is usable.
bool OpenUsableSea(const fs::path& path, Sea* sea) {
  if (!OpenSea(path, sea)) return false;
  const std::vector<std::string> problems = TrailerProblems(*sea);
  for (const auto& p : problems) PrintError(path.string() + ": " + p);
  return problems.empty();
}

}  // namespace

int ListCommand(const fs::path& path, bool json, const std::string& codepage) {
  Sea sea;
  if (!OpenUsableSea(path, &sea)) return 1;
  const Reading reading = CatalogueStream(&sea);
  const ArchiveTrailer& t = sea.trailer;
  if (json) {
    printf("{\"signed\": %s, \"archive_offset\": %u, \"archive_size\": %u, \"entry_count\": %u, "
           "\"entries\": [",
           sea.location.is_signed ? "true" : "false", t.archive_offset, t.archive_size, t.entry_count);
    for (size_t i = 0; i < reading.entries.size(); ++i) {
      const auto& e = reading.entries[i];
      const std::string size = e.is_directory ? "null" : std::to_string(e.size);
      printf("%s\n  {\"type\": \"%s\", \"size\": %s, \"name\": %s}", i == 0 ? "" : ",",
             e.is_directory ? "directory" : "file", size.c_str(),
             JsonString(AnsiToDisplay(e.name, codepage)).c_str());
    }
    printf("], \"side_files\": {");
    for (int i = 0; i < kSideFileCount; ++i) {
      const SideFileSlot& slot = SideFileAt(t, i);
      printf("%s\"%s\": ", i == 0 ? "" : ", ", kSlotKeys[i]);
      if (slot.offset == 0) {
        printf("null");
      } else {
        printf("{\"name\": \"%s\", \"offset\": %u, \"size\": %u}", SideFileName(i), slot.offset,
               slot.size);
      }
    }
    printf("}}\n");
  } else {
    printf("archive offset %u, size %u bytes, %u entries, %s\n", t.archive_offset, t.archive_size,
           t.entry_count, DescribeSignature(sea.location).c_str());
    for (const auto& e : reading.entries) {
      if (e.is_directory) {
        printf("  dir  %12s  %s\n", "-", AnsiToDisplay(e.name, codepage).c_str());
      } else {
        printf("  file %12llu  %s\n", static_cast<unsigned long long>(e.size),
               AnsiToDisplay(e.name, codepage).c_str());
      }
    }
    printf("side files:\n");
    for (int i = 0; i < kSideFileCount; ++i) {
      const SideFileSlot& slot = SideFileAt(t, i);
      if (slot.offset == 0) {
        printf("  %-6s %-14s absent\n", kSlotKeys[i], SideFileName(i));
      } else {
        printf("  %-6s %-14s offset %u, %u bytes\n", kSlotKeys[i], SideFileName(i), slot.offset,
               slot.size);
      }
    }
  }
  const auto problems = StreamProblems(sea, reading, kCatalogueRoot, codepage);
  for (const auto& p : problems) PrintError(path.string() + ": " + p);
  return problems.empty() ? 0 : 1;
}

int VerifyCommand(const fs::path& path, const std::string& codepage) {
  Sea sea;
  if (!OpenSea(path, &sea)) return 1;
  std::vector<std::string> problems = TrailerProblems(sea);
  if (problems.empty()) {
    const Reading reading = CatalogueStream(&sea);
    problems = StreamProblems(sea, reading, kCatalogueRoot, codepage);
    if (reading.entries.size() != sea.trailer.entry_count) {
      problems.push_back("offset " + std::to_string(sea.TrailerAt() + 16) + ": the trailer counts " +
                         std::to_string(sea.trailer.entry_count) + " entries, the stream holds " +
                         std::to_string(reading.entries.size()));
    }
  }
  printf("%s: %s\n", path.string().c_str(), DescribeSignature(sea.location).c_str());
  for (const auto& p : problems) printf("%s: %s\n", path.string().c_str(), p.c_str());
  if (problems.empty()) {
    printf("%s: OK\n", path.string().c_str());
    return 0;
  }
  return 1;
}

int ExtractCommand(const fs::path& path, const fs::path& out_dir, bool force,
                   const std::string& codepage) {
  Sea sea;
  if (!OpenUsableSea(path, &sea)) return 1;
  std::error_code error;
  bool created_dir = false;
  if (fs::exists(out_dir, error)) {
    if (!fs::is_directory(out_dir, error)) {
      PrintError(out_dir.string() + ": not a directory");
      return 1;
    }
    if (!force && !fs::is_empty(out_dir, error)) {
      PrintError(out_dir.string() + ": not empty (use --force to extract into it anyway)");
      return 1;
    }
  } else {
    if (!fs::create_directories(out_dir, error)) {
      PrintError(out_dir.string() + ": cannot create: " + error.message());
      return 1;
    }
    created_dir = true;
  }
  // Entries are created relative to the output directory, so that its own length does not
  // count against the 259 characters a path may have on the target.
  const fs::path previous = fs::current_path(error);
  fs::current_path(out_dir, error);
  if (error) {
    PrintError(out_dir.string() + ": cannot enter: " + error.message());
    return 1;
  }
#ifdef _WIN32
  const char root[] = ".\\";
#else
  const char root[] = "./";
#endif
  platform::ConfigureHostNames(codepage.c_str(), root);

  uint8_t decode_buffer[kBlockSize];
  uint8_t read_buffer[kBlockSize];
  ProgressDialogRecord record{};
  ExtractionState state;
  platform::SeekTo(sea.file, sea.trailer.archive_offset);
  PrepareExtractionState(&state, sea.file, &sea.trailer, decode_buffer, read_buffer, nullptr, &record);
  CopyText(state.extraction_root, sizeof state.extraction_root, root);

  // The terminal's progress bar follows the decoder's progress points, as the dialog does.
  ProgressMeter meter("extracting", sea.trailer.archive_size);
  std::atomic<bool> done(false);
  std::thread ticker;
  if (meter.enabled()) {
    ticker = std::thread([&] {
      while (!done.load()) {
        meter.Show(record.requested_position.load(std::memory_order_relaxed));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  platform::SetErrorBoxesQuiet(true);
  DecodeArchive(&state);
  Reading reading;
  TakeEndState(state, &reading);
  CloseOutputFile(&state);
  reading.errors = platform::TakeReportedErrors();
  for (CleanupNode* n = state.cleanup_list.head; n != nullptr; n = n->next) {
    if (n->is_directory != 0) reading.directories.push_back(StripRoot(n->path, root));
  }
  std::vector<std::string> problems = StreamProblems(sea, reading, root, codepage);

  const std::string disk = std::string(root) + "Disk1\\";
  size_t side_files = 0;
  if (problems.empty()) {
    for (int i = 0; i < kSideFileCount; ++i) {
      const SideFileSlot& slot = SideFileAt(sea.trailer, i);
      if (slot.offset == 0) continue;
      if (WriteSideFile(nullptr, sea.file, disk.c_str(), &state.cleanup_list, SideFileName(i),
                        slot.offset, slot.size) == 0) {
        problems.push_back(std::string("cannot write the side file Disk1/") + SideFileName(i) +
                           " (the archive has no Disk1 directory, or the disk is full)");
      } else {
        ++side_files;
      }
    }
  }
  platform::TakeReportedErrors();
  platform::SetErrorBoxesQuiet(false);
  done.store(true);
  if (ticker.joinable()) ticker.join();
  meter.Finish();

  size_t entries = 0;
  for (CleanupNode* n = state.cleanup_list.head; n != nullptr; n = n->next) ++entries;
  if (!problems.empty()) {
    // Nothing half-done stays behind: everything this run created goes, newest first.
    DeleteCleanupList(&state.cleanup_list);
    fs::current_path(previous, error);
    if (created_dir) fs::remove(out_dir, error);
    for (const auto& p : problems) PrintError(path.string() + ": " + p);
    return 1;
  }
  ForgetCleanupList(&state.cleanup_list);
  fs::current_path(previous, error);
  printf("extracted %zu entries and %zu side files into %s\n", entries - side_files, side_files,
         out_dir.string().c_str());
  return 0;
}
