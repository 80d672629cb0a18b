// Reading a self-extractor's entry stream with the stub's own decoder, into whatever the host
// platform's target is (the catalogue for list and verify, a directory for extract), and
// saying what went wrong, each problem with the byte offset of the entry it concerns.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "cleanup_list.h"
#include "codepage.h"
#include "digest.h"
#include "entry_decoder.h"
#include "host_files.h"
#include "problem.h"
#include "sea_file.h"

// Where and why the decoder stopped.
struct Reading {
  bool on_boundary = false;  // ended between entries with nothing open or failed
  bool data_cut = false;     // ended inside a file's data
  uint32_t bytes_written = 0;
  uint32_t entry_size = 0;
  std::string entry_name;    // as stored (ANSI, backslashes)
  uint64_t entry_offset = 0;  // in the file: where the entry the decoder stopped in begins
  EntryFailure failure = EntryFailure::kNone;
  NameProblem name_problem = NameProblem::kNone;
  platform::host::Refusal refusal = platform::host::Refusal::kNone;  // for kCannotCreate
  std::string refusal_text;  // the refusal in words, with the system's reason
};

// Decodes the stream of `sea` into the current target. `percent` (when given) follows the
// decoder's progress points, and the decoder stops at the first one after `stop` (when given)
// is no longer 0, as at the stub's Cancel; `created` receives every path created, newest first.
Reading DecodeStream(Sea* sea, std::atomic<int32_t>* percent, CleanupList* created,
                     const std::atomic<int>* stop = nullptr);
// Decodes the stream of a state that is prepared and positioned at the stream's start (with
// the root and the hooks its caller chose) into the current target; the state keeps what it
// created on its clean-up list.
Reading DecodePrepared(ExtractionState* state);
// The catalogue of the stream: what list shows and verify and extract check first. With an
// observer, it sees every file's data.
Reading CatalogueStream(Sea* sea, const Codepage& codepage, std::vector<platform::host::CatalogueEntry>* entries,
                        platform::host::CatalogueObserver* observer = nullptr);
// A SHA-256 digest of every catalogued file, fed as the decoder writes it.
class EntryDigests : public platform::host::CatalogueObserver {
 public:
  void Data(size_t entry, const void* bytes, size_t count) override;
  // The digest of catalogue entry `entry` (a file with no data has the empty digest).
  std::string Of(size_t entry);

 private:
  std::vector<std::unique_ptr<Sha256>> digests_;
  std::vector<std::string> finished_;
};
// Every problem of the stream, each with the byte offset it concerns.
Problems StreamProblems(const Sea& sea, const Reading& reading, const Codepage& codepage);
// Frees the nodes of a clean-up list without deleting anything.
void ForgetCleanupList(CleanupList* list);
