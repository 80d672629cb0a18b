#include "unattended_install.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>

#include "command_line.h"
#include "console_platform.h"
#include "deployment_facts.h"
#include "handoff.h"
#include "host_files.h"
#include "install_checks.h"
#include "install_result.h"
#include "platform_run.h"
#include "reading.h"
#include "restart.h"
#include "run_log.h"
#include "sea_file.h"
#include "sea_result.h"
#include "temp_root.h"
#include "text.h"
#include "unicode_switches.h"
#include "verification.h"

namespace host = platform::host;
using Clock = std::chrono::steady_clock;

namespace {


const std::string kRequestPlace = std::string("HKLM\\") + kProductKeyPath + " \"" + kRebootValueName + "\"";

std::string Seconds(Clock::duration duration) {
  char text[32];
  snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(duration).count());
  return text;
}

// What the hand-off's hooks share with the run: the log, the time allowed, and what the
// log's next lines need to know.
struct Watch {
  Watch(RunLog* run_log, const std::string& disk, uint32_t timeout)
      : log(run_log), disk_directory(disk), timeout_seconds(timeout) {}
  RunLog* log;
  std::string disk_directory;
  uint32_t timeout_seconds;
  Clock::time_point deadline{};
  Clock::time_point waiting_since{};
  uint32_t waited_process = 0;  // the engine process being waited for
  std::string command_line;
  std::string utf8_arguments;  // Setup.exe's switches in Unicode; empty when the ANSI ones do
  bool exit_code_read = false;
  uint32_t setup_exit_code = 0;
  std::string unopened;  // the last unopenable window's line, logged once
};

void Report(void* context, HandOffStep step, const char* text, uint32_t number, bool ok) {
  Watch& w = *static_cast<Watch*>(context);
  switch (step) {
    case HandOffStep::kRequestReset:
      w.log->Line(ok ? "restart request: reset to 0 (" + kRequestPlace + ")"
                     : "restart request: could not be reset (no full access to " + kRequestPlace +
                           "): an answer found there afterwards may be older, and is not acted on");
      break;
    case HandOffStep::kSideFile:
      w.log->Line("side file: " + w.disk_directory + text + " (" + std::to_string(number) + " bytes)" +
                  (ok ? "" : ": could not be written; the installer runs without it"));
      break;
    case HandOffStep::kSetupStarted:
      w.command_line = text;
      if (!w.utf8_arguments.empty()) w.command_line += " (its switches passed in Unicode: " + w.utf8_arguments + ")";
      w.waiting_since = Clock::now();
      w.deadline = w.waiting_since + std::chrono::seconds(w.timeout_seconds);
      w.log->Line(std::string(ok ? "started: " : "could not start: ") + w.command_line);
      break;
    case HandOffStep::kEngineWindow: {
      const std::string owner = "process " + std::to_string(number) + ", owner of a window of class " + text;
      if (ok) {
        w.log->Line("engine: waiting for " + owner);
        w.unopened.clear();
        w.waited_process = number;
        w.waiting_since = Clock::now();
      } else if (w.unopened != owner) {
        w.log->Line("engine: " + owner + ", cannot be opened: looking again every " +
                    std::to_string(kUnopenedProcessPauseMs) + " ms while the window exists");
        w.unopened = owner;
      }
      break;
    }
    case HandOffStep::kWindowsGone:
      w.log->Line("engine: no installer-engine window is left");
      break;
    case HandOffStep::kDeleted:
      w.log->Line(std::string("deleted: ") + text);
      break;
    case HandOffStep::kGone:
      w.log->Line(std::string("gone already (removed by the installer, or listed twice): ") + text);
      break;
    case HandOffStep::kScheduled:
      w.log->Line(std::string("scheduled for deletion at the next restart (still in use): ") + text);
      break;
    case HandOffStep::kNotDeleted:
      w.log->Line(std::string("not deleted, and its deletion at the next restart was refused: ") + text);
      break;
  }
}

// Milliseconds left until the deadline, 0 when it has passed.
uint32_t MillisecondsLeft(const Watch& w) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(w.deadline - Clock::now()).count();
  return static_cast<uint32_t>(std::clamp<int64_t>(left, 0, 0xFFFFFFFE));
}

bool Wait(void* context, platform::Process* process) {
  Watch& w = *static_cast<Watch*>(context);
  bool ended = true;
  if (w.timeout_seconds == 0) {
    platform::WaitForProcess(process);
  } else {
    ended = platform::WaitForProcessFor(process, MillisecondsLeft(w));
  }
  if (ended && w.waited_process != 0) {
    w.log->Line("engine: process " + std::to_string(w.waited_process) + " has ended (after " +
                Seconds(Clock::now() - w.waiting_since) + ")");
  }
  return ended;
}

void Ended(void* context, platform::Process* process) {
  Watch& w = *static_cast<Watch*>(context);
  w.exit_code_read = platform::ProcessExitCode(process, &w.setup_exit_code);
  const std::string after = " (after " + Seconds(Clock::now() - w.waiting_since) + ")";
  w.log->Line(w.exit_code_read ? "Setup.exe ended with exit code " + std::to_string(w.setup_exit_code) + after
                               : "Setup.exe ended; its exit code could not be read and counts as 0" + after);
}

bool Pause(void* context, uint32_t milliseconds) {
  Watch& w = *static_cast<Watch*>(context);
  if (w.timeout_seconds == 0) {
    platform::Pause(milliseconds);
    return true;
  }
  const uint32_t left = MillisecondsLeft(w);
  if (left == 0) return false;
  platform::Pause(std::min(milliseconds, left));
  return MillisecondsLeft(w) > 0;
}

// Setup.exe with its switches in Unicode where the ANSI code page could not carry them.
platform::Process* Start(void* context, const char* path, const char* command_line) {
  const Watch& w = *static_cast<const Watch*>(context);
  if (w.utf8_arguments.empty()) return platform::StartProgram(path, command_line);
  return platform::StartProgramWithUtf8Arguments(path, w.utf8_arguments.c_str());
}

// The messages the stub would show in its error boxes.
void LogMessage(void* context, const char* text, const char* caption) {
  static_cast<RunLog*>(context)->Line(std::string("message: ") + text + " (" + caption + ")");
}

// The run's last line, on stderr too whatever the verbosity: a deployment system's own log
// then says what the exit code means.
uint32_t Finish(RunLog& log, uint32_t code, bool from_setup, const std::string& why = std::string()) {
  log.Line(ResultLine(code, from_setup) + (why.empty() ? "" : ", " + why), true);
  return code;
}

uint32_t Fail(RunLog& log, const std::string& what) {
  log.Line("error: " + what);
  fprintf(stderr, "kovsea: error: %s\n", what.c_str());
  return Finish(log, kInstallFailed, false);
}

}  // namespace

uint32_t RunUnattendedInstall(const InstallOptions& options) {
  const std::string file = options.file.string();
  const std::string arguments = JoinArguments(options.arguments);
  // Setup.exe's full path in quotes (at most 261 characters), a blank, the arguments.
  if (kPathCapacity + 2 + arguments.size() > kMaxCommandLineLength) {
    fprintf(stderr, "kovsea: error: the arguments make a command line longer than Windows starts (%zu characters)\n",
            kMaxCommandLineLength);
    return kInstallUsage;
  }
  std::string utf8_arguments;
  if (!UnicodeSwitches(options.arguments, &utf8_arguments)) {
    fprintf(stderr, "kovsea: error: the installer's switches hold characters this system's ANSI code page cannot "
                    "spell, and could not be read exactly from the command line: give them last, after --\n");
    return kInstallUsage;
  }
  const std::string log_problem = LogFileProblem(options.log_file, options.file);
  if (!log_problem.empty()) {
    fprintf(stderr, "kovsea: error: %s\n", log_problem.c_str());
    return kInstallUsage;
  }
  RunLog log;
  if (!log.Open(options.log_file, options.verbose)) {
    fprintf(stderr, "kovsea: error: cannot append to %s: %s\n", options.log_file.c_str(), strerror(errno));
    return kInstallFailed;
  }
  log.Line("kovsea " + options.version + " install " + file + (options.arguments.empty() ? "" : " -- " + arguments));
  for (const std::string& note : InstallNotes(options.arguments)) log.Line("note: " + note, true);

  // The file is checked as verify checks it, with this machine's temporary directory.
  char temp[kPathCapacity + 1];
  const size_t temp_length = platform::TemporaryDirectory(temp, sizeof temp);
  if (temp_length == 0 || temp_length >= sizeof temp) return Fail(log, "no temporary directory the extraction root can be made in");
  Sea sea;
  Problem problem;
  Problems problems;
  TrustReport trust;
  if (OpenSea(options.file, &sea, &problem)) {
    problems = VerifySea(&sea, options.codepage, static_cast<uint32_t>(temp_length));
    for (const Problem& p : CheckTrust(sea, options.pins, options.require_digest, TrustUse::kInstall, ReadPkcs7,
                                       &trust)) {
      problems.push_back(p);
    }
  } else {
    problems.push_back(problem);
  }
  if (!problems.empty()) {
    for (const Problem& p : problems) log.Line("verify: " + ProblemText(p));
    PrintErrors(problems);
    return Finish(log, kInstallFailed, false, "nothing was extracted");
  }
  for (const std::string& line : DescribeSignatureReport(trust.signature)) log.Line("verify:" + line.substr(1));
  log.Line("verify:" + DescribeContent(trust.content).substr(1));
  std::vector<host::CatalogueEntry> entries;
  CatalogueStream(&sea, options.codepage, &entries);
  const DeploymentFacts facts = FactsOf(entries, sea.trailer);
  log.Line("verified: " + std::to_string(entries.size()) + " entries, " + std::to_string(facts.temp_bytes) +
           " bytes under " + temp);

  // The stub's own steps from here: the root, the entries, the hand-off.
  platform::console::SetMessageSink(LogMessage, &log);
  uint8_t decode_buffer[kBlockSize];
  uint8_t read_buffer[kBlockSize];
  ExtractionState state;
  PrepareExtractionState(&state, sea.file, &sea.trailer, decode_buffer, read_buffer);
  if (CreateTempRoot(&state) != kSeaSuccess) return Fail(log, std::string("cannot make the extraction root in ") + temp);
  const std::string root = state.extraction_root;
  log.Line("root: " + root + " (private: this user, the system account and the administrators only)");
  host::TargetDirectoryByFullPaths(root, options.codepage.name());
  platform::SeekTo(sea.file, sea.trailer.archive_offset);
  problems = StreamProblems(sea, DecodePrepared(&state), options.codepage);
  if (problems.empty()) {
    for (const host::CatalogueEntry& e : entries) {
      log.Line(e.is_directory ? "directory: " + root + e.name
                              : "file: " + root + e.name + " (" + std::to_string(e.size) + " bytes)");
    }
  } else {
    for (const Problem& p : problems) log.Line("extract: " + ProblemText(p));
    state.error_flag = 1;  // the hand-off then only deletes
  }

  Watch watched(&log, root + kDiskDirectoryPath, options.timeout_seconds);
  watched.utf8_arguments = utf8_arguments;
  const HandOffWatch watch = {arguments.empty() ? nullptr : arguments.c_str(), &watched, Report, Wait, Ended, Pause,
                              Start};
  const HandOffOutcome outcome = HandOffToInstaller(sea.file, &state, watch);
  if (state.archive_file == nullptr) sea.file = nullptr;  // closed by the hand-off
  host::ClearTarget();
  platform::console::SetMessageSink(nullptr, nullptr);

  switch (outcome.end) {
    case HandOffEnd::kSkipped:
      PrintErrors(problems);
      return Finish(log, kInstallFailed, false, "nothing was started, and what was extracted is deleted");
    case HandOffEnd::kNotStarted:
      TakeRestartRequest(outcome.request_reset);
      return Fail(log, "Setup.exe could not be started: " + watched.command_line);
    case HandOffEnd::kRanOut: {
      const std::string what = "the installer still runs after " + std::to_string(options.timeout_seconds) +
                               " s: it is left running, its files are deleted at the next restart, and its "
                               "restart request is not read";
      log.Line(what, true);
      return Finish(log, kInstallRanOut, false);
    }
    case HandOffEnd::kCompleted:
      break;
  }
  const uint32_t request = TakeRestartRequest(outcome.request_reset);
  log.Line("restart request: " + std::to_string(request) + ", " + DescribeRestartRequest(request) +
           "; kovsea restarts nothing");
  const uint32_t setup_exit_code = watched.exit_code_read ? watched.setup_exit_code : 0;
  return Finish(log, InstallExitCode(setup_exit_code, request), setup_exit_code != 0);
}
