#include "run_log.h"

#include <time.h>

RunLog::~RunLog() {
  if (file_ != nullptr) fclose(file_);
}

bool RunLog::Open(const std::string& path, bool verbose) {
  verbose_ = verbose;
  if (path.empty()) return true;
  file_ = fopen(path.c_str(), "ab");
  return file_ != nullptr;
}

void RunLog::Line(const std::string& text, bool on_stderr) {
  const std::string line = Timestamp(std::chrono::system_clock::now()) + " " + text + "\n";
  // Written out at once: the deployment system may end the process, and a timeout ends it
  // while the installer still runs.
  if (file_ != nullptr) {
    fputs(line.c_str(), file_);
    fflush(file_);
  }
  if (verbose_ || on_stderr) {
    fputs(line.c_str(), stderr);
    fflush(stderr);
  }
}

std::string Timestamp(std::chrono::system_clock::time_point at) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  const auto since_epoch = duration_cast<milliseconds>(at.time_since_epoch()).count();
  const time_t seconds = static_cast<time_t>(since_epoch / 1000);
  struct tm utc;
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char out[40];
  snprintf(out, sizeof out, "%s.%03dZ", text, static_cast<int>(since_epoch % 1000));
  return out;
}
