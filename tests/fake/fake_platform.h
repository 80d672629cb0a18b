// A scriptable, in-memory platform for host unit tests and fault injection.
//
// Files and directories live in a map keyed by the upper-cased path (Windows compares
// names without regard to case). Every call that matters to a test is appended to `events`
// as a short line, so tests can check the order of a run's steps.
#pragma once

#include <stdint.h>

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform_run.h"

namespace fake {

struct Node {
  bool is_directory = false;
  std::string bytes;
};

struct ErrorBox {
  void* owner;
  std::string text;
  std::string caption;
};

struct RegistryValue {
  enum Type { kDword, kString, kBinary } type;
  std::string bytes;  // exactly as stored, a string with its terminator
};

struct World {
  // File system.
  std::map<std::string, Node> files;
  int open_files = 0;
  std::set<std::string> fail_create;  // upper-cased paths whose creation fails
  bool fail_all_directories = false;
  int64_t write_budget = -1;          // bytes accepted before writes fail; -1 = unlimited
  bool fail_close_after_write_failure = true;
  std::set<std::string> fail_close;   // upper-cased paths whose close fails (a full disk)
  std::set<std::string> held_open;    // upper-cased paths another process holds: no deletion
  std::vector<std::string> deletions_at_restart;  // paths handed to DeleteAtRestart, in order
  uint64_t read_error_from = UINT64_MAX;  // reads touching this offset fail
  std::vector<const void*> read_buffers;  // every buffer a read was made into
  int reads = 0;
  std::function<void(int)> on_read;  // called before read number n (1-based) is served
  bool copies_between_files = false;  // offer the file-to-file copy
  std::vector<uint64_t> copies;       // the size of every file-to-file copy asked for
  std::function<void(int)> on_copy;   // called before copy number n (1-based) is made

  // Names: the bytes that begin a double-byte character (none: a single-byte code page).
  std::string lead_bytes;
  // Memory: allocations larger than this fail; -1 = any size.
  int64_t largest_allocation = -1;
  // Memory: allocations allowed before they start failing; -1 = unlimited.
  int64_t allocations_left = -1;
  int64_t live_allocations = 0;

  // Environment.
  std::string temp_dir = "C:\\Temp\\";
  bool temp_available = true;
  size_t temp_reported_length = 0;  // non-zero: report this length (to simulate overflow)
  std::string own_path = "C:\\Downloads\\product_sea.exe";
  std::deque<int> random_draws;
  int seeds = 0;

  // User interface.
  std::map<int, std::string> messages;  // the string table
  std::vector<ErrorBox> boxes;
  std::vector<std::pair<void*, int32_t>> bar_positions;
  std::vector<void*> hidden_windows;
  ProgressDialogRecord* current_record = nullptr;  // the fake dialog runner's record

  // Processes and windows.
  std::vector<std::string> started_programs;
  std::vector<std::string> started_command_lines;
  std::set<std::string> startable;  // upper-cased paths; empty = any existing file starts
  std::function<void(const std::string&)> on_program_run;  // runs during its wait
  std::map<std::string, std::deque<uint32_t>> windows;     // class -> owner per find
  std::map<uint32_t, uint64_t> process_started;            // when a process started (default: now)
  uint64_t clock = 1000;                                   // the system's time now
  std::set<uint32_t> unopenable_processes;
  std::vector<uint32_t> waited_processes;
  std::vector<uint32_t> pauses;
  std::function<void(int)> on_pause;  // called after pause number n (1-based)

  // Registry under the machine-wide root, keyed by upper-cased key path.
  std::map<std::string, std::map<std::string, RegistryValue>> registry;
  bool registry_denied = false;
  std::set<std::string> read_only_keys;  // upper-cased key paths that open only for reading
  int open_keys = 0;
  uint32_t platform_id = 2;
  int privileges_enabled = 0;
  int restart_requests = 0;

  std::vector<std::string> events;
};

World& world();
// Back to a fresh world with the stub's string table loaded.
void Reset();

std::string Upper(const std::string& path);
void PutFile(const std::string& path, const std::string& bytes);
void PutDirectory(const std::string& path);
bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
std::string FileBytes(const std::string& path);
// Paths currently present, in their stored (upper-cased) form.
std::vector<std::string> Paths();
bool HasEvent(const std::string& event);
// Index of the first event that starts with `prefix`, or -1.
int EventIndex(const std::string& prefix);

}  // namespace fake
