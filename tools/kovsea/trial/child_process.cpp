#include "child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string.h>

extern char** environ;

namespace trial {
namespace {

int StatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

long long MonotonicMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::string CommandLineOf(pid_t pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/cmdline", static_cast<int>(pid));
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return std::string();
  std::string text(4096, '\0');
  const size_t n = fread(&text[0], 1, text.size(), f);
  fclose(f);
  text.resize(n);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  for (char& c : text) {
    if (c == '\0') c = ' ';
  }
  return text;
}


Environment EnvironmentWith(const std::vector<std::string>& changes, const std::vector<std::string>& removed) {
  Environment out;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string key = entry.substr(0, entry.find('='));
    bool drop = false;
    for (const std::string& r : removed) drop = drop || r == key;
    for (const std::string& c : changes) drop = drop || c.substr(0, c.find('=')) == key;
    if (!drop) out.push_back(entry);
  }
  out.insert(out.end(), changes.begin(), changes.end());
  return out;
}

std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : std::string();
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return std::string();
}

Child Spawn(const std::vector<std::string>& argv, const Environment& environment, const SpawnOptions& options) {
  Child child;
  const std::string program = FindProgram(argv.at(0));
  if (program.empty()) return child;
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  if ((options.pipe_stdin && pipe2(in, O_CLOEXEC) != 0) || (options.pipe_stdout && pipe2(out, O_CLOEXEC) != 0)) {
    for (int fd : {in[0], in[1], out[0], out[1]}) {
      if (fd >= 0) close(fd);
    }
    return child;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.pipe_stdin) {
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  if (options.pipe_stdout) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  } else if (!options.stdout_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, options.stdout_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  if (!options.stderr_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, options.stderr_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  for (size_t i = 0; i < options.pass_fds.size(); ++i) {
    posix_spawn_file_actions_adddup2(&actions, options.pass_fds[i], 3 + static_cast<int>(i));
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (options.pipe_stdin) close(in[0]);
  if (options.pipe_stdout) close(out[1]);
  if (error != 0) {
    if (options.pipe_stdin) close(in[1]);
    if (options.pipe_stdout) close(out[0]);
    return child;
  }
  child.pid = pid;
  child.in = options.pipe_stdin ? in[1] : -1;
  child.out = options.pipe_stdout ? out[0] : -1;
  return child;
}

int WaitChild(Child* child, int timeout_ms) {
  if (child->pid <= 0) return -1;
  const long long end = MonotonicMs() + timeout_ms;
  for (;;) {
    int status = 0;
    const pid_t got = waitpid(child->pid, &status, timeout_ms < 0 ? 0 : WNOHANG);
    if (got == child->pid) {
      child->pid = -1;
      return StatusOf(status);
    }
    if (got < 0 && errno != EINTR) {
      child->pid = -1;
      return -1;
    }
    if (timeout_ms >= 0 && MonotonicMs() >= end) return -1;
    if (timeout_ms >= 0) usleep(10000);
  }
}

void EndChild(Child* child, int grace_ms) {
  if (child->pid > 0) {
    kill(-child->pid, SIGTERM);
    if (WaitChild(child, grace_ms) == -1 && child->pid > 0) {
      kill(-child->pid, SIGKILL);
      WaitChild(child, -1);
    }
  }
  CloseChildPipes(child);
}

void CloseChildPipes(Child* child) {
  if (child->in >= 0) close(child->in);
  if (child->out >= 0) close(child->out);
  child->in = child->out = -1;
}

int RunProgram(const std::vector<std::string>& argv, const Environment& environment, int timeout_ms,
               std::string* output) {
  SpawnOptions options;
  options.pipe_stdout = output != nullptr;
  Child child = Spawn(argv, environment, options);
  if (child.pid <= 0) return -1;
  const long long end = MonotonicMs() + timeout_ms;
  if (output != nullptr) {
    char buffer[4096];
    for (;;) {
      pollfd p = {child.out, POLLIN, 0};
      const int left = static_cast<int>(end - MonotonicMs());
      if (left <= 0 || poll(&p, 1, left) <= 0) break;
      const ssize_t n = read(child.out, buffer, sizeof buffer);
      if (n <= 0) break;
      output->append(buffer, static_cast<size_t>(n));
    }
  }
  const int left = static_cast<int>(end - MonotonicMs());
  const int status = WaitChild(&child, left > 0 ? left : 0);
  if (status == -1) {
    EndChild(&child, 500);
    return -1;
  }
  CloseChildPipes(&child);
  return status;
}

}  // namespace trial
