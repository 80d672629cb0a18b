#include <stdio.h>

#include "json.h"
#include "report_text.h"

namespace trial {
namespace {

std::string Seconds(uint32_t ms) {
  char buffer[32];
  snprintf(buffer, sizeof buffer, "%.3f", ms / 1000.0);
  return buffer;
}
std::string Seconds(const std::optional<uint32_t>& ms) { return ms ? Seconds(*ms) : "null"; }
std::string Number(const std::optional<uint64_t>& n) { return n ? JsonNumber(*n) : "null"; }
std::string Number(const std::optional<uint32_t>& n) { return n ? JsonNumber(*n) : "null"; }
std::string StringOrNull(const std::string& s) { return s.empty() ? "null" : JsonString(s); }

std::string Strings(const std::vector<std::string>& items) {
  std::vector<std::string> out;
  for (const std::string& s : items) out.push_back(JsonString(s));
  return JsonArray(out);
}

std::string Tree(const TrialRun& run) {
  std::vector<std::string> rows;
  for (const TreeRow& r : run.tree) {
    rows.push_back(JsonObject({{"type", JsonString(r.is_directory ? "directory" : "file")},
                               {"name", JsonString(r.name)},
                               {"size", Number(r.size)},
                               {"sha256", StringOrNull(r.sha256)},
                               {"listed", JsonString(ListedName(r.listed))},
                               {"listed_size", Number(r.listed_size)},
                               {"listed_sha256", StringOrNull(r.listed_sha256)}}));
  }
  return JsonArray(rows);
}

std::string SideFiles(const TrialRun& run) {
  std::vector<std::string> rows;
  for (const SideFileRow& r : run.side_files) {
    rows.push_back(JsonObject({{"key", JsonString(r.key)},
                               {"name", JsonString(r.name)},
                               {"carried", JsonBool(r.carried)},
                               {"size", Number(r.size)},
                               {"sha256", StringOrNull(r.sha256)},
                               {"listed", JsonString(ListedName(r.listed))}}));
  }
  return JsonArray(rows);
}

std::string Boxes(const TrialRun& run) {
  std::vector<std::string> rows;
  for (const MessageBox& b : run.boxes) {
    rows.push_back(JsonObject({{"seconds", Seconds(b.at_ms)},
                               {"process", JsonString(b.process)},
                               {"from_stub", JsonBool(b.from_stub)},
                               {"caption", JsonString(b.caption)},
                               {"text", JsonString(b.text)},
                               {"buttons", JsonString(b.buttons)},
                               {"answer", JsonString(b.answer)},
                               {"screenshot", StringOrNull(b.screenshot)}}));
  }
  return JsonArray(rows);
}

std::string Windows(const TrialRun& run) {
  std::vector<std::string> rows;
  for (const SeenWindow& w : run.windows) {
    rows.push_back(JsonObject({{"seconds", Seconds(w.at_ms)},
                               {"process", JsonString(w.process)},
                               {"class", JsonString(w.window_class)},
                               {"title", JsonString(w.title)},
                               {"screenshot", StringOrNull(w.screenshot)}}));
  }
  return JsonArray(rows);
}

std::string EngineWindows(const TrialRun& run) {
  std::vector<std::string> rows;
  for (const EngineWindow& w : run.engine_windows) {
    rows.push_back(JsonObject({{"class", JsonString(w.window_class)},
                               {"process", JsonString(w.process)},
                               {"seconds", Seconds(w.created_ms)},
                               {"ended_seconds", Seconds(w.ended_ms)}}));
  }
  return JsonArray(rows);
}

std::string Left(const std::vector<LeftEntry>& left) {
  std::vector<std::string> rows;
  for (const LeftEntry& e : left) {
    rows.push_back(JsonObject({{"path", JsonString(e.path)},
                               {"type", JsonString(e.is_directory ? "directory" : "file")},
                               {"size", e.is_directory ? "null" : JsonNumber(e.size)},
                               {"deleted_at_restart", JsonBool(e.deleted_at_restart)}}));
  }
  return JsonArray(rows);
}

std::string Registry(const RegistryState& state) {
  if (!state.known) return "null";
  std::vector<std::string> values;
  for (const RegistryValue& v : state.values) {
    values.push_back(JsonObject({{"where", JsonString(v.where)},
                                 {"name", JsonString(v.name)},
                                 {"type", JsonString(v.type)},
                                 {"data", JsonString(v.data)}}));
  }
  return JsonObject({{"product_key", JsonBool(state.product_key)}, {"values", JsonArray(values)}});
}

std::string Restarts(const TrialRun& run) {
  std::vector<std::string> rows;
  for (const RestartRequest& r : run.restarts) {
    rows.push_back(JsonObject({{"asked_by", JsonString(r.performed ? "kovsea try" : r.asked_by)},
                               {"command_line", JsonString(r.command_line)},
                               {"performed", JsonBool(r.performed)}}));
  }
  return JsonArray(rows);
}

std::string Running(const std::vector<RunningProcess>& processes) {
  std::vector<std::string> rows;
  for (const RunningProcess& p : processes) {
    rows.push_back(JsonObject({{"process", JsonString(p.process)},
                               {"command_line", JsonString(p.command_line)},
                               {"windows", Strings(p.windows)}}));
  }
  return JsonArray(rows);
}

std::string Run(const TrialRun& run) {
  return JsonObject({{"number", JsonNumber(static_cast<uint64_t>(run.number))},
                     {"started_by", JsonString(run.started_by)},
                     {"dialog_appeared", JsonBool(run.dialog_appeared)},
                     {"dialog_seconds", Seconds(run.dialog_ms)},
                     {"setup_seconds", Seconds(run.setup_ms)},
                     {"extraction_root", StringOrNull(run.extraction_root)},
                     {"tree_problem", StringOrNull(run.tree_problem)},
                     {"tree", Tree(run)},
                     {"side_files", SideFiles(run)},
                     {"message_boxes", Boxes(run)},
                     {"windows", Windows(run)},
                     {"setup_exit_code", Number(run.setup_exit_code)},
                     {"setup_ended_by_try", JsonBool(run.setup_ended_by_try)},
                     {"engine_wait_seconds", Seconds(run.engine_wait_ms)},
                     {"engine_windows", EngineWindows(run)},
                     {"left", Left(run.left)},
                     {"registry", JsonObject({{"installer", Registry(run.installer_registry)},
                                              {"after", Registry(run.registry)}})},
                     {"restarts", Restarts(run)},
                     {"stub_exit_code", Number(run.stub_exit_code)},
                     {"stub_ended_by_try", JsonBool(run.stub_ended_by_try)},
                     {"stub_seconds", Seconds(run.stub_ms)},
                     {"still_running", Running(run.still_running)},
                     {"outlived", Running(run.outlived)},
                     {"crashes", Strings(run.crashes)}});
}

}  // namespace

std::string ReportJson(const TrialReport& report) {
  std::vector<std::string> runs;
  for (const TrialRun& run : report.runs) runs.push_back(Run(run));
  std::vector<JsonField> conditions;
  for (const Condition& c : Conditions(report)) conditions.push_back({c.name, JsonBool(c.reasons.empty())});
  std::vector<std::string> foreign;
  for (const ForeignRecordWrite& w : report.foreign_writes) {
    foreign.push_back(JsonObject({{"process", JsonString(w.process)}, {"text", JsonString(w.text)}}));
  }
  char total[32];
  snprintf(total, sizeof total, "%.3f", report.total_seconds);
  return JsonReport(report.problems.empty(),
                    {{"file", JsonString(report.file)},
                     {"isolation", JsonObject({{"isolated", JsonBool(report.isolated)},
                                               {"how", JsonString(report.isolation)}})},
                     {"conditions", JsonObject(conditions)},
                     {"forged_record", JsonArray(foreign)},
                     {"display", JsonString(report.display)},
                     {"wine", JsonString(report.wine_version)},
                     {"prefix", JsonObject({{"path", JsonString(report.prefix)},
                                            {"kept", JsonBool(report.prefix_kept)},
                                            {"template_made", JsonBool(report.template_made)}})},
                     {"temp_directory", StringOrNull(report.temp_directory)},
                     {"runs", JsonArray(runs)},
                     {"restart_performed", JsonBool(report.restart_performed)},
                     {"left_after_restart", Left(report.left_after_restart)},
                     {"timeout_seconds", JsonNumber(report.timeout_s)},
                     {"timed_out", JsonBool(report.timed_out)},
                     {"running_at_timeout", Running(report.running_at_timeout)},
                     {"total_seconds", total},
                     {"notes", Strings(report.notes)}},
                    ProblemsJson(report.problems));
}

}  // namespace trial
