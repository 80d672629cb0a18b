#include <stdio.h>

#include "report_text.h"

namespace trial {
namespace {

std::string Seconds(uint32_t ms) {
  char buffer[32];
  snprintf(buffer, sizeof buffer, "%.2f s", ms / 1000.0);
  return buffer;
}

void Line(std::string* out, const std::string& label, const std::string& text) {
  char head[40];
  snprintf(head, sizeof head, "  %-20s", label.c_str());
  *out += head + text + "\n";
}

std::string Registry(const RegistryState& state) {
  if (!state.known) return "not read";
  std::string text;
  if (!state.product_key) text = "product key absent";
  for (const RegistryValue& v : state.values) {
    if (v.where == "pending") continue;
    if (!text.empty()) text += "; ";
    text += (v.where == "product" ? "" : v.where == "runonce" ? "RunOnce " : "Run ") + ("\"" + v.name + "\"") + " = " +
            v.data;
  }
  return text.empty() ? "product key empty" : text;
}

void Tree(std::string* out, const TrialRun& run) {
  size_t same = 0;
  for (const TreeRow& row : run.tree) same += row.listed == Listed::kSame;
  std::string head = std::to_string(run.tree.size()) + " entries";
  if (run.tree_problem.empty()) {
    head += same == run.tree.size() ? ", all as `kovsea list` shows them"
                                    : ", " + std::to_string(run.tree.size() - same) + " not as `kovsea list` shows them";
  } else {
    head += ", " + run.tree_problem;
  }
  *out += "  tree Setup.exe found: " + head + "\n";
  for (const TreeRow& row : run.tree) {
    char size[24] = "-";
    if (row.size) snprintf(size, sizeof size, "%llu", static_cast<unsigned long long>(*row.size));
    std::string line = std::string("    ") + (row.is_directory ? "dir " : "file") + " " + size + "  " +
                       (row.sha256.empty() ? "-" : row.sha256) + "  " + row.name;
    if (row.listed != Listed::kSame) {
      line += "  [" + std::string(ListedName(row.listed));
      if (row.listed_size) line += "; listed " + std::to_string(*row.listed_size) + " bytes " + row.listed_sha256;
      line += "]";
    }
    *out += line + "\n";
  }
}

std::string SideFiles(const TrialRun& run) {
  std::string text;
  for (const SideFileRow& row : run.side_files) {
    if (!text.empty()) text += "; ";
    text += row.name + (row.size ? " " + std::to_string(*row.size) + " bytes " + row.sha256 : std::string()) + ", " +
            (row.listed == Listed::kSame ? "as listed" : ListedName(row.listed));
  }
  return text.empty() ? "none" : text;
}

std::string Processes(const std::vector<RunningProcess>& processes) {
  std::string text;
  for (const RunningProcess& p : processes) {
    if (!text.empty()) text += "; ";
    text += p.process + " " + p.command_line;
    for (const std::string& w : p.windows) text += ", window " + w;
  }
  return text;
}

// The topmost entries left, each with what lies below it (the JSON report lists every one).
std::string Left(const std::vector<LeftEntry>& left) {
  if (left.empty()) return "nothing";
  std::string text;
  for (size_t i = 0; i < left.size(); ++i) {
    const LeftEntry& top = left[i];
    size_t below = 0;
    uint64_t bytes = top.size;
    bool all_deleted = top.deleted_at_restart;
    while (i + 1 < left.size() && left[i + 1].path.rfind(top.path + "\\", 0) == 0) {
      ++i;
      ++below;
      bytes += left[i].size;
      all_deleted = all_deleted && left[i].deleted_at_restart;
    }
    if (!text.empty()) text += "; ";
    text += top.path + (top.is_directory ? "\\ (" + std::to_string(below) + " entries, " : " (") +
            std::to_string(bytes) + " bytes)" + (all_deleted ? ", to be deleted at the next restart" : "");
  }
  return text;
}

void Run(std::string* out, const TrialReport& report, const TrialRun& run) {
  *out += "run " + std::to_string(run.number) + ", started by " + run.started_by + "\n";
  std::string dialog = run.dialog_appeared ? "appeared after " + Seconds(*run.dialog_ms) : "never seen";
  dialog += run.setup_ms ? "; Setup.exe started after " + Seconds(*run.setup_ms) : "; Setup.exe never started";
  Line(out, "progress dialog", dialog);
  Line(out, "extraction root", run.extraction_root.empty() ? "-" : run.extraction_root);
  if (run.setup_ms) {
    Tree(out, run);
    Line(out, "side files", SideFiles(run));
  }
  if (run.boxes.empty()) Line(out, "message boxes", "none");
  for (const MessageBox& b : run.boxes) {
    Line(out, "message box", "\"" + b.caption + "\": " + b.text + " [" + b.buttons + "] from " + b.process + " after " +
                                 Seconds(b.at_ms) + ", " + b.answer +
                                 (b.screenshot.empty() ? ", no picture" : ", picture " + b.screenshot));
  }
  Line(out, "Setup.exe exit code", run.setup_exit_code    ? std::to_string(*run.setup_exit_code)
                                   : run.setup_ended_by_try ? "none: ended by kovsea try at the timeout"
                                                            : "-");
  std::string engine = run.engine_wait_ms ? "the stub waited " + Seconds(*run.engine_wait_ms) : "-";
  for (const EngineWindow& w : run.engine_windows) engine += ", for " + w.window_class + " of " + w.process;
  if (run.engine_wait_ms && run.engine_windows.empty()) engine += " (no installer-engine window)";
  Line(out, "installer engine", engine);
  Line(out, "left in temp", Left(run.left));
  Line(out, "registry", "installer left " + Registry(run.installer_registry) + "; after the stub " + Registry(run.registry));
  std::string restart;
  for (const RestartRequest& r : run.restarts) {
    if (!restart.empty()) restart += "; ";
    restart += r.performed ? "performed by kovsea try (" + r.command_line + ")"
                           : "asked by " + r.asked_by + " (" + r.command_line + "), not performed" +
                                 (report.restart_performed ? "" : " (--restart performs it)");
  }
  Line(out, "restart", restart.empty() ? "not asked for" : restart);
  Line(out, "stub", run.stub_exit_code ? "exit code " + std::to_string(*run.stub_exit_code) + " after " + Seconds(*run.stub_ms)
                                       : run.stub_ended_by_try ? "ended by kovsea try at the timeout"
                                                               : "did not end by itself");
  if (!run.still_running.empty()) Line(out, "outlived the stub", Processes(run.still_running) + " (ended)");
  if (!run.outlived.empty()) Line(out, "outlived the stub", Processes(run.outlived) + " (ended with the sandbox)");
  for (const std::string& crash : run.crashes) Line(out, "crash", crash);
  for (const SeenWindow& w : run.windows) {
    if (!w.screenshot.empty()) Line(out, "picture", w.window_class + " \"" + w.title + "\": " + w.screenshot);
  }
}

}  // namespace

std::string ReportText(const TrialReport& report) {
  std::string out;
  if (!report.isolated) out += "kovsea try: NOT ISOLATED: the installer ran as you, with your files, network and processes\n";
  if (report.problems.empty()) {
    out += "kovsea try: OK: Setup.exe ran, no message box appeared and nothing was left\n";
  } else {
    out += "kovsea try: FAILED: " + report.problems.front().what + "\n";
    for (size_t i = 1; i < report.problems.size(); ++i) out += "  and: " + report.problems[i].what + "\n";
  }
  out += report.file + " in a throwaway Wine prefix (" + report.wine_version + ") on " + report.display + "\n";
  Line(&out, "isolation", report.isolation);
  for (const TrialRun& run : report.runs) Run(&out, report, run);
  if (report.restart_performed) Line(&out, "after the restart", "left in temp: " + Left(report.left_after_restart));
  if (report.timed_out) {
    Line(&out, "timed out", "after " + std::to_string(report.timeout_s) + " s; still running: " +
                                (report.running_at_timeout.empty() ? "nothing" : Processes(report.running_at_timeout)));
  }
  char total[64];
  snprintf(total, sizeof total, "%.1f s", report.total_seconds);
  Line(&out, "total", std::string(total) + (report.template_made ? ", the Wine template made first" : ""));
  Line(&out, "prefix", report.prefix + (report.prefix_kept ? " (kept)" : " (removed)"));
  for (const ForeignRecordWrite& w : report.foreign_writes) Line(&out, "forged record", w.process + " wrote \"" + w.text + "\"");
  for (const std::string& note : report.notes) Line(&out, "note", note);
  return out;
}

}  // namespace trial
