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

std::string ExitCodes(const std::vector<uint32_t>& codes) {
  std::string text;
  for (uint32_t code : codes) text += (text.empty() ? "" : ", ") + std::to_string(code);
  return text;
}

std::vector<Condition> Conditions(const TrialReport& report) {
  std::vector<Condition> conditions;
  conditions.reserve(16);  // the references below stay valid
  auto add = [&](const char* name) -> Condition& {
    conditions.push_back({name, {}});
    return conditions.back();
  };
  Condition& in_time = add("ended-in-time");
  if (report.timed_out) {
    std::string what = "timed out after " + std::to_string(report.timeout_s) + " s";
    if (!report.running_at_timeout.empty()) {
      const RunningProcess& p = report.running_at_timeout.front();
      what += "; still running: " + p.process;
      if (!p.windows.empty()) what += " with window " + p.windows.front();
    }
    in_time.reasons.push_back(Reason(report, what, "see what the installer waits for, or give it longer with --timeout"));
  }
  for (const std::string& note : report.notes) {
    if (note.rfind("interrupted", 0) == 0 || note.rfind("the observer", 0) == 0 || note.rfind("wine could", 0) == 0) {
      in_time.reasons.push_back(Reason(report, note));
    }
  }
  // The record itself: ended as the observer ends it, and written by nobody else.
  Condition& record = add("record-whole");
  for (const ForeignRecordWrite& w : report.foreign_writes) {
    record.reasons.push_back(Reason(report, "another process wrote into the observer's record: " + w.process,
                                    "the installer tried to forge the trial's report; do not trust this file"));
  }
  if (!report.record_whole && report.started) {
    record.reasons.push_back(Reason(report, "the observer's record ended before the observer did"));
  }
  Condition& ran = add("stub-ran");
  if (report.runs.empty()) {
    ran.reasons.push_back(Reason(report, "the self-extractor never ran"));
    return conditions;
  }
  Condition& boxes = add("no-message-box");
  Condition& setup = add("setup-started");
  Condition& tree = add("tree-as-listed");
  Condition& crashes = add("no-crash");
  Condition& left = add("nothing-left");
  Condition& exit_code = add("setup-exit-code");
  Condition& stub_end = add("stub-ended");
  Condition& outlived = add("no-process-outlived-the-stub");
  for (const TrialRun& run : report.runs) {
    const std::string in_run = report.runs.size() > 1 ? " (run " + std::to_string(run.number) + ")" : "";
    // A box says why in its own words: it comes before what it explains.
    for (const MessageBox& box : run.boxes) {
      boxes.reasons.push_back(Reason(report, std::string(box.from_stub ? "the stub showed an error box" : "a message box appeared") +
                                                 in_run + ": " + Quoted(box.caption) + ": " + box.text));
    }
    if (!run.setup_ms) setup.reasons.push_back(Reason(report, "Setup.exe never started" + in_run));
    if (run.setup_ms && !run.tree_problem.empty()) {
      tree.reasons.push_back(Reason(report, "the tree Setup.exe found was not compared" + in_run + ": " + run.tree_problem));
    }
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
      tree.reasons.push_back(Reason(report, std::to_string(differing) + " entries Setup.exe found were not as `kovsea list` shows them" +
                                                in_run + ": " + first));
    }
    for (const std::string& crash : run.crashes) crashes.reasons.push_back(Reason(report, crash + in_run));
    if (!run.left.empty()) {
      const LeftEntry& e = run.left.front();
      const std::string fix = run.still_running.empty()
                                  ? std::string()
                                  : "still running when the stub ended: " + run.still_running.front().process + " " +
                                        run.still_running.front().command_line;
      left.reasons.push_back(Reason(report,
                                    std::to_string(run.left.size()) + " entries were left under the temporary directory" +
                                        in_run + ", first " + e.path +
                                        (e.deleted_at_restart ? " (to be deleted at the next restart)" : ""),
                                    fix));
    }
    if (run.setup_ms) {
      if (run.setup_ended_by_try) {
        exit_code.reasons.push_back(Reason(report, "Setup.exe was ended by kovsea try at the timeout" + in_run));
      } else if (!run.setup_exit_code) {
        exit_code.reasons.push_back(Reason(report, "Setup.exe's exit code is unknown" + in_run));
      } else {
        bool success = false;
        for (uint32_t code : report.success_exit_codes) success = success || code == *run.setup_exit_code;
        if (!success) {
          exit_code.reasons.push_back(Reason(report, "Setup.exe exited with " + std::to_string(*run.setup_exit_code) + in_run,
                                             "codes taken as success: " + ExitCodes(report.success_exit_codes) +
                                                 " (--success-exit adds more)"));
        }
      }
    }
    if (!run.stub_exit_code) {
      stub_end.reasons.push_back(Reason(report, (run.stub_ended_by_try ? "the stub was ended by kovsea try at the timeout"
                                                                       : "the stub did not end by itself") + in_run));
    }
    std::vector<RunningProcess> after = run.still_running;
    after.insert(after.end(), run.outlived.begin(), run.outlived.end());
    if (!after.empty()) {
      outlived.reasons.push_back(Reason(report, std::to_string(after.size()) +
                                                    (after.size() == 1 ? " process" : " processes") + " outlived the stub" + in_run +
                                                    ", first " + after.front().process + " " + after.front().command_line));
    }
  }
  return conditions;
}

Problems Verdict(const TrialReport& report) {
  Problems reasons;
  for (const Condition& c : Conditions(report)) reasons.insert(reasons.end(), c.reasons.begin(), c.reasons.end());
  return reasons;
}

}  // namespace trial
