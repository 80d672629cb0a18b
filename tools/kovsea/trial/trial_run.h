// One trial of a self-extractor: its sandbox made and ended, kovsea-observer.exe started
// inside, its events read and answered (the tree read while Setup.exe is held, pictures
// taken, boxes answered on a virtual display), what the sandbox itself shows checked from
// outside (the processes left, the record's writers), and everything gathered into a report
// whose verdict says, condition by condition, whether the run was clean.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codepage.h"
#include "sandbox.h"
#include "tree_snapshot.h"
#include "trial_report.h"

namespace trial {

struct TrialOptions {
  std::filesystem::path file;          // the self-extractor, a Linux path taken exactly
  std::filesystem::path observer;      // kovsea-observer.exe; empty when none was found
  Isolation isolation = Isolation::kSandbox;
  bool headless = false;               // a virtual display even when there is one
  std::filesystem::path keep;          // keep the prefix here instead of removing it
  uint32_t timeout_s = 600;            // the whole run, message boxes included
  bool restart = false;                // perform the restart the installer asks for
  std::filesystem::path screenshots;   // a picture of every window when not empty
  std::vector<uint32_t> success_exit_codes = {0};  // Setup.exe exit codes that mean success
  Codepage codepage;                   // of the names in the file (as it was packed with)
  void (*progress)(const std::string&) = nullptr;  // the phase, as it changes
};

// Runs the trial. A trial that could not start says why in `problems` and has `started` false.
TrialReport Try(const TrialOptions& options);

}  // namespace trial
