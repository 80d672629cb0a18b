// Starting the programs a trial needs (Wine, its server, the virtual display, the window
// manager, the screenshot tool) with posix_spawn, each in a process group of its own so
// that it and whatever it starts can be ended together.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace trial {

// An environment as KEY=VALUE strings.
using Environment = std::vector<std::string>;

// The current environment with `changes` (KEY=VALUE) set and `removed` (KEY) left out.
Environment EnvironmentWith(const std::vector<std::string>& changes, const std::vector<std::string>& removed = {});

struct SpawnOptions {
  bool pipe_stdin = false;   // else /dev/null
  bool pipe_stdout = false;  // else stdout_file, else /dev/null
  std::string stdout_file;   // appended to
  std::string stderr_file;   // appended to; else /dev/null
  std::vector<int> pass_fds;  // given to the child as descriptors 3, 4, ...
};

// Milliseconds on CLOCK_MONOTONIC.
long long MonotonicMs();
// A running process's command line, its arguments joined by blanks; empty when unreadable.
std::string CommandLineOf(pid_t pid);

struct Child {
  pid_t pid = -1;
  int in = -1;   // write end of the child's stdin
  int out = -1;  // read end of the child's stdout
};

// The program found on PATH (or `name` itself when it holds a slash); empty when there is none.
std::string FindProgram(const std::string& name);
// Starts `argv` (argv[0] looked up on PATH); pid -1 when it cannot be started.
Child Spawn(const std::vector<std::string>& argv, const Environment& environment, const SpawnOptions& options = {});
// Waits up to `timeout_ms` (negative: without limit). The exit status (128 + N for a
// signal), or -1 when the child is still running.
int WaitChild(Child* child, int timeout_ms);
// Ends the child's process group (SIGTERM, then SIGKILL after `grace_ms`) and reaps it.
void EndChild(Child* child, int grace_ms = 2000);
void CloseChildPipes(Child* child);
// Runs `argv` to its end (at most `timeout_ms`) and returns its exit status, -1 when it
// could not be started or did not end in time; `output` (when given) receives its stdout.
int RunProgram(const std::vector<std::string>& argv, const Environment& environment, int timeout_ms,
               std::string* output = nullptr);

}  // namespace trial
