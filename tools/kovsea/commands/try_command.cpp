// `kovsea try`: the self-extractor run as a user would run it, in a sandbox of its own with a
// throwaway Wine prefix, and reported in the order a person reads it (or as one JSON report).
// The trial itself is the trial library's; this maps the options and prints.
#include <stdio.h>
#include <unistd.h>

#include "commands.h"
#include "json.h"
#include "report_text.h"
#include "trial_run.h"

namespace {

bool g_terminal = false;
bool g_quiet = false;
long long g_started_ms = 0;

// The phase on stderr: rewritten in place on a terminal, one line each in a log; nothing
// beside a JSON report outside a terminal, where stderr is often read with it.
void ShowProgress(const std::string& text) {
  if (g_quiet) return;
  if (g_terminal) {
    fprintf(stderr, "\r\033[Kkovsea try: %s...", text.c_str());
  } else {
    fprintf(stderr, "kovsea try: %s (%.0f s)\n", text.c_str(), (trial::MonotonicMs() - g_started_ms) / 1000.0);
  }
}

}  // namespace

int TryCommand(const TryOptions& options, const std::filesystem::path& observer) {
  g_terminal = isatty(STDERR_FILENO) != 0;
  g_quiet = options.json && !g_terminal;
  g_started_ms = trial::MonotonicMs();
  trial::TrialOptions trial_options;
  trial_options.file = options.file;
  trial_options.observer = observer;
  trial_options.isolation = options.no_isolation ? trial::Isolation::kNone : trial::Isolation::kSandbox;
  trial_options.headless = options.headless;
  trial_options.keep = options.keep;
  trial_options.timeout_s = options.timeout_s;
  trial_options.restart = options.restart;
  trial_options.screenshots = options.screenshots;
  trial_options.success_exit_codes = {0};
  for (uint32_t code : options.success_exit_codes) {
    if (code != 0) trial_options.success_exit_codes.push_back(code);
  }
  trial_options.codepage = options.codepage;
  trial_options.progress = ShowProgress;
  const trial::TrialReport report = trial::Try(trial_options);
  if (g_terminal) fputs("\r\033[K", stderr);
  if (!report.started) {
    if (options.json) {
      fputs(JsonReport(false, {}, ProblemsJson(report.problems)).c_str(), stdout);
    } else {
      PrintErrors(report.problems);
    }
    return 1;
  }
  fputs((options.json ? trial::ReportJson(report) : trial::ReportText(report)).c_str(), stdout);
  return report.problems.empty() ? 0 : 1;
}
