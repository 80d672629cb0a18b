#include "trial_run.h"

#include <poll.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <set>
#include <system_error>

#include "install_layout.h"
#include "screenshot.h"
#include "side_files.h"

namespace fs = std::filesystem;

namespace trial {
namespace {

// How long past the trial's own timeout the observer may take to end the sandbox's processes
// and say so, before the trial ends it from outside.
constexpr long long kObserverGraceMs = 60000;

long long NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < line.size()) {
      const char n = line[++i];
      fields.back() += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

uint32_t Number(const std::string& text) { return static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 10)); }

std::string BaseName(const std::string& windows_path) {
  const size_t cut = windows_path.find_last_of('\\');
  return cut == std::string::npos ? windows_path : windows_path.substr(cut + 1);
}

std::string WindowsPath(const fs::path& linux_path) {
  std::string path = fs::absolute(linux_path).lexically_normal().string();
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + path;
}

struct ProcessInfo {
  std::string image;
  std::string command_line;
  int run = 0;
};

class Session {
 public:
  Session(const TrialSettings& settings, const ExpectedTree& expected, TrialReport* report)
      : settings_(settings), expected_(expected), report_(report) {}
  void Run();

 private:
  void Handle(const std::vector<std::string>& f);
  void OnSetup(TrialRun* run, uint32_t t, const std::vector<std::string>& f);
  void OnStubExit(TrialRun* run, uint32_t t, uint32_t code);
  bool ReadLine(std::string* line, long long deadline);
  void Reply(const std::string& text);
  TrialRun* RunOf(uint32_t pid);
  std::string Describe(uint32_t pid);
  std::string Picture(const fs::path& directory, const std::string& kind, const std::vector<std::string>& rect);
  std::vector<LeftEntry> NewInTemp(const RegistryState& registry) const;
  void Progress(const std::string& text) const {
    if (settings_.progress != nullptr) settings_.progress(text);
  }

  const TrialSettings& settings_;
  const ExpectedTree& expected_;
  TrialReport* report_;
  Child observer_;
  std::string buffer_;
  std::map<uint32_t, ProcessInfo> processes_;
  fs::path temp_unix_;
  std::set<std::string> temp_before_;
  RegistryState installer_registry_, registry_;
  std::vector<RunningProcess> running_;
  int pictures_ = 0;
  bool ended_ = false;
  bool after_timeout_ = false;  // the registry and processes that follow belong to the timeout
};

TrialRun* Session::RunOf(uint32_t pid) {
  const auto it = processes_.find(pid);
  const int number = it != processes_.end() ? it->second.run : static_cast<int>(report_->runs.size());
  return number >= 1 && number <= static_cast<int>(report_->runs.size()) ? &report_->runs[number - 1] : nullptr;
}

std::string Session::Describe(uint32_t pid) {
  const auto it = processes_.find(pid);
  const std::string name = it != processes_.end() ? BaseName(it->second.image) : "process";
  return name + " (pid " + std::to_string(pid) + ")";
}

std::string Session::Picture(const fs::path& directory, const std::string& kind, const std::vector<std::string>& rect) {
  if (directory.empty() || rect.size() < 4 || !CanTakeScreenshots()) return std::string();
  std::error_code error;
  fs::create_directories(directory, error);
  char name[64];
  snprintf(name, sizeof name, "%02d-%s.png", ++pictures_, kind.c_str());
  const fs::path path = directory / name;
  const bool taken = TakeScreenshot(settings_.display, static_cast<int>(Number(rect[0])),
                                    static_cast<int>(Number(rect[1])), static_cast<int>(Number(rect[2])),
                                    static_cast<int>(Number(rect[3])), path.string());
  return taken ? path.string() : std::string();
}

std::vector<LeftEntry> Session::NewInTemp(const RegistryState& registry) const {
  std::vector<LeftEntry> left;
  for (LeftEntry& entry : ListDirectory(temp_unix_)) {
    if (temp_before_.count(entry.path) != 0) continue;
    const std::string windows = report_->temp_directory + entry.path;
    for (const RegistryValue& v : registry.values) {
      if (v.where == "pending" && v.type == "delete" &&
          (strcasecmp(v.name.c_str(), windows.c_str()) == 0 ||
           strcasecmp(v.name.c_str(), (windows + "\\").c_str()) == 0)) {
        entry.deleted_at_restart = true;
      }
    }
    left.push_back(entry);
  }
  return left;
}

void Session::OnSetup(TrialRun* run, uint32_t t, const std::vector<std::string>& f) {
  run->setup_ms = t - run->start_ms;
  run->setup_pid = Number(f[2]);
  const std::string tail = InDiskDirectory(kSetupProgram);
  const std::string& image = f[3];
  run->extraction_root = image.size() > tail.size() ? image.substr(0, image.size() - tail.size()) : image;
  Progress("Setup.exe started; reading the tree it found");
  std::vector<FoundEntry> found;
  const fs::path unix_root = fs::path(f[4]).parent_path().parent_path();
  if (f[4] == "-" || !ReadFoundTree(unix_root, &found)) {
    run->tree_problem = "the extraction root could not be read from Linux";
  } else {
    if (!expected_.known) run->tree_problem = "not compared: the catalogue could not be read: " + expected_.problem;
    CompareTree(expected_, found, run);
  }
  Progress("waiting for the installer");
}

void Session::OnStubExit(TrialRun* run, uint32_t t, uint32_t code) {
  run->stub_exit_code = code;
  run->stub_ms = t - run->start_ms;
  run->installer_registry = installer_registry_;
  run->registry = registry_;
  run->still_running = running_;
  installer_registry_ = RegistryState();
  registry_ = RegistryState();
  running_.clear();
  run->left = NewInTemp(run->registry);
  if (run->setup_end_ms) {
    uint32_t end = *run->setup_end_ms;
    for (const EngineWindow& w : run->engine_windows) end = std::max(end, w.ended_ms.value_or(*run->stub_ms));
    run->engine_wait_ms = end - *run->setup_end_ms;
  }
}

void Session::Handle(const std::vector<std::string>& f) {
  if (f.size() < 2) return;
  const uint32_t t = Number(f[0]);
  const std::string& event = f[1];
  const size_t n = f.size();
  TrialRun* run = n > 2 ? RunOf(Number(f[2])) : nullptr;
  const bool timeout_detail = event == "value" || event == "key-absent" || event == "running" || event == "running-window";
  if (after_timeout_ && !timeout_detail) {
    after_timeout_ = false;
    report_->registry_at_timeout = registry_;
    report_->running_at_timeout = running_;
    registry_ = RegistryState();
    running_.clear();
  }
  if (event == "hello" && n >= 4) {
    report_->temp_directory = f[2];
    temp_unix_ = f[3];
    for (const LeftEntry& e : ListDirectory(temp_unix_)) temp_before_.insert(e.path);
    Reply("go");
  } else if (event == "run" && n >= 4) {
    TrialRun r;
    r.number = static_cast<int>(Number(f[2]));
    r.started_by = r.number == 1 ? "kovsea try" : "the restart (RunOnce)";
    r.start_ms = t;
    r.stub_pid = Number(f[3]);
    report_->runs.push_back(r);
    processes_[r.stub_pid].run = r.number;
    Progress("extracting");
  } else if (event == "process" && n >= 7) {
    ProcessInfo& info = processes_[Number(f[2])];
    info.image = f[4];
    info.command_line = f[6];
    if (info.run == 0) {
      const auto parent = processes_.find(Number(f[3]));
      info.run = parent != processes_.end() ? parent->second.run : static_cast<int>(report_->runs.size());
    }
  } else if (event == "setup" && n >= 5 && run != nullptr) {
    OnSetup(run, t, f);
    Reply("go");
  } else if (event == "exit" && n >= 4 && run != nullptr) {
    const uint32_t pid = Number(f[2]);
    if (pid == run->setup_pid) {
      run->setup_exit_code = Number(f[3]);
      run->setup_end_ms = t - run->start_ms;
      Progress("Setup.exe ended; the stub waits for the installer engine");
    }
    for (EngineWindow& w : run->engine_windows) {
      if (w.pid == pid && !w.ended_ms) w.ended_ms = t - run->start_ms;
    }
  } else if (event == "crash" && n >= 4 && run != nullptr) {
    run->crashes.push_back(Describe(Number(f[2])) + " ended on exception 0x" + f[3]);
  } else if (event == "window" && n >= 10 && run != nullptr) {
    SeenWindow w{t - run->start_ms, Describe(Number(f[2])), f[4], f[5], std::string()};
    const bool dialog = Number(f[2]) == run->stub_pid && f[4] == "#32770";
    if (dialog && !run->dialog_appeared) {
      run->dialog_appeared = true;
      run->dialog_ms = w.at_ms;
    }
    w.screenshot = Picture(settings_.screenshots, dialog ? "dialog" : "window", {f.begin() + 6, f.end()});
    run->windows.push_back(w);
    if (!settings_.screenshots.empty()) Reply("go");
  } else if (event == "box" && n >= 11 && run != nullptr) {
    MessageBox b;
    b.at_ms = t - run->start_ms;
    b.process = Describe(Number(f[2]));
    b.from_stub = Number(f[2]) == run->stub_pid;
    b.hwnd = f[3];
    b.caption = f[4];
    b.text = f[5];
    b.buttons = f[6];
    Progress("a message box: " + b.caption);
    b.screenshot = Picture(settings_.screenshots.empty() ? settings_.box_pictures : settings_.screenshots, "box",
                           {f.begin() + 7, f.end()});
    b.answer = settings_.dismiss_boxes ? "dismissed with its default button" : "still open";
    run->boxes.push_back(b);
    Reply(settings_.dismiss_boxes ? "dismiss" : "leave");
  } else if (event == "closed" && n >= 3) {
    for (TrialRun& r : report_->runs) {
      for (MessageBox& b : r.boxes) {
        if (b.hwnd == f[2] && b.answer == "still open") b.answer = "answered";
      }
    }
  } else if (event == "engine" && n >= 5 && run != nullptr) {
    run->engine_windows.push_back({f[4], Describe(Number(f[2])), Number(f[2]), t - run->start_ms, std::nullopt});
  } else if (event == "restart" && n >= 6) {
    TrialRun* asker = RunOf(Number(f[3]));
    if (asker != nullptr) asker->restarts.push_back({Describe(Number(f[3])), f[4], f[5] == "performed"});
  } else if (event == "value" && n >= 7) {
    RegistryState& state = f[2] == "installer" ? installer_registry_ : registry_;
    state.known = true;
    state.values.push_back({f[3], f[4], f[5], f[6]});
  } else if (event == "key-absent" && n >= 3) {
    RegistryState& state = f[2] == "installer" ? installer_registry_ : registry_;
    state.known = true;
    state.product_key = false;
  } else if (event == "running" && n >= 5) {
    running_.push_back({Describe(Number(f[2])), f[4], {}});
  } else if (event == "running-window" && n >= 6 && !running_.empty()) {
    running_.back().windows.push_back(f[3] + " \"" + f[4] + "\"" + (f[5] == "1" ? "" : " (hidden)"));
  } else if (event == "stub-exit" && n >= 4 && run != nullptr) {
    OnStubExit(run, t, Number(f[3]));
    Reply("go");
  } else if (event == "restart-performing") {
    report_->restart_performed = true;
    Progress("restarting the sandbox (Wine's restart runs RunOnce)");
  } else if (event == "timeout") {
    report_->timed_out = true;
    after_timeout_ = true;
  } else if (event == "end") {
    ended_ = true;
    if (n >= 3) report_->notes.push_back("the observer could not start the self-extractor (" + f[2] + ")");
  }
}

bool Session::ReadLine(std::string* line, long long deadline) {
  for (;;) {
    const size_t cut = buffer_.find('\n');
    if (cut != std::string::npos) {
      *line = buffer_.substr(0, cut);
      buffer_.erase(0, cut + 1);
      return true;
    }
    if (NowMs() >= deadline || (settings_.interrupted != nullptr && *settings_.interrupted)) return false;
    pollfd p = {observer_.out, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char chunk[8192];
    const ssize_t got = read(observer_.out, chunk, sizeof chunk);
    if (got <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(got));
  }
}

void Session::Reply(const std::string& text) {
  const std::string line = text + "\n";
  if (write(observer_.in, line.data(), line.size()) < 0) ended_ = true;
}

void Session::Run() {
  std::vector<std::string> argv = {"wine", settings_.observer.string(), "--timeout-ms",
                                   std::to_string(settings_.timeout_s * 1000ull)};
  if (settings_.restart) argv.push_back("--restart");
  if (settings_.dismiss_boxes) argv.push_back("--dismiss-boxes");
  if (!settings_.screenshots.empty()) argv.push_back("--pause-for-windows");
  argv.push_back(WindowsPath(settings_.sea));
  SpawnOptions options;
  options.pipe_stdin = true;
  options.pipe_stdout = true;
  options.stderr_file = settings_.log;
  Progress("starting Wine");
  observer_ = Spawn(argv, settings_.environment, options);
  if (observer_.pid <= 0) {
    report_->notes.push_back("wine could not be started");
    return;
  }
  const long long deadline = NowMs() + settings_.timeout_s * 1000ll + kObserverGraceMs;
  std::string line;
  while (!ended_ && ReadLine(&line, deadline)) Handle(SplitFields(line));
  if (!ended_) {
    const bool interrupted = settings_.interrupted != nullptr && *settings_.interrupted;
    report_->notes.push_back(interrupted ? "interrupted: every process of the sandbox was ended"
                                         : "the observer stopped answering; every process of the sandbox was ended");
    if (!interrupted && report_->runs.empty()) report_->notes.push_back("what Wine printed is in " + settings_.log);
  }
  if (report_->restart_performed) report_->left_after_restart = NewInTemp(RegistryState());
  CloseChildPipes(&observer_);
  if (WaitChild(&observer_, 10000) == -1) EndChild(&observer_);
}

}  // namespace

void RunTrial(const TrialSettings& settings, const ExpectedTree& expected, TrialReport* report) {
  Session session(settings, expected, report);
  session.Run();
}

}  // namespace trial
