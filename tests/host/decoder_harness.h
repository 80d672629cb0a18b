// Runs the entry decoder over a stream held by the fake platform and records what a test
// needs to see: the progress values asked for, the clean-up list, the recorded failure.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "entry_decoder.h"
#include "fake_platform.h"

namespace test {

constexpr char kRoot[] = "C:\\Root\\";
constexpr char kArchivePath[] = "C:\\Downloads\\sea.exe";

// The plain byte-at-a-time loop: the reference that DecodeArchive's runs must match exactly.
inline void DecodeArchiveByteWise(ExtractionState* state) {
  for (int byte = ReadArchiveByte(state); byte != -1; byte = ReadArchiveByte(state)) {
    DecodeArchiveByte(byte, state);
  }
}

struct DecoderRun {
  int32_t requested = -1;  // the last progress asked for, -1 once taken
  bool cancelled = false;
  // How often the failure hook was called during the last run.
  static int& failures_reported() {
    static int count = 0;
    return count;
  }
  ArchiveTrailer trailer{};
  ExtractionState state{};
  uint8_t decode_buffer[kBlockSize];
  uint8_t read_buffer[kBlockSize];
  std::vector<int32_t> progress;  // the value of every progress call, in order
  int cancel_at_read = 0;         // the user presses Cancel while block n is read

  // Decodes `file` (the stream at offset 0, maybe followed by other bytes), taking
  // `archive_size` from a trailer that may not match the file.
  void Run(const std::string& file, uint32_t archive_size, bool byte_wise = false) {
    fake::PutFile(kArchivePath, file);
    fake::PutDirectory("C:\\Root");
    trailer = ArchiveTrailer{};
    trailer.archive_size = archive_size;
    PrepareExtractionState(&state, platform::OpenForReading(kArchivePath), &trailer,
                           decode_buffer, read_buffer);
    strcpy(state.extraction_root, kRoot);
    state.progress_context = this;
    state.report_progress = [](void* run, int32_t percent) -> int32_t {
      auto* self = static_cast<DecoderRun*>(run);
      self->requested = percent;
      return self->cancelled ? 1 : 0;
    };
    failures_reported() = 0;
    state.report_failure = [](const ExtractionState* s) {
      // The hook is called with the failure already recorded.
      if (s->failure.kind != EntryFailure::kNone) ++failures_reported();
    };
    fake::world().on_read = [this](int n) {
      // A progress call always comes just before the read of its block.
      if (requested != -1) progress.push_back(requested);
      requested = -1;
      if (n == cancel_at_read) cancelled = true;
    };
    if (byte_wise) {
      DecodeArchiveByteWise(&state);
    } else {
      DecodeArchive(&state);
    }
    fake::world().on_read = nullptr;
  }

  std::vector<std::string> CleanupPaths() const {
    std::vector<std::string> out;
    for (CleanupNode* n = state.cleanup_list.head; n != nullptr; n = n->next) {
      out.push_back(std::string(n->is_directory ? "D " : "F ") + n->path);
    }
    return out;
  }

  ~DecoderRun() {
    fake::world().on_read = nullptr;
    while (state.cleanup_list.head != nullptr) {
      CleanupNode* n = state.cleanup_list.head;
      state.cleanup_list.head = n->next;
      DiscardCleanupNode(n);
    }
  }
};

}  // namespace test
