#include "sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <system_error>

extern char** environ;

namespace fs = std::filesystem;

namespace trial {
namespace {

// Where the trial's parts appear inside the sandbox.
constexpr char kInside[] = "/run/kovsea";
constexpr char kInsidePrefix[] = "/run/kovsea/prefix";
constexpr char kInsideState[] = "/run/kovsea/state";
constexpr char kInsideObserver[] = "/run/kovsea/kovsea-observer.exe";
constexpr char kInsideXauthority[] = "/run/kovsea/Xauthority";
constexpr int kStartTimeoutMs = 20000;

volatile sig_atomic_t g_interrupted = 0;
void OnSignal(int) { g_interrupted = 1; }
constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};

// Runs inside: the virtual display and its window manager when asked for, then the observer
// with the channel as its stdin and stdout (descriptor 3, closed for everything else), then,
// once the observer has ended, the Wine server ended so that it saves the registry.
constexpr char kLauncher[] = R"sh(
exec 4>&-
state=$KOVSEA_STATE
if [ "$1" = virtual ]; then
  Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset 5>"$state/display.tmp" 2>"$state/xvfb.log" &
  i=0
  while ! grep -q . "$state/display.tmp" 2>/dev/null; do
    i=$((i + 1)); [ $i -le 1500 ] || { echo "kovsea try: the virtual display did not start" >&2; exit 97; }
    sleep 0.01
  done
  DISPLAY=:$(head -n 1 "$state/display.tmp"); export DISPLAY
  openbox --sm-disable --startup "touch $state/window-manager" >/dev/null 2>"$state/openbox.log" &
  i=0
  while [ ! -e "$state/window-manager" ]; do
    i=$((i + 1)); [ $i -le 1500 ] || { echo "kovsea try: the window manager did not start" >&2; exit 97; }
    sleep 0.01
  done
fi
echo "$DISPLAY" >"$state/display"
shift
"$@" <&3 >&3 &
observer=$!
exec 3>&-
wait $observer
status=$?
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
exit $status
)sh";

// Characters a Windows file name cannot hold.
bool WindowsCanName(const std::string& name) {
  if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
  for (unsigned char c : name) {
    if (c < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr) return false;
  }
  return true;
}

std::string WindowsPathOf(const std::string& unix_path) {
  std::string path = unix_path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + path;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Under(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

std::string ReadSmallFile(const std::string& path, size_t limit = 4096) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return std::string();
  std::string text(limit, '\0');
  text.resize(fread(&text[0], 1, limit, f));
  fclose(f);
  return text;
}

// The sandboxes of trials that ended without removing theirs (killed): their lock is free.
void RemoveAbandoned(const fs::path& sandboxes) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(sandboxes, error)) {
    const int lock = open((entry.path() / ".lock").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (lock < 0) continue;
    if (flock(lock, LOCK_EX | LOCK_NB) == 0) fs::remove_all(entry.path(), error);
    close(lock);
  }
}

}  // namespace

const volatile sig_atomic_t* InterruptFlag() { return &g_interrupted; }

bool CanIsolate(Problems* problems) {
  if (FindProgram("bwrap").empty()) {
    problems->push_back({"kovsea try", std::nullopt, "cannot make a sandbox: bubblewrap (bwrap) is not installed",
                         "install it with `sudo apt install bubblewrap`, or run without one with --no-isolation"});
    return false;
  }
  std::string output;
  const int status = RunProgram({"bwrap", "--unshare-all", "--unshare-user", "--disable-userns", "--cap-drop", "ALL",
                                 "--die-with-parent", "--ro-bind", "/", "/", "--", "true"},
                                EnvironmentWith({}), 10000, &output);
  if (status == 0) return true;
  problems->push_back(
      {"kovsea try", std::nullopt,
       "cannot make a sandbox: bubblewrap cannot create user namespaces on this machine",
       "allow them (`sudo sysctl kernel.unprivileged_userns_clone=1` and user.max_user_namespaces above 0; in a "
       "container, run it with user namespaces allowed), or run without a sandbox with --no-isolation"});
  return false;
}

Sandbox::~Sandbox() {
  Stop(0);
  std::error_code error;
  if (!folder_.empty()) {
    if (settings_.keep.empty()) prefix_.Remove();
    fs::remove_all(folder_, error);
  }
  if (lock_ >= 0) close(lock_);
  if (signals_caught_) {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  }
}

bool Sandbox::Prepare(const WineTemplate& wine_template, const SandboxSettings& settings, Problems* problems) {
  settings_ = settings;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &previous_[i]);
  signals_caught_ = true;

  // The file is run exactly as named: a name Windows would read differently is refused.
  const std::string absolute = fs::absolute(settings.sea).lexically_normal().string();
  const std::string name = fs::path(absolute).filename().string();
  if (!WindowsCanName(name) || (!isolated() && absolute.find('\\') != std::string::npos)) {
    problems->push_back({settings.sea.string(), std::nullopt,
                         "Windows cannot name this file as it is (a name with \\ : * ? \" < > | or a control "
                         "character, or ending in a dot or blank)",
                         "copy it to a plain name such as product.exe"});
    return false;
  }
  inside_sea_ = isolated() ? std::string(kInside) + "/input/" + name : absolute;
  sea_windows_ = WindowsPathOf(inside_sea_);

  const fs::path sandboxes = CacheDirectory() / "sandboxes";
  std::error_code error;
  fs::create_directories(sandboxes, error);
  RemoveAbandoned(sandboxes);
  std::string folder = (sandboxes / "trial-XXXXXX").string();
  if (mkdtemp(&folder[0]) == nullptr) {
    problems->push_back({sandboxes.string(), std::nullopt, "cannot create the trial's folder", ""});
    return false;
  }
  folder_ = folder;
  lock_ = open((folder_ / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock_ >= 0) flock(lock_, LOCK_EX);
  fs::create_directories(folder_ / "state", error);
  fs::create_directories(folder_ / "x11", error);
  const fs::path where = settings.keep.empty() ? folder_ / "prefix" : fs::absolute(settings.keep);
  log_ = (where / "kovsea-try.log").string();
  return prefix_.CreateFrom(wine_template, where, problems);
}

std::vector<std::string> Sandbox::BubblewrapArguments() const {
  std::vector<std::string> a = {"bwrap", "--unshare-all", "--unshare-user", "--disable-userns", "--cap-drop", "ALL",
                                "--die-with-parent", "--new-session", "--info-fd", "4",
                                "--ro-bind", "/", "/", "--dev", "/dev", "--proc", "/proc"};
  // Every place a user can write, and the cache that holds the template, hidden.
  std::vector<std::string> hidden = {"/tmp", "/var/tmp", "/run", "/home", "/root"};
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') hidden.push_back(fs::path(home).lexically_normal().string());
  hidden.push_back(CacheDirectory().lexically_normal().string());
  std::vector<std::string> mounted;
  for (const std::string& h : hidden) {
    bool covered = false;
    for (const std::string& m : mounted) covered = covered || Under(h, m);
    if (covered || !Exists(h)) continue;
    a.insert(a.end(), {"--tmpfs", h});
    mounted.push_back(h);
  }
  // The programs on PATH stay reachable, read-only, where a hidden folder holds them (a
  // ~/bin with a Wine of the user's own).
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  for (size_t start = 0; start < dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    start = end + 1;
    bool hidden_here = false;
    for (const std::string& m : mounted) hidden_here = hidden_here || Under(dir, m);
    if (hidden_here && dir[0] == '/' && Exists(dir)) a.insert(a.end(), {"--ro-bind", dir, dir});
  }
  a.insert(a.end(), {"--dir", std::string(kInside) + "/input",
                     "--ro-bind", fs::absolute(settings_.sea).string(), inside_sea_,
                     "--ro-bind", fs::absolute(settings_.observer).string(), kInsideObserver,
                     "--bind", prefix_.path().string(), kInsidePrefix,
                     "--bind", (folder_ / "state").string(), kInsideState});
  if (settings_.virtual_display) {
    a.insert(a.end(), {"--bind", (folder_ / "x11").string(), "/tmp/.X11-unix"});
  } else {
    // The user's display: its socket, and its authority file when there is one.
    const std::string& d = settings_.own_display;
    const size_t colon = d.find(':');
    const std::string number = colon == std::string::npos ? std::string() : d.substr(colon + 1, d.find('.', colon) - colon - 1);
    const std::string socket = "/tmp/.X11-unix/X" + number;
    a.insert(a.end(), {"--bind", socket, socket});
    const char* authority = getenv("XAUTHORITY");
    std::string file = authority != nullptr ? authority : home != nullptr ? std::string(home) + "/.Xauthority" : "";
    if (!file.empty() && access(file.c_str(), R_OK) == 0) a.insert(a.end(), {"--ro-bind", file, kInsideXauthority});
  }
  a.insert(a.end(), {"--remount-ro", "/run", "--chdir", "/"});
  return a;
}

Environment Sandbox::InsideEnvironment() const {
  Environment environment;
  // Only what Wine and the display need: no session bus, agent or runtime folder of the user.
  for (const char* key : {"PATH", "HOME", "USER", "LOGNAME", "LANG", "LANGUAGE", "TZ"}) {
    const char* value = getenv(key);
    if (value != nullptr) environment.push_back(std::string(key) + "=" + value);
  }
  for (char** e = environ; *e != nullptr; ++e) {
    if (strncmp(*e, "LC_", 3) == 0) environment.push_back(*e);
  }
  const std::string prefix = isolated() ? kInsidePrefix : prefix_.path().string();
  for (const std::string& v : WineVariables(prefix)) environment.push_back(v);
  environment.push_back("KOVSEA_STATE=" + (isolated() ? std::string(kInsideState) : (folder_ / "state").string()));
  if (!settings_.virtual_display) {
    environment.push_back("DISPLAY=" + settings_.own_display);
    if (isolated()) {
      environment.push_back(std::string("XAUTHORITY=") + kInsideXauthority);
    } else if (const char* authority = getenv("XAUTHORITY")) {
      environment.push_back(std::string("XAUTHORITY=") + authority);
    }
  }
  return environment;
}

bool Sandbox::Start(const std::vector<std::string>& observer_arguments, Problems* problems) {
  int observer_end = -1;
  int info[2] = {-1, -1};
  if (!channel_.Open(&observer_end) || pipe2(info, O_CLOEXEC) != 0) {
    problems->push_back({"kovsea try", std::nullopt, std::string("cannot make the observer's channel: ") + strerror(errno), ""});
    if (observer_end >= 0) close(observer_end);
    return false;
  }
  // Well above 4, so that handing them to the child as 3 and 4 cannot overwrite each other.
  const int passed_channel = fcntl(observer_end, F_DUPFD_CLOEXEC, 10);
  const int passed_info = fcntl(info[1], F_DUPFD_CLOEXEC, 10);
  close(observer_end);
  close(info[1]);
  std::vector<std::string> argv = isolated() ? BubblewrapArguments() : std::vector<std::string>{};
  argv.insert(argv.end(), {"/bin/sh", "-c", kLauncher, "kovsea-sandbox", settings_.virtual_display ? "virtual" : "own",
                           "wine", isolated() ? kInsideObserver : fs::absolute(settings_.observer).string()});
  argv.insert(argv.end(), observer_arguments.begin(), observer_arguments.end());
  argv.push_back(sea_windows_);
  SpawnOptions options;
  options.stderr_file = log_;
  options.pass_fds = {passed_channel, passed_info};
  launcher_ = Spawn(argv, InsideEnvironment(), options);
  close(passed_channel);
  close(passed_info);
  if (launcher_.pid <= 0) {
    close(info[0]);
    problems->push_back({"kovsea try", std::nullopt, "cannot start " + argv[0], ""});
    return false;
  }
  if (isolated()) {
    // bubblewrap names the sandbox's first process once the namespaces exist.
    std::string text;
    pollfd p = {info[0], POLLIN, 0};
    const long long deadline = MonotonicMs() + kStartTimeoutMs;
    while (text.find('}') == std::string::npos && MonotonicMs() < deadline &&
           poll(&p, 1, static_cast<int>(deadline - MonotonicMs())) > 0) {
      char chunk[512];
      const ssize_t n = read(info[0], chunk, sizeof chunk);
      if (n <= 0) break;
      text.append(chunk, static_cast<size_t>(n));
    }
    const size_t key = text.find("\"child-pid\"");
    if (key != std::string::npos) namespace_init_ = static_cast<pid_t>(atol(text.c_str() + text.find(':', key) + 1));
  }
  close(info[0]);
  if (isolated() && namespace_init_ <= 0) {
    problems->push_back({"kovsea try", std::nullopt, "the sandbox did not start (" + log_ + ")", ""});
    Stop(0);
    return false;
  }
  return true;
}

void Sandbox::Stop(int grace_ms) {
  channel_.Close();
  if (launcher_.pid > 0 && WaitChild(&launcher_, grace_ms) == -1) {
    // Without isolation, the process group is all that can be ended from here; in the
    // sandbox, ending bubblewrap ends its namespace and everything in it.
    EndChild(&launcher_, 1000);
  }
  if (!isolated() && !prefix_.path().empty()) prefix_.EndSession();
}

std::vector<SandboxProcess> Sandbox::Processes() const {
  std::vector<SandboxProcess> inside;
  if (!isolated() || namespace_init_ <= 0) return inside;
  struct Entry {
    pid_t parent;
    unsigned long long started;
  };
  std::map<pid_t, Entry> all;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return inside;
  while (dirent* d = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(atol(d->d_name));
    if (pid <= 0) continue;
    const std::string stat = ReadSmallFile("/proc/" + std::string(d->d_name) + "/stat");
    const size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos) continue;
    // After the name: state, parent, ... the start time is the 20th field after it.
    std::vector<std::string> fields;
    size_t at = close_paren + 2;
    while (at < stat.size() && fields.size() < 20) {
      const size_t end = stat.find(' ', at);
      fields.push_back(stat.substr(at, end - at));
      if (end == std::string::npos) break;
      at = end + 1;
    }
    if (fields.size() < 20) continue;
    all[pid] = {static_cast<pid_t>(atol(fields[1].c_str())), strtoull(fields[19].c_str(), nullptr, 10)};
  }
  closedir(proc);
  // Wine's loaders, known by the programs it was started with (the first processes inside).
  for (const auto& [pid, entry] : all) {
    pid_t up = entry.parent;
    for (int depth = 0; up > 1 && up != namespace_init_ && depth < 4096; ++depth) {
      const auto it = all.find(up);
      up = it == all.end() ? 0 : it->second.parent;
    }
    if (up != namespace_init_ || pid == namespace_init_) continue;
    SandboxProcess p;
    p.pid = pid;
    p.started = entry.started;
    char target[4096];
    const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) p.executable.assign(target, static_cast<size_t>(n));
    p.command_line = CommandLineOf(pid);
    const std::string base = fs::path(p.executable).filename().string();
    p.wine = base.rfind("wine", 0) == 0 && Under(p.executable, "/usr");
    inside.push_back(p);
  }
  return inside;
}

fs::path Sandbox::Outside(const std::string& inside) const {
  const fs::path path = fs::path(inside).lexically_normal();
  for (const fs::path& part : path) {
    if (part == "..") return fs::path();
  }
  const std::string text = path.string();
  const std::string root = isolated() ? std::string(kInsidePrefix) : prefix_.path().lexically_normal().string();
  if (!Under(text, root)) return fs::path();
  return prefix_.path() / text.substr(std::min(text.size(), root.size() + 1));
}

std::string Sandbox::DisplayName() {
  if (display_.empty()) {
    std::string text = ReadSmallFile((folder_ / "state" / "display").string(), 64);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!text.empty() && text[0] == ':' && text.find_first_not_of("0123456789", 1) == std::string::npos) display_ = text;
  }
  return display_;
}

bool Sandbox::TakePicture(int x, int y, int width, int height, const fs::path& out) {
  const std::string display = DisplayName();
  if (width <= 0 || height <= 0 || display.empty() || FindProgram("import").empty()) return false;
  const std::string crop = std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" +
                           std::to_string(y);
  std::vector<std::string> argv;
  if (isolated() && settings_.virtual_display) {
    // The display's socket lies in the trial's folder; the picture is taken by a client in a
    // sandbox of its own that sees that socket and the picture's folder only.
    const std::string folder = fs::absolute(out).parent_path().string();
    argv = {"bwrap", "--unshare-all", "--die-with-parent", "--new-session", "--ro-bind", "/", "/", "--dev", "/dev",
            "--tmpfs", "/tmp", "--bind", (folder_ / "x11").string(), "/tmp/.X11-unix", "--bind", folder, folder, "--"};
  }
  argv.insert(argv.end(), {"import", "-display", display, "-window", "root", "-crop", crop, "+repage", out.string()});
  return RunProgram(argv, EnvironmentWith({"DISPLAY=" + display}), 20000) == 0;
}

std::string Sandbox::Description() const {
  if (!isolated()) return "NOT ISOLATED: the installer ran as you, with your files, network and processes";
  std::string text = "a bubblewrap sandbox: the host read-only, home and /tmp private, no network, its processes ended with kovsea";
  if (!settings_.virtual_display) text += "; your display " + settings_.own_display + " is shared with it";
  return text;
}

}  // namespace trial
