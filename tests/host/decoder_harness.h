// Runs the entry decoder over a stream held by the fake platform and records what a test
// needs to see: the progress values asked for, the clean-up list, the error boxes.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "archive/entry_decoder.h"
#include "fake_platform.h"

namespace test {

constexpr char kRoot[] = "C:\\Root\\";
constexpr char kArchivePath[] = "C:\\Downloads\\sea.exe";

struct DecoderRun {
  ProgressDialogRecord record{};
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
                           decode_buffer, read_buffer, reinterpret_cast<platform::Window>(0x77),
                           &record);
    strcpy(state.extraction_root, kRoot);
    record.requested_position = -1;
    fake::world().on_read = [this](int n) {
      // A progress call always comes just before the read of its block.
      int32_t asked = record.requested_position;
      if (asked != -1) progress.push_back(asked);
      record.requested_position = -1;
      if (n == cancel_at_read) record.cancelled = 1;
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
