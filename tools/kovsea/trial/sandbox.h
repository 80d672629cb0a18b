// The room a trial runs in. Everything the trial starts (the virtual display and its window
// manager, the Wine server, kovsea-observer.exe, the self-extractor and all the installer
// starts) runs inside one Linux sandbox made by bubblewrap:
//
//   - the host's file system read-only; the user's home, /home, /root, /tmp, /var/tmp, /run
//     and kovsea's cache (where the Wine template lives) replaced by empty private folders;
//   - writable: only the trial's private copy of the Wine prefix (and the display's socket
//     folder and a state folder of the trial's own);
//   - no network, no capabilities, no further user namespaces, a session of its own;
//   - one PID namespace that the kernel ends, with every process in it, when kovsea ends,
//     whatever ends kovsea (bubblewrap dies with its parent).
//
// Wine resolves Z:, \\?\unix\ and every other Linux path, and starts Linux programs natively:
// inside the sandbox all of these reach only what is described above.
//
// Where no sandbox can be made (no bubblewrap, no user namespaces), the trial is refused
// unless the user asks for `Isolation::kNone`: then the same programs run directly on the
// host, as the user, and every report says so first.
//
// The sandbox owns its folder (removed at the end unless the prefix is kept), its processes
// (ended at the end), and SIGINT, SIGTERM and SIGHUP while it lives: each ends the trial.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "observer_channel.h"
#include "problem.h"
#include "wine_prefix.h"

namespace trial {

enum class Isolation { kSandbox, kNone };

struct SandboxSettings {
  Isolation isolation = Isolation::kSandbox;
  bool virtual_display = true;         // else the user's own DISPLAY
  std::string own_display;             // DISPLAY when not virtual
  std::filesystem::path keep;          // the prefix kept here; empty: a throwaway one
  std::filesystem::path sea;           // the self-extractor, a Linux path taken exactly
  std::filesystem::path observer;      // kovsea-observer.exe
};

// A process running inside the sandbox, as seen from outside it.
struct SandboxProcess {
  pid_t pid = 0;
  unsigned long long started = 0;  // clock ticks after boot: a pid and this name one process
  std::string executable;          // what the kernel runs (/proc/PID/exe), empty if unknown
  std::string command_line;
  bool wine = false;               // the executable is Wine's own loader
};

// Whether a sandbox can be made on this machine; the problem says why not and how to allow it.
bool CanIsolate(Problems* problems);

// Set by SIGINT, SIGTERM or SIGHUP while a sandbox lives.
const volatile sig_atomic_t* InterruptFlag();

class Sandbox {
 public:
  Sandbox() = default;
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  // Ends every process of the trial and removes its folder (the prefix too, unless kept).
  ~Sandbox();

  // Makes the trial's folder and its private copy of the Wine template.
  bool Prepare(const WineTemplate& wine_template, const SandboxSettings& settings, Problems* problems);
  // Starts the display, then kovsea-observer.exe with `observer_arguments` and the
  // self-extractor's Windows path; its lines are then read through channel().
  bool Start(const std::vector<std::string>& observer_arguments, Problems* problems);
  ObserverChannel& channel() { return channel_; }
  // Lets what runs inside end by itself for up to `grace_ms` (the Wine server then saves the
  // registry), then ends everything that is left.
  void Stop(int grace_ms);

  // Every process now inside (empty without isolation, where they cannot be told apart).
  std::vector<SandboxProcess> Processes() const;
  // Where kovsea reads a Linux path named inside the sandbox; empty when it is not in the
  // trial's prefix.
  std::filesystem::path Outside(const std::string& inside) const;
  // The display inside (":0"); read once the display has started.
  std::string DisplayName();
  // A picture of a part of the display; false when none could be taken.
  bool TakePicture(int x, int y, int width, int height, const std::filesystem::path& out);

  bool isolated() const { return settings_.isolation == Isolation::kSandbox; }
  std::string Description() const;  // how the trial is kept from the host, for the report
  const std::filesystem::path& prefix() const { return prefix_.path(); }
  const std::string& sea_windows_path() const { return sea_windows_; }
  const std::string& log() const { return log_; }

 private:
  std::vector<std::string> BubblewrapArguments() const;
  Environment InsideEnvironment() const;

  SandboxSettings settings_;
  std::filesystem::path folder_;   // the trial's own: state, display sockets, (the prefix)
  WinePrefix prefix_;
  std::string sea_windows_;
  std::string inside_sea_;
  std::string log_;
  std::string display_;
  int lock_ = -1;
  Child launcher_;
  pid_t namespace_init_ = 0;       // the sandbox's first process, as seen from outside
  ObserverChannel channel_;
  bool signals_caught_ = false;
  struct sigaction previous_[3] = {};
};

}  // namespace trial
