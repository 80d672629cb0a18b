#include "shell/run_sequence.h"

#include "archive/extraction_worker.h"
#include "handoff/restart.h"
#include "progress/progress_record.h"

namespace {

// The user data handed to the worker; it does not use it.
struct RunExtractionData {
  int32_t unused;
};

}  // namespace

int32_t RunExtraction(platform::Window owner) {
  RunExtractionData data = {0};
  return RunProgressDialog(owner, ExtractArchive, &data, 0, nullptr, nullptr, nullptr, 0);
}

int RunStub(platform::Window hidden_owner_window) {
  // The outcome does not matter here: the restart step runs after success, failure and
  // cancellation alike.
  RunExtraction(hidden_owner_window);
  RestartStep();
  return 1;
}
