#include "fake_platform.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "messages.h"
#include "platform_run.h"

namespace fake {
namespace {

World* g_world = nullptr;

std::string Key(const std::string& path) {
  std::string key = Upper(path);
  while (key.size() > 3 && key.back() == '\\') key.pop_back();
  return key;
}

std::string Parent(const std::string& key) {
  size_t at = key.rfind('\\');
  return at == std::string::npos ? std::string() : key.substr(0, at);
}

// A path is creatable when its parent exists as a directory (a drive root always does).
bool ParentExists(const std::string& key) {
  std::string parent = Parent(key);
  if (parent.size() <= 2) return true;
  auto it = world().files.find(parent);
  return it != world().files.end() && it->second.is_directory;
}

}  // namespace

World& world() {
  if (g_world == nullptr) Reset();
  return *g_world;
}

void Reset() {
  delete g_world;
  g_world = new World();
#define KOVSEA_FAKE_MESSAGE(name, id, text) g_world->messages[id] = text;
  KOVSEA_MESSAGES(KOVSEA_FAKE_MESSAGE)
#undef KOVSEA_FAKE_MESSAGE
  PutDirectory("C:\\Temp");
  PutDirectory("C:\\Downloads");
}

std::string Upper(const std::string& path) {
  std::string out = path;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

void PutFile(const std::string& path, const std::string& bytes) {
  world().files[Key(path)] = Node{false, bytes};
}

void PutDirectory(const std::string& path) { world().files[Key(path)] = Node{true, {}}; }

bool Exists(const std::string& path) { return world().files.count(Key(path)) != 0; }

bool IsDirectory(const std::string& path) {
  auto it = world().files.find(Key(path));
  return it != world().files.end() && it->second.is_directory;
}

std::string FileBytes(const std::string& path) {
  auto it = world().files.find(Key(path));
  return it == world().files.end() ? std::string("<missing>") : it->second.bytes;
}

std::vector<std::string> Paths() {
  std::vector<std::string> out;
  for (const auto& entry : world().files) out.push_back(entry.first);
  return out;
}

bool HasEvent(const std::string& event) {
  const auto& events = world().events;
  return std::find(events.begin(), events.end(), event) != events.end();
}

int EventIndex(const std::string& prefix) {
  const auto& events = world().events;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace fake

namespace platform {

using fake::world;

struct File {
  std::string key;
  bool writing;
  uint64_t position;
  bool failed;
};

struct Process {
  uint32_t id;
  std::string path;
};

struct RegistryKey {
  std::string path;
};

void* AllocateZeroed(size_t bytes) {
  auto& w = world();
  if (w.allocations_left == 0) return nullptr;
  if (w.largest_allocation >= 0 && static_cast<int64_t>(bytes) > w.largest_allocation) return nullptr;
  if (w.allocations_left > 0) --w.allocations_left;
  ++w.live_allocations;
  return calloc(1, bytes == 0 ? 1 : bytes);
}

bool IsLeadByte(uint8_t byte) { return world().lead_bytes.find(static_cast<char>(byte)) != std::string::npos; }

void Release(void* block) {
  if (block == nullptr) return;
  --world().live_allocations;
  free(block);
}

File* OpenForReading(const char* path) {
  std::string key = fake::Key(path);
  auto it = world().files.find(key);
  if (it == world().files.end() || it->second.is_directory) return nullptr;
  ++world().open_files;
  return new File{key, false, 0, false};
}

File* CreateForWriting(const char* path) {
  auto& w = world();
  std::string key = fake::Key(path);
  std::string raw = fake::Upper(path);
  if (w.fail_create.count(raw) || w.fail_create.count(key) || raw.back() == '\\' ||
      !fake::ParentExists(key)) {
    w.events.push_back(std::string("create failed ") + path);
    return nullptr;
  }
  auto it = w.files.find(key);
  if (it != w.files.end() && it->second.is_directory) return nullptr;
  w.files[key] = fake::Node{false, {}};
  w.events.push_back(std::string("create ") + path);
  ++w.open_files;
  return new File{key, true, 0, false};
}

size_t ReadBytes(File* file, void* buffer, size_t bytes) {
  auto& w = world();
  w.read_buffers.push_back(buffer);
  ++w.reads;
  if (w.on_read) w.on_read(w.reads);
  auto it = w.files.find(file->key);
  if (it == w.files.end()) return 0;
  const std::string& data = it->second.bytes;
  if (file->position + bytes > w.read_error_from && file->position < data.size()) {
    file->failed = true;
    return 0;
  }
  if (file->position >= data.size()) return 0;
  size_t n = std::min<uint64_t>(bytes, data.size() - file->position);
  memcpy(buffer, data.data() + file->position, n);
  file->position += n;
  return n;
}

bool ReadFailed(File* file) { return file->failed; }

bool SeekTo(File* file, uint64_t offset) {
  file->position = offset;
  return true;
}

bool FileLength(File* file, uint64_t* length) {
  *length = world().files[file->key].bytes.size();
  return true;
}

bool WriteBytes(File* file, const void* data, size_t bytes) {
  auto& w = world();
  size_t accepted = bytes;
  if (w.write_budget >= 0 && static_cast<uint64_t>(w.write_budget) < bytes) {
    accepted = static_cast<size_t>(w.write_budget);
  }
  if (w.write_budget >= 0) w.write_budget -= static_cast<int64_t>(accepted);
  std::string& target = w.files[file->key].bytes;
  target.append(static_cast<const char*>(data), accepted);
  if (accepted < bytes) file->failed = true;
  return accepted == bytes;
}

bool CanCopyBetween(File* from, File* to) {
  return world().copies_between_files && !from->writing && to->writing;
}

uint64_t CopyBetween(File* from, File* to, uint64_t bytes) {
  auto& w = world();
  w.copies.push_back(bytes);
  if (w.on_copy) w.on_copy(static_cast<int>(w.copies.size()));
  const std::string& data = w.files[from->key].bytes;
  uint64_t available = from->position < data.size() ? data.size() - from->position : 0;
  if (from->position + bytes > w.read_error_from) {
    available = w.read_error_from > from->position ? w.read_error_from - from->position : 0;
  }
  const std::string chunk = data.substr(from->position, std::min<uint64_t>(bytes, available));
  from->position += chunk.size();
  // The write side obeys the same budget as WriteBytes.
  const size_t before = w.files[to->key].bytes.size();
  WriteBytes(to, chunk.data(), chunk.size());
  return w.files[to->key].bytes.size() - before;
}

bool CloseFile(File* file) {
  auto& w = world();
  const bool ok = !(file->writing && file->failed && w.fail_close_after_write_failure) &&
                  !(file->writing && w.fail_close.count(file->key));
  w.events.push_back("close " + file->key);
  --w.open_files;
  delete file;
  return ok;
}

namespace {

bool MakeFakeDirectory(const char* path, const std::string& event) {
  auto& w = world();
  std::string key = fake::Key(path);
  if (w.fail_all_directories || w.fail_create.count(key) || w.files.count(key) ||
      !fake::ParentExists(key)) {
    w.events.push_back(event + " failed " + path);
    return false;
  }
  w.files[key] = fake::Node{true, {}};
  w.events.push_back(event + " " + path);
  return true;
}

}  // namespace

bool MakeDirectory(const char* path) { return MakeFakeDirectory(path, "mkdir"); }
bool MakePrivateDirectory(const char* path) { return MakeFakeDirectory(path, "mkdir private"); }

bool RemoveEmptyDirectory(const char* path) {
  auto& w = world();
  std::string key = fake::Key(path);
  w.events.push_back(std::string("rmdir ") + path);
  if (w.held_open.count(key)) return false;
  auto it = w.files.find(key);
  if (it == w.files.end() || !it->second.is_directory) return false;
  for (const auto& entry : w.files) {
    if (fake::Parent(entry.first) == key) return false;
  }
  w.files.erase(it);
  return true;
}

bool DeleteFileAt(const char* path) {
  auto& w = world();
  w.events.push_back(std::string("delete ") + path);
  if (w.held_open.count(fake::Key(path))) return false;
  auto it = w.files.find(fake::Key(path));
  if (it == w.files.end() || it->second.is_directory) return false;
  w.files.erase(it);
  return true;
}

bool PathExists(const char* path) { return world().files.count(fake::Key(path)) != 0; }

bool DeleteAtRestart(const char* path) {
  auto& w = world();
  if (!w.files.count(fake::Key(path))) return false;
  w.deletions_at_restart.push_back(path);
  w.events.push_back(std::string("delete at restart ") + path);
  return true;
}

size_t TemporaryDirectory(char* buffer, size_t capacity) {
  auto& w = world();
  if (!w.temp_available) return 0;
  if (w.temp_reported_length != 0) return w.temp_reported_length;
  if (w.temp_dir.size() >= capacity) return w.temp_dir.size() + 1;
  memcpy(buffer, w.temp_dir.c_str(), w.temp_dir.size() + 1);
  return w.temp_dir.size();
}

File* OpenOwnExecutable() { return OpenForReading(world().own_path.c_str()); }

size_t OwnExecutablePath(char* buffer, size_t capacity) {
  const std::string& own = world().own_path;
  if (own.size() >= capacity) {
    memcpy(buffer, own.data(), capacity - 1);
    buffer[capacity - 1] = '\0';
    return capacity;
  }
  memcpy(buffer, own.c_str(), own.size() + 1);
  return own.size();
}

void SeedRandom() { ++world().seeds; }

int NextRandom() {
  auto& draws = world().random_draws;
  if (draws.empty()) return 4660;  // any fixed draw; tests that care script their own
  int value = draws.front();
  draws.pop_front();
  return value;
}

void Pause(uint32_t milliseconds) {
  world().pauses.push_back(milliseconds);
  world().events.push_back("pause " + std::to_string(milliseconds));
  if (world().on_pause) world().on_pause(static_cast<int>(world().pauses.size()));
}

int LoadMessage(int id, char* buffer, int capacity) {
  auto it = world().messages.find(id);
  if (it == world().messages.end() || capacity <= 0) return 0;
  int n = std::min<int>(static_cast<int>(it->second.size()), capacity - 1);
  memcpy(buffer, it->second.data(), n);
  buffer[n] = '\0';
  return n;
}

void ShowErrorBox(Window owner, const char* text, const char* caption) {
  world().boxes.push_back(fake::ErrorBox{owner, text, caption});
  world().events.push_back(std::string("box ") + text + " | " + caption);
}

void HideWindow(Window window) {
  world().hidden_windows.push_back(window);
  world().events.push_back("hide");
}

void SetProgressBar(Window dialog, int32_t position) {
  world().bar_positions.emplace_back(dialog, position);
  world().events.push_back("bar " + std::to_string(position));
}

Process* StartProgram(const char* path, const char* command_line) {
  auto& w = world();
  std::string key = fake::Key(path);
  const bool startable = w.startable.empty() ? (w.files.count(key) && !w.files[key].is_directory)
                                             : w.startable.count(key) != 0;
  if (!startable) {
    w.events.push_back(std::string("start failed ") + path);
    return nullptr;
  }
  w.started_programs.push_back(path);
  w.started_command_lines.push_back(command_line);
  w.events.push_back(std::string("start ") + path);
  return new Process{1000, path};
}

void WaitForProcess(Process* process) {
  auto& w = world();
  w.waited_processes.push_back(process->id);
  w.events.push_back("wait " + std::to_string(process->id));
  if (!process->path.empty() && w.on_program_run) w.on_program_run(process->path);
}

void CloseProcess(Process* process) { delete process; }

uint64_t SystemTime() { return world().clock; }

bool FindWindowOwner(const char* window_class, uint64_t started_since, uint32_t* process_id) {
  auto& w = world();
  auto& queue = w.windows[window_class];
  w.events.push_back(std::string("find ") + window_class);
  // Each find takes the queue's next owner; owners started too early are passed over.
  while (!queue.empty()) {
    const uint32_t owner = queue.front();
    queue.pop_front();
    const auto started = w.process_started.find(owner);
    if (started_since == 0 || started == w.process_started.end() || started->second >= started_since) {
      *process_id = owner;
      return true;
    }
  }
  return false;
}

Process* OpenProcessById(uint32_t process_id) {
  if (world().unopenable_processes.count(process_id)) return nullptr;
  return new Process{process_id, {}};
}

RegistryKey* CreateMachineKey(const char* path) {
  auto& w = world();
  if (w.registry_denied || w.read_only_keys.count(fake::Upper(path))) return nullptr;
  // Missing parent keys are created on the way, as the real registry does.
  std::string full = fake::Upper(path);
  for (size_t at = full.find('\\'); at != std::string::npos; at = full.find('\\', at + 1)) {
    w.registry[full.substr(0, at)];
  }
  w.registry[full];
  ++w.open_keys;
  return new RegistryKey{fake::Upper(path)};
}

RegistryKey* OpenMachineKey(const char* path) {
  auto& w = world();
  // Keys are opened with full access, which a key the user may only read refuses.
  if (w.registry_denied || w.read_only_keys.count(fake::Upper(path)) ||
      !w.registry.count(fake::Upper(path))) {
    return nullptr;
  }
  ++w.open_keys;
  return new RegistryKey{fake::Upper(path)};
}

void SetDwordValue(RegistryKey* key, const char* name, uint32_t value) {
  std::string bytes(reinterpret_cast<const char*>(&value), 4);
  world().registry[key->path][name] = fake::RegistryValue{fake::RegistryValue::kDword, bytes};
  world().events.push_back(std::string("set ") + name + " " + std::to_string(value));
}

void SetStringValue(RegistryKey* key, const char* name, const char* value) {
  std::string bytes(value, strlen(value) + 1);
  world().registry[key->path][name] = fake::RegistryValue{fake::RegistryValue::kString, bytes};
  world().events.push_back(std::string("set ") + name + " " + value);
}

bool QueryDwordValue(RegistryKey* key, const char* name, uint32_t* value) {
  auto& values = world().registry[key->path];
  auto it = values.find(name);
  if (it == values.end() || it->second.type != fake::RegistryValue::kDword || it->second.bytes.size() != 4) return false;
  memcpy(value, it->second.bytes.data(), 4);
  return true;
}

void DeleteValue(RegistryKey* key, const char* name) {
  world().registry[key->path].erase(name);
  world().events.push_back(std::string("delete value ") + name);
}

void DeleteSubkey(RegistryKey* key, const char* subkey) {
  auto& w = world();
  w.events.push_back(std::string("delete key ") + subkey);
  w.registry.erase(key->path + "\\" + fake::Upper(subkey));
}

void CloseKey(RegistryKey* key) {
  --world().open_keys;
  delete key;
}

uint32_t PlatformId() { return world().platform_id; }

void EnableShutdownPrivilege() {
  ++world().privileges_enabled;
  world().events.push_back("privilege");
}

bool RequestRestart() {
  ++world().restart_requests;
  world().events.push_back("restart");
  return true;
}

// The dialog runner without a dialog: the worker runs inline with a stand-in window.
int32_t RunProgressDialog(Window owner, ProgressWorker worker, void* user_data,
                          int32_t initial_position, const char* caption, const char* first_text,
                          const char* second_text, int32_t animation) {
  auto* record = static_cast<ProgressDialogRecord*>(AllocateZeroed(sizeof(ProgressDialogRecord)));
  if (record == nullptr) return -11999;
  FillProgressDialogRecord(record, owner, worker, user_data, initial_position, caption,
                           first_text, second_text, animation);
  record->dialog_window = reinterpret_cast<platform::Window>(0xD1A1);
  fake::world().events.push_back("dialog");
  fake::world().current_record = record;
  int32_t result = worker(record, user_data);
  fake::world().current_record = nullptr;
  fake::world().events.push_back("dialog end");
  Release(record);
  return result;
}

}  // namespace platform
