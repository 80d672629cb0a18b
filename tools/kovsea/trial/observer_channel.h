// The line channel between kovsea and kovsea-observer.exe inside the sandbox: a Unix stream
// socket whose every chunk carries, from the kernel, the process that wrote it.
//
// Inside the sandbox every process runs as one user, so an installer can reach the
// observer's end of the channel (by duplicating its handle, or through /proc) and write lines
// of its own. The kernel names the writer of each chunk and never joins chunks of two
// writers, so the first writer, the observer itself (it writes "hello" before the
// self-extractor exists), is the only one whose lines are read; a chunk from any other
// process is set aside as a foreign write, which the verdict counts against the run.
//
// What it cannot tell: code the installer injects into the observer's own process writes as
// the observer.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace trial {

struct ForeignWrite {
  pid_t pid = 0;         // the writer, as this process sees it
  std::string program;   // its command line, when it could be read
  std::string text;      // what it wrote (the first bytes)
};

class ObserverChannel {
 public:
  ObserverChannel() = default;
  ObserverChannel(const ObserverChannel&) = delete;
  ObserverChannel& operator=(const ObserverChannel&) = delete;
  ~ObserverChannel() { Close(); }

  // Makes the pair; `*observer_end` is the descriptor to give the observer as its stdin and
  // stdout (the caller closes it once the observer has been started).
  bool Open(int* observer_end);
  // The next line from the observer, without its line break. False at the end of the
  // channel, when `deadline_ms` (CLOCK_MONOTONIC) has passed, or when `*stop` is set.
  bool ReadLine(std::string* line, long long deadline_ms, const volatile sig_atomic_t* stop);
  // A one-line answer to the observer; false when it can no longer be sent.
  bool Reply(const std::string& text);
  void Close();

  bool ended() const { return ended_; }
  pid_t writer() const { return writer_; }
  const std::vector<ForeignWrite>& foreign_writes() const { return foreign_; }

 private:
  bool Receive(int timeout_ms);

  int fd_ = -1;
  pid_t writer_ = 0;
  bool ended_ = false;
  std::string buffer_;
  std::vector<ForeignWrite> foreign_;
};

}  // namespace trial
