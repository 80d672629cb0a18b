#include "reading.h"

namespace host = platform::host;

namespace {

struct Following {
  std::atomic<int32_t>* percent;
  const std::atomic<int>* stop;
};

// Passes the decoder's progress on, and stops it, as the stub's Cancel does, once `stop` is set.
int32_t FollowProgress(void* context, int32_t value) {
  const Following* following = static_cast<const Following*>(context);
  if (following->percent != nullptr) following->percent->store(value, std::memory_order_relaxed);
  return following->stop != nullptr && following->stop->load() != 0 ? 1 : 0;
}

std::string Quoted(const std::string& ansi, const Codepage& codepage) {
  return "\"" + codepage.ToDisplay(ansi) + "\"";
}

// Why the entry the decoder stopped at was refused, following the word "entry".
std::string DescribeFailure(const Reading& reading, const Codepage& codepage) {
  const std::string name = Quoted(reading.entry_name, codepage);
  switch (reading.failure) {
    case EntryFailure::kBadName:
      return std::string(DescribeNameProblem(reading.name_problem)) + ": " + name;
    case EntryFailure::kCannotCreate:
      if (reading.refusal == host::Refusal::kNoParent) {
        const size_t cut = reading.entry_name.rfind('\\');
        if (cut != std::string::npos) {
          return name + " comes before its directory " + Quoted(reading.entry_name.substr(0, cut), codepage);
        }
      }
      return name + " " + reading.refusal_text;
    default:
      return name + " " + DescribeEntryFailure(reading.failure);
  }
}

}  // namespace

Reading DecodeStream(Sea* sea, std::atomic<int32_t>* percent, CleanupList* created, const std::atomic<int>* stop) {
  uint8_t decode_buffer[kBlockSize];
  uint8_t read_buffer[kBlockSize];
  ExtractionState state;
  platform::SeekTo(sea->file, sea->trailer.archive_offset);
  PrepareExtractionState(&state, sea->file, &sea->trailer, decode_buffer, read_buffer);
  Following following = {percent, stop};
  if (percent != nullptr || stop != nullptr) {
    state.progress_context = &following;
    state.report_progress = FollowProgress;
  }
  const Reading reading = DecodePrepared(&state);
  *created = state.cleanup_list;
  return reading;
}

Reading DecodePrepared(ExtractionState* state) {
  DecodeArchive(state);
  Reading reading;
  reading.on_boundary = EndedOnEntryBoundary(state);
  reading.data_cut = state->output_file != nullptr;
  reading.bytes_written = state->bytes_written;
  reading.entry_size = state->entry_size;
  reading.entry_name = state->entry_name;
  reading.entry_offset = CurrentEntryOffset(state);
  CloseOutputFile(state);
  reading.failure = state->failure.kind;
  reading.name_problem = state->failure.name_problem;
  reading.refusal = host::LastRefusal();
  reading.refusal_text = host::DescribeLastRefusal();
  return reading;
}

Reading CatalogueStream(Sea* sea, const Codepage& codepage, std::vector<host::CatalogueEntry>* entries,
                        host::CatalogueObserver* observer) {
  host::TargetCatalogue(codepage.name(), observer);
  CleanupList created = {nullptr};
  Reading reading = DecodeStream(sea, nullptr, &created);
  ForgetCleanupList(&created);
  *entries = host::TakeCatalogue();
  host::ClearTarget();
  return reading;
}

void EntryDigests::Data(size_t entry, const void* bytes, size_t count) {
  while (digests_.size() <= entry) digests_.emplace_back(new Sha256);
  digests_[entry]->Update(bytes, count);
}

std::string EntryDigests::Of(size_t entry) {
  while (digests_.size() <= entry) digests_.emplace_back(new Sha256);
  if (finished_.size() <= entry) finished_.resize(entry + 1);
  if (finished_[entry].empty()) finished_[entry] = digests_[entry]->HexDigest();
  return finished_[entry];
}

Problems StreamProblems(const Sea& sea, const Reading& reading, const Codepage& codepage) {
  Problems problems;
  if (reading.failure != EntryFailure::kNone) {
    problems.push_back(sea.At(reading.entry_offset, "entry " + DescribeFailure(reading, codepage)));
  } else if (!reading.on_boundary && reading.data_cut) {
    problems.push_back(sea.At(reading.entry_offset, "entry " + Quoted(reading.entry_name, codepage) +
                                                         " is cut short: " + std::to_string(reading.bytes_written) +
                                                         " of " + std::to_string(reading.entry_size) + " data bytes"));
  } else if (!reading.on_boundary) {
    problems.push_back(sea.At(reading.entry_offset, "the stream ends inside an entry header"));
  }
  return problems;
}

void ForgetCleanupList(CleanupList* list) {
  while (CleanupNode* node = PopCleanup(list)) DiscardCleanupNode(node);
}
