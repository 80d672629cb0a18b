#include "progress_meter.h"

#include <stdio.h>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace {
constexpr uint64_t kWorthShowing = 16u << 20;  // 16 MiB
constexpr int kBarWidth = 40;
}  // namespace

ProgressMeter::ProgressMeter(const std::string& label, uint64_t total)
    : label_(label), enabled_(total >= kWorthShowing && isatty(2)) {}

ProgressMeter::~ProgressMeter() { Finish(); }

void ProgressMeter::Show(int percent) {
  if (!enabled_ || percent == shown_) return;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  shown_ = percent;
  const int filled = percent * kBarWidth / 100;
  fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label_.c_str(), filled,
          "########################################", kBarWidth - filled, "", percent);
  fflush(stderr);
}

void ProgressMeter::Finish() {
  if (!enabled_ || shown_ < 0) return;
  Show(100);
  fputc('\n', stderr);
  enabled_ = false;
}
