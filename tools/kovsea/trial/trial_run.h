// One trial: the observer started in the prepared prefix on the chosen display, its events
// read and answered (the tree read while Setup.exe is held, pictures taken, boxes answered
// on a virtual display), and what it reported gathered into the report.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>

#include "child_process.h"
#include "tree_snapshot.h"
#include "trial_report.h"

namespace trial {

struct TrialSettings {
  std::filesystem::path sea;       // the self-extractor, a Linux path
  std::filesystem::path observer;  // kovsea-observer.exe
  Environment environment;         // Wine's variables and DISPLAY
  std::string display;
  uint32_t timeout_s = 600;
  bool restart = false;
  bool dismiss_boxes = false;              // nobody can answer them on a virtual display
  std::filesystem::path screenshots;       // a picture of every window when not empty
  std::filesystem::path box_pictures;      // where boxes' pictures go otherwise (made when needed)
  std::string log;                         // what Wine printed
  void (*progress)(const std::string&) = nullptr;
  volatile int* interrupted = nullptr;     // set by a signal: end the trial now
};

// Runs the trial and fills the report's runs (and its timeout, restart and notes).
void RunTrial(const TrialSettings& settings, const ExpectedTree& expected, TrialReport* report);

}  // namespace trial
