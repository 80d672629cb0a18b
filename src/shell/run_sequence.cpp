#include "run_sequence.h"

#include "restart.h"

int32_t RunExtraction(platform::Window owner, RunOutcome* outcome) {
  return platform::RunProgressDialog(owner, ExtractArchive, outcome, 0, nullptr, nullptr, nullptr, 0);
}

int RunStub(platform::Window hidden_owner_window) {
  // The outcome does not matter here: the restart step runs after success, failure and
  // cancellation alike.
  RunOutcome outcome = {false};
  RunExtraction(hidden_owner_window, &outcome);
  RestartStep(outcome.request_reset);
  return 1;
}
