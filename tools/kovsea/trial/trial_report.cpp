#include "trial_report.h"

namespace trial {
namespace {

Problem Reason(const TrialReport& report, const std::string& what, const std::string& fix = std::string()) {
  return Problem{report.file, std::nullopt, what, fix};
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

const char* ListedName(Listed listed) {
  switch (listed) {
    case Listed::kSame: return "same";
    case Listed::kDifferent: return "different";
    case Listed::kMissing: return "missing";
    case Listed::kNotListed: return "not listed";
  }
  return "same";
}

const RegistryValue* RegistryState::Find(const std::string& where, const std::string& name) const {
  for (const RegistryValue& v : values) {
    if (v.where == where && (name.empty() || v.name == name)) return &v;
  }
  return nullptr;
}

Problems Verdict(const TrialReport& report) {
  Problems reasons;
  if (report.timed_out) {
    std::string what = "timed out after " + std::to_string(report.timeout_s) + " s";
    if (!report.running_at_timeout.empty()) {
      const RunningProcess& p = report.running_at_timeout.front();
      what += "; still running: " + p.process;
      if (!p.windows.empty()) what += " with window " + p.windows.front();
    }
    reasons.push_back(Reason(report, what, "see what the installer waits for, or give it longer with --timeout"));
  }
  for (const std::string& note : report.notes) {
    if (note.rfind("interrupted", 0) == 0 || note.rfind("the observer", 0) == 0 || note.rfind("wine could", 0) == 0) {
      reasons.push_back(Reason(report, note));
    }
  }
  if (report.runs.empty()) {
    reasons.push_back(Reason(report, "the self-extractor never ran"));
    return reasons;
  }
  for (const TrialRun& run : report.runs) {
    const std::string in_run = report.runs.size() > 1 ? " (run " + std::to_string(run.number) + ")" : "";
    // A box says why in its own words: it comes before what it explains.
    for (const MessageBox& box : run.boxes) {
      reasons.push_back(Reason(report, std::string(box.from_stub ? "the stub showed an error box" : "a message box appeared") +
                                           in_run + ": " + Quoted(box.caption) + ": " + box.text));
    }
    if (!run.setup_ms) reasons.push_back(Reason(report, "Setup.exe never started" + in_run));
    int differing = 0;
    std::string first;
    for (const TreeRow& row : run.tree) {
      if (row.listed == Listed::kSame) continue;
      if (differing++ == 0) first = row.name + " is " + ListedName(row.listed);
    }
    for (const SideFileRow& row : run.side_files) {
      if (row.listed == Listed::kSame) continue;
      if (differing++ == 0) first = "side file " + row.name + " is " + ListedName(row.listed);
    }
    if (differing > 0) {
      reasons.push_back(Reason(report, std::to_string(differing) + " entries Setup.exe found were not as `kovsea list` shows them" +
                                           in_run + ": " + first));
    }
    for (const std::string& crash : run.crashes) reasons.push_back(Reason(report, crash + in_run));
    if (!run.left.empty()) {
      const LeftEntry& e = run.left.front();
      const std::string fix = run.still_running.empty()
                                  ? std::string()
                                  : "still running when the stub ended: " + run.still_running.front().process + " " +
                                        run.still_running.front().command_line;
      reasons.push_back(Reason(report,
                               std::to_string(run.left.size()) + " entries were left under the temporary directory" +
                                   in_run + ", first " + e.path +
                                   (e.deleted_at_restart ? " (to be deleted at the next restart)" : ""),
                               fix));
    }
  }
  return reasons;
}

}  // namespace trial
