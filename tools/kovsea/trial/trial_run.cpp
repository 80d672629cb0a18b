#include "trial_run.h"

#include <stdio.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <system_error>

#include "install_layout.h"
#include "requirements.h"
#include "side_files.h"

namespace fs = std::filesystem;

namespace trial {
namespace {

// How long past the trial's timeout the observer may take to end the sandbox's processes and
// say so, before the trial ends it from outside: --timeout bounds the whole run, however long
// the observer's own clock (which stops while it waits for kovsea) says it took.
constexpr long long kObserverGraceMs = 10000;
constexpr long long kHeartbeatMs = 10000;

// Wine's own programs that its services start when a program needs them (the RPC service
// for COM, the installer service, a console): seen as started by the system, not the installer.
bool IsWineService(const std::string& command_line) {
  static const char* const kServices[] = {"rpcss.exe", "svchost.exe", "winedevice.exe", "plugplay.exe",
                                          "services.exe", "explorer.exe", "conhost.exe", "msiexec.exe /V"};
  for (const char* service : kServices) {
    const std::string tail = std::string("\\windows\\system32\\") + service;
    const size_t at = command_line.find(tail);
    if (at != std::string::npos && strncasecmp(command_line.c_str(), "C:", 2) == 0) return true;
  }
  return false;
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

struct TrialSettings {
  uint32_t timeout_s = 600;
  bool restart = false;
  bool dismiss_boxes = false;           // nobody can answer them on a virtual display
  fs::path screenshots;                 // a picture of every window when not empty
  void (*progress)(const std::string&) = nullptr;
};

struct ProcessInfo {
  std::string image;
  std::string command_line;
  int run = 0;
};

class Session {
 public:
  Session(const TrialSettings& settings, Sandbox* sandbox, const ExpectedTree& expected, TrialReport* report)
      : settings_(settings), sandbox_(sandbox), expected_(expected), report_(report) {}
  void Run();

 private:
  void Handle(const std::vector<std::string>& f);
  void OnSetup(TrialRun* run, uint32_t t, const std::vector<std::string>& f);
  void OnStubExit(TrialRun* run, uint32_t t, uint32_t code);
  void Reply(const std::string& text);
  std::vector<RunningProcess> NewProcesses() const;
  TrialRun* RunOf(uint32_t pid);
  std::string Describe(uint32_t pid);
  std::string Picture(const fs::path& directory, const std::string& kind, const std::vector<std::string>& rect);
  std::vector<LeftEntry> NewInTemp(const RegistryState& registry) const;
  void Progress(const std::string& text) {
    phase_ = text;
    if (settings_.progress != nullptr) settings_.progress(text);
  }

  const TrialSettings& settings_;
  Sandbox* sandbox_;
  const ExpectedTree& expected_;
  TrialReport* report_;
  std::vector<SandboxProcess> before_stub_;
  std::string phase_;
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
  if (directory.empty() || rect.size() < 4) return std::string();
  std::error_code error;
  fs::create_directories(directory, error);
  char name[64];
  snprintf(name, sizeof name, "%02d-%s.png", ++pictures_, kind.c_str());
  const fs::path path = directory / name;
  const bool taken = sandbox_->TakePicture(static_cast<int>(Number(rect[0])), static_cast<int>(Number(rect[1])),
                                           static_cast<int>(Number(rect[2])), static_cast<int>(Number(rect[3])), path);
  return taken ? path.string() : std::string();
}

// The processes in the sandbox that were not there when the stub was created, as the
// kernel shows them: what the observer cannot see (a Linux program, a process taken out of
// its debugging) included. Wine's services started on demand are a note, not the installer's.
std::vector<RunningProcess> Session::NewProcesses() const {
  std::vector<RunningProcess> found;
  for (const SandboxProcess& p : sandbox_->Processes()) {
    bool old = false;
    for (const SandboxProcess& b : before_stub_) old = old || (b.pid == p.pid && b.started == p.started);
    if (old) continue;
    if (p.wine && IsWineService(p.command_line)) {
      report_->notes.push_back("Wine started " + p.command_line + " during the run");
      continue;
    }
    // The observer names the Windows processes it still sees itself.
    bool named = false;
    for (const RunningProcess& r : running_) named = named || r.command_line == p.command_line;
    if (named) continue;
    found.push_back({(p.wine ? "Windows process" : "Linux program " + p.executable) + " (Linux pid " +
                         std::to_string(p.pid) + ")",
                     p.command_line, {}});
  }
  return found;
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
  const fs::path setup_unix = sandbox_->Outside(f[4]);
  const fs::path unix_root = setup_unix.parent_path().parent_path();
  if (f[4] == "-" || setup_unix.empty() || !ReadFoundTree(unix_root, &found)) {
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
  run->outlived = NewProcesses();
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
    temp_unix_ = sandbox_->Outside(f[3]);
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
    // The stub exists but has not run an instruction yet: what runs now is not its doing.
    before_stub_ = sandbox_->Processes();
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
    if (pid == run->setup_pid && report_->timed_out) {
      run->setup_ended_by_try = true;  // its code is the one kovsea try's observer gave it
      run->setup_end_ms = t - run->start_ms;
    } else if (pid == run->setup_pid) {
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
    b.screenshot = Picture(settings_.screenshots, "box",
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
    if (report_->timed_out) {
      run->stub_exit_code.reset();
      run->stub_ended_by_try = true;
    }
    Reply("go");
  } else if (event == "restart-performing") {
    report_->restart_performed = true;
    Progress("restarting the sandbox (Wine's restart runs RunOnce)");
  } else if (event == "timeout") {
    report_->timed_out = true;
    after_timeout_ = true;
  } else if (event == "end") {
    ended_ = true;
    report_->record_whole = true;
    if (n >= 3) report_->notes.push_back("the observer could not start the self-extractor (" + f[2] + ")");
  }
}

void Session::Reply(const std::string& text) {
  if (!sandbox_->channel().Reply(text)) ended_ = true;
}

void Session::Run() {
  std::vector<std::string> arguments = {"--timeout-ms", std::to_string(settings_.timeout_s * 1000ull)};
  if (settings_.restart) arguments.push_back("--restart");
  if (settings_.dismiss_boxes) arguments.push_back("--dismiss-boxes");
  if (!settings_.screenshots.empty()) arguments.push_back("--pause-for-windows");
  Progress("starting Wine");
  Problems problems;
  if (!sandbox_->Start(arguments, &problems)) {
    report_->notes.push_back("wine could not be started: " + (problems.empty() ? "" : problems.front().what));
    return;
  }
  const long long deadline = MonotonicMs() + settings_.timeout_s * 1000ll + kObserverGraceMs;
  const volatile sig_atomic_t* interrupted = InterruptFlag();
  std::string line;
  // The phase again every few seconds while nothing happens, so that a CI log shows where a
  // long run is.
  while (!ended_) {
    const long long slice = std::min(deadline, MonotonicMs() + kHeartbeatMs);
    if (sandbox_->channel().ReadLine(&line, slice, interrupted)) {
      Handle(SplitFields(line));
      continue;
    }
    if (sandbox_->channel().ended() || *interrupted != 0 || MonotonicMs() >= deadline) break;
    Progress(phase_);
  }
  for (const ForeignWrite& w : sandbox_->channel().foreign_writes()) {
    report_->foreign_writes.push_back({"pid " + std::to_string(w.pid) + (w.program.empty() ? "" : " " + w.program), w.text});
  }
  if (!ended_ && *interrupted == 0 && MonotonicMs() >= deadline) {
    report_->timed_out = true;
    report_->notes.push_back("the observer had not ended the sandbox " + std::to_string(kObserverGraceMs / 1000) +
                             " s after the timeout; kovsea try ended it");
    ended_ = true;
  }
  if (!ended_) {
    report_->interrupted = *interrupted != 0;
    report_->notes.push_back(report_->interrupted ? "interrupted: every process of the sandbox was ended"
                                                  : "the observer stopped answering; every process of the sandbox was ended");
    if (!report_->interrupted && report_->runs.empty()) report_->notes.push_back("what Wine printed is in " + sandbox_->log());
  }
  if (report_->restart_performed) report_->left_after_restart = NewInTemp(RegistryState());
  Progress("ending the sandbox");
  sandbox_->Stop(ended_ ? 30000 : 0);
}

void Quiet(const std::string&) {}

double SecondsSince(long long start_ms) { return (MonotonicMs() - start_ms) / 1000.0; }

}  // namespace

TrialReport Try(const TrialOptions& options) {
  const long long started = MonotonicMs();
  TrialReport report;
  report.file = options.file.string();
  report.timeout_s = options.timeout_s;
  report.success_exit_codes = options.success_exit_codes;
  report.isolated = options.isolation == Isolation::kSandbox;
  auto progress = [&](const std::string& text) {
    if (options.progress != nullptr) options.progress(text);
  };
  auto refuse = [&](const Problems& problems) {
    report.problems = problems;
    return report;
  };
  const char* own_display = getenv("DISPLAY");
  const bool virtual_display = options.headless || own_display == nullptr || own_display[0] == '\0';
  Problems problems = MissingPrograms(virtual_display, !options.screenshots.empty());
  if (report.isolated && problems.empty()) CanIsolate(&problems);
  if (!problems.empty()) return refuse(problems);
  if (options.observer.empty()) {
    return refuse({{"kovsea try", std::nullopt, "no kovsea-observer.exe found beside kovsea or in ../share/kovsea",
                             "give one with KOVSEA_OBSERVER"}});
  }
  // Exactly the file named: no Windows reading of its name.
  struct stat st;
  if (stat(options.file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(options.file.c_str(), R_OK) != 0) {
    return refuse({{options.file.string(), std::nullopt, "not a readable file", ""}});
  }
  std::error_code error;
  if (!options.keep.empty() && fs::exists(options.keep, error) && !fs::is_empty(options.keep, error)) {
    return refuse({{options.keep.string(), std::nullopt, "--keep needs a new or empty directory", ""}});
  }
  if (report.isolated && !virtual_display && std::string(own_display).rfind(":", 0) != 0) {
    return refuse({{"kovsea try", std::nullopt,
                             std::string("the display ") + own_display + " cannot be reached from the sandbox, which has no network",
                             "use --headless"}});
  }
  progress("reading the self-extractor");
  const ExpectedTree expected = ReadExpectedTree(options.file, options.codepage);
  if (!expected.known) report.notes.push_back("kovsea cannot read the file: " + expected.problem);

  WineTemplate wine_template;
  if (!wine_template.Prepare(options.progress != nullptr ? options.progress : Quiet, &problems)) return refuse(problems);
  report.wine_version = wine_template.wine_version();
  report.template_made = wine_template.made();
  progress("copying the Wine template");
  Sandbox sandbox;
  SandboxSettings sandbox_settings;
  sandbox_settings.isolation = options.isolation;
  sandbox_settings.virtual_display = virtual_display;
  sandbox_settings.own_display = virtual_display ? std::string() : own_display;
  sandbox_settings.keep = options.keep;
  sandbox_settings.sea = options.file;
  sandbox_settings.observer = options.observer;
  if (!sandbox.Prepare(wine_template, sandbox_settings, &problems)) return refuse(problems);
  report.started = true;
  report.isolation = sandbox.Description();
  report.prefix = sandbox.prefix().string();
  report.prefix_kept = !options.keep.empty();
  report.display = virtual_display ? "a virtual display with openbox" : "your display " + std::string(own_display);

  TrialSettings settings;
  settings.timeout_s = options.timeout_s;
  settings.restart = options.restart;
  settings.dismiss_boxes = virtual_display;
  settings.screenshots = options.screenshots.empty() ? fs::path() : fs::absolute(options.screenshots);
  settings.progress = options.progress;
  Session session(settings, &sandbox, expected, &report);
  session.Run();

  bool dismissed = false;
  for (const TrialRun& run : report.runs) dismissed = dismissed || !run.boxes.empty();
  if (settings.dismiss_boxes && dismissed) {
    report.notes.push_back("message boxes were dismissed with their default button: nobody can answer them on a "
                           "virtual display");
  }
  report.total_seconds = SecondsSince(started);
  report.problems = Verdict(report);
  return report;
}

}  // namespace trial
