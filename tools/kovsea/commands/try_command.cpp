// `kovsea try`: the self-extractor run as a user would run it, in a throwaway Wine prefix
// on the user's display or a virtual one, watched from inside by kovsea-observer.exe, and
// reported in the order a person reads it (or as one JSON report).
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <system_error>

#include "commands.h"
#include "json.h"
#include "report_text.h"
#include "requirements.h"
#include "trial_run.h"
#include "virtual_display.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace {

volatile int g_interrupted = 0;
bool g_show_progress = false;

void OnSignal(int) { g_interrupted = 1; }

void ShowProgress(const std::string& text) {
  if (g_show_progress) fprintf(stderr, "\r\033[Kkovsea try: %s...", text.c_str());
}

void EndProgress() {
  if (g_show_progress) fputs("\r\033[K", stderr);
}

double SecondsSince(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
}

int Refuse(const Problems& problems, bool json) {
  EndProgress();
  if (json) {
    fputs(JsonReport(false, {}, ProblemsJson(problems)).c_str(), stdout);
  } else {
    PrintErrors(problems);
  }
  return 1;
}

// A new directory for the prefix inside the cache, on the template's file system, so that
// the template's system files can be linked rather than copied.
fs::path NewSandbox(Problems* problems) {
  const fs::path sandboxes = trial::CacheDirectory() / "sandboxes";
  std::error_code error;
  fs::create_directories(sandboxes, error);
  std::string name = (sandboxes / "prefix-XXXXXX").string();
  if (mkdtemp(&name[0]) == nullptr) {
    problems->push_back({sandboxes.string(), std::nullopt, "cannot create the sandbox's directory", ""});
    return fs::path();
  }
  return name;
}

}  // namespace

int TryCommand(const TryOptions& options, const fs::path& observer) {
  timespec started;
  clock_gettime(CLOCK_MONOTONIC, &started);
  g_show_progress = !options.json && isatty(STDERR_FILENO);
  const char* own_display = getenv("DISPLAY");
  const bool virtual_display = options.headless || own_display == nullptr || own_display[0] == '\0';
  Problems problems = trial::MissingPrograms(virtual_display, !options.screenshots.empty());
  if (!problems.empty()) return Refuse(problems, options.json);
  if (observer.empty()) {
    return Refuse({{"kovsea try", std::nullopt, "no kovsea-observer.exe found beside kovsea or in ../share/kovsea",
                    "give one with KOVSEA_OBSERVER"}},
                  options.json);
  }
  std::error_code error;
  if (!fs::is_regular_file(options.file, error) || access(options.file.c_str(), R_OK) != 0) {
    return Refuse({{options.file.string(), std::nullopt, "not a readable file", ""}}, options.json);
  }
  if (!options.keep.empty() && fs::exists(options.keep, error) && !fs::is_empty(options.keep, error)) {
    return Refuse({{options.keep.string(), std::nullopt, "--keep needs a new or empty directory", ""}}, options.json);
  }

  trial::TrialReport report;
  report.file = options.file.string();
  report.timeout_s = options.timeout_s;
  ShowProgress("reading the self-extractor");
  const trial::ExpectedTree expected = trial::ReadExpectedTree(options.file);
  if (!expected.known) report.notes.push_back("kovsea cannot read the file: " + expected.problem);

  trial::WineTemplate wine_template;
  if (!wine_template.Prepare(ShowProgress, &problems)) return Refuse(problems, options.json);
  report.wine_version = wine_template.wine_version();
  report.template_made = wine_template.made();
  ShowProgress("copying the Wine template");
  const fs::path where = options.keep.empty() ? NewSandbox(&problems) : fs::absolute(options.keep);
  trial::WinePrefix prefix;
  if (where.empty() || !prefix.CreateFrom(wine_template, where, &problems)) {
    if (!where.empty() && options.keep.empty()) prefix.Remove();
    return Refuse(problems, options.json);
  }
  report.prefix = where.string();
  report.prefix_kept = !options.keep.empty();

  trial::VirtualDisplay display;
  std::string display_name = virtual_display ? std::string() : own_display;
  if (virtual_display) {
    ShowProgress("starting a virtual display");
    if (!display.Start(&problems)) {
      if (options.keep.empty()) prefix.Remove();
      return Refuse(problems, options.json);
    }
    display_name = display.name();
    report.display = "a virtual display " + display_name + " with openbox";
  } else {
    report.display = "your display " + display_name;
  }

  trial::TrialSettings settings;
  settings.sea = fs::absolute(options.file);
  settings.observer = observer;
  std::vector<std::string> variables = trial::WineVariables(where);
  variables.push_back("DISPLAY=" + display_name);
  settings.environment = trial::EnvironmentWith(variables);
  settings.display = display_name;
  settings.timeout_s = options.timeout_s;
  settings.restart = options.restart;
  settings.dismiss_boxes = virtual_display;
  settings.screenshots = options.screenshots.empty() ? fs::path() : fs::absolute(options.screenshots);
  settings.log = (where / "kovsea-try.log").string();
  settings.progress = ShowProgress;
  settings.interrupted = &g_interrupted;
  std::string box_pictures;
  if (settings.screenshots.empty()) {
    box_pictures = options.keep.empty() ? (fs::temp_directory_path(error) / "kovsea-try-XXXXXX").string()
                                        : (where / "screenshots").string();
    if (options.keep.empty() && mkdtemp(&box_pictures[0]) == nullptr) box_pictures.clear();
    settings.box_pictures = box_pictures;
  }
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  trial::RunTrial(settings, expected, &report);

  ShowProgress("ending the sandbox");
  prefix.EndSession();
  display.Stop();
  std::string changed;
  if (!prefix.TemplateIntact(wine_template, &changed)) {
    report.notes.push_back("a program wrote into the Wine template's " + changed +
                           " in place; the template was removed and is made again next time");
  }
  if (options.keep.empty()) prefix.Remove();
  if (options.keep.empty() && !box_pictures.empty()) fs::remove(box_pictures, error);  // only when empty
  bool dismissed = false;
  for (const trial::TrialRun& run : report.runs) dismissed = dismissed || !run.boxes.empty();
  if (settings.dismiss_boxes && dismissed) {
    report.notes.push_back("message boxes were dismissed with their default button: nobody can answer them on a "
                           "virtual display");
  }
  report.total_seconds = SecondsSince(started);
  report.problems = trial::Verdict(report);
  EndProgress();
  fputs((options.json ? trial::ReportJson(report) : trial::ReportText(report)).c_str(), stdout);
  return report.problems.empty() ? 0 : 1;
}
