// A one-line progress display on stderr for long packs and extractions; silent when stderr
// is not a terminal or the work is small.
#pragma once

#include <stdint.h>

#include <string>

class ProgressMeter {
 public:
  ProgressMeter(const std::string& label, uint64_t total);
  ~ProgressMeter();
  // Shows `percent` (0..100) if it changed.
  void Show(int percent);
  void Finish();
  bool enabled() const { return enabled_; }

 private:
  std::string label_;
  bool enabled_;
  int shown_ = -1;
};
