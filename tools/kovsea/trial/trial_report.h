// What a trial found, in the order `kovsea try` reports it: for each run of the
// self-extractor (a second one when a restart ran it again), the dialog, the extraction
// root and the tree Setup.exe found there, the side files, the message boxes, Setup.exe's
// exit code, the wait for the installer engine, what was left, the registry and the
// restart, and the stub's own exit code and time. Times are milliseconds on the observer's
// clock, from the start of the run they belong to, without the moments the trial held the
// installer still to read its tree or take a picture.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "problem.h"

namespace trial {

// How a file Setup.exe found compares with the self-extractor's catalogue.
enum class Listed { kSame, kDifferent, kMissing, kNotListed };
const char* ListedName(Listed listed);  // "same", "different", "missing", "not listed"

struct TreeRow {
  std::string name;  // relative to the extraction root, backslashes, UTF-8
  bool is_directory = false;
  std::optional<uint64_t> size;  // as found; absent when missing or a directory
  std::string sha256;            // as found
  Listed listed = Listed::kSame;
  std::optional<uint64_t> listed_size;  // as the catalogue has it, when different
  std::string listed_sha256;
};

struct SideFileRow {
  std::string key;   // admin, client, net, setup
  std::string name;  // Disk1\KOVadmin.dat
  bool carried = false;  // the trailer holds it
  std::optional<uint64_t> size;
  std::string sha256;
  Listed listed = Listed::kSame;  // kNotListed: on disk though the trailer has none
};

struct MessageBox {
  uint32_t at_ms = 0;
  std::string process;  // image name and pid
  bool from_stub = false;
  std::string caption, text, buttons;
  std::string screenshot;  // empty when none was taken
  std::string answer;      // "dismissed with its default button", "answered", "still open"
  std::string hwnd;
};

struct SeenWindow {
  uint32_t at_ms = 0;
  std::string process, window_class, title;
  std::string screenshot;
};

struct EngineWindow {
  std::string window_class;
  std::string process;
  uint32_t pid = 0;
  uint32_t created_ms = 0;
  std::optional<uint32_t> ended_ms;  // the owner's end
};

struct RegistryValue {
  std::string where;  // product, run, runonce, pending
  std::string name, type, data;
};

struct RegistryState {
  bool known = false;
  bool product_key = true;
  std::vector<RegistryValue> values;
  const RegistryValue* Find(const std::string& where, const std::string& name = std::string()) const;
};

struct LeftEntry {
  std::string path;  // relative to the temporary directory
  bool is_directory = false;
  uint64_t size = 0;
  bool deleted_at_restart = false;  // the system is asked to delete it at its next start
};

struct RestartRequest {
  std::string asked_by;
  std::string command_line;
  bool performed = false;
};

struct RunningProcess {
  std::string process;
  std::string command_line;
  std::vector<std::string> windows;  // "CLASS \"TITLE\"" and whether hidden
};

struct TrialRun {
  int number = 0;
  std::string started_by;  // "kovsea try" or "the restart (RunOnce)"
  uint32_t start_ms = 0;
  uint32_t stub_pid = 0;
  bool dialog_appeared = false;
  std::optional<uint32_t> dialog_ms;
  std::optional<uint32_t> setup_ms;
  uint32_t setup_pid = 0;
  std::string extraction_root;  // Windows path, ending in a backslash
  std::string tree_problem;     // why the tree could not be read or compared
  std::vector<TreeRow> tree;
  std::vector<SideFileRow> side_files;
  std::vector<MessageBox> boxes;
  std::vector<SeenWindow> windows;
  std::optional<uint32_t> setup_exit_code;
  bool setup_ended_by_try = false;  // ended at the timeout: it has no exit code of its own
  std::optional<uint32_t> setup_end_ms;
  std::vector<EngineWindow> engine_windows;
  std::optional<uint32_t> engine_wait_ms;
  std::vector<LeftEntry> left;
  RegistryState installer_registry;  // as the installer's last process left it
  RegistryState registry;            // when the stub had ended
  std::vector<RestartRequest> restarts;
  std::optional<uint32_t> stub_exit_code;
  bool stub_ended_by_try = false;
  std::optional<uint32_t> stub_ms;
  std::vector<RunningProcess> still_running;  // when the stub ended (then ended with it)
  std::vector<RunningProcess> outlived;       // seen in the sandbox from outside at the stub's end
  std::vector<std::string> crashes;
};

// Something written into the observer's record by another process than the observer.
struct ForeignRecordWrite {
  std::string process;
  std::string text;
};

struct TrialReport {
  bool started = false;  // false: the trial was refused before anything ran (see problems)
  bool isolated = false;
  std::string isolation;  // how the run was kept from the host
  std::vector<uint32_t> success_exit_codes = {0};
  bool record_whole = false;  // the observer's record ended as the observer ends it
  std::vector<ForeignRecordWrite> foreign_writes;
  bool interrupted = false;  // a signal ended the trial
  std::string file;
  std::string display;  // "your display :0" / "a virtual display :93 with openbox"
  std::string prefix;
  bool prefix_kept = false;
  std::string wine_version;
  bool template_made = false;
  std::string temp_directory;  // Windows path
  std::vector<TrialRun> runs;
  bool restart_performed = false;
  std::vector<LeftEntry> left_after_restart;
  bool timed_out = false;
  uint32_t timeout_s = 0;
  std::vector<RunningProcess> running_at_timeout;
  RegistryState registry_at_timeout;
  double total_seconds = 0;
  std::vector<std::string> notes;  // what the trial could not see or did to the sandbox
  Problems problems;               // why the trial failed, most telling first
};

// One condition of a clean run, and why it failed (no reasons: it holds).
struct Condition {
  const char* name;  // "stub-ended", "setup-exit-code", ...
  Problems reasons;
};
// Every condition a run must meet to be OK, in the order they are reported; a trial that
// never ran stops at "stub-ran".
std::vector<Condition> Conditions(const TrialReport& report);
// The reasons the trial failed, in the order they are reported.
Problems Verdict(const TrialReport& report);

}  // namespace trial
