// `kovsea extract`: the files of a self-extractor written into a directory, nothing run.
#include <signal.h>
#include <stdio.h>

#include <atomic>

#include "commands.h"
#include "extraction.h"

namespace fs = std::filesystem;

namespace {

// The signal that asked the run to stop (SIGINT from Ctrl+C, SIGTERM from kill or a service
// manager); the handler only notes it, and the extraction undoes itself at its next step.
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void NoteStopSignal(int signal_number) { g_stop_signal.store(signal_number); }

// The handlers, for as long as the run lasts.
class StopSignals {
 public:
  StopSignals() : interrupt_(signal(SIGINT, NoteStopSignal)), terminate_(signal(SIGTERM, NoteStopSignal)) {}
  ~StopSignals() {
    signal(SIGINT, interrupt_);
    signal(SIGTERM, terminate_);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  void (*interrupt_)(int);
  void (*terminate_)(int);
};

}  // namespace

int ExtractCommand(const fs::path& path, const fs::path& out_dir, bool force, const Codepage& codepage) {
  Sea sea;
  Problems problems;
  Extracted extracted;
  bool ok;
  {
    StopSignals signals;
    ok = OpenUsableSea(path, &sea, &problems) &&
         ExtractSea(&sea, out_dir, force, codepage, &extracted, &problems, &g_stop_signal);
  }
  if (!ok) {
    PrintErrors(problems);
    // Ended by the signal once the clean-up is done, as whoever sent it expects.
    if (extracted.stopped_by != 0) raise(extracted.stopped_by);
    return 1;
  }
  printf("extracted %lu entries and %lu side files into %s\n", static_cast<unsigned long>(extracted.entries),
         static_cast<unsigned long>(extracted.side_files), out_dir.string().c_str());
  return 0;
}
