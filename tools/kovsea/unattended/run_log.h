// The record of an install that a deployment system collects: one line per step, each with a
// UTC timestamp, appended to a file and, when asked, written to the standard error stream.
#pragma once

#include <stdio.h>

#include <chrono>
#include <string>

class RunLog {
 public:
  RunLog() = default;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
  ~RunLog();
  // Appends to `path` (no file when empty) and mirrors each line on stderr with `verbose`;
  // false when the file cannot be opened for appending.
  bool Open(const std::string& path, bool verbose);
  // "2025-01-31T12:00:00.250Z TEXT", written out at once; on stderr too with `verbose`, or
  // when `on_stderr` asks for it whatever the verbosity (once either way).
  void Line(const std::string& text, bool on_stderr = false);

 private:
  FILE* file_ = nullptr;
  bool verbose_ = false;
};

// `at` as an ISO 8601 UTC timestamp with milliseconds.
std::string Timestamp(std::chrono::system_clock::time_point at);
