#include "observer_channel.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "child_process.h"

namespace trial {
namespace {

constexpr size_t kForeignTextBytes = 200;
constexpr size_t kLongestLine = 1u << 20;  // the observer's longest line is far shorter

}  // namespace

bool ObserverChannel::Open(int* observer_end) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  const int on = 1;
  if (setsockopt(pair[0], SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
    close(pair[0]);
    close(pair[1]);
    return false;
  }
  fd_ = pair[0];
  *observer_end = pair[1];
  return true;
}

// Reads one chunk: the kernel hands out one writer's bytes at a time, with its credentials.
bool ObserverChannel::Receive(int timeout_ms) {
  pollfd p = {fd_, POLLIN, 0};
  const int ready = poll(&p, 1, timeout_ms);
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0) return ready == 0;
  char data[8192];
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
  iovec io = {data, sizeof data};
  msghdr message = {};
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(fd_, &message, MSG_CMSG_CLOEXEC);
  if (got < 0 && errno == EINTR) return true;
  if (got <= 0) {
    ended_ = true;
    return false;
  }
  pid_t sender = 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
      ucred credentials;
      memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
      sender = credentials.pid;
    }
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
      // Descriptors sent along are not wanted: closed at once.
      const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (size_t i = 0; i < count; ++i) {
        int fd;
        memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
        close(fd);
      }
    }
  }
  if (writer_ == 0 && sender > 0) writer_ = sender;
  if (sender == 0 || sender != writer_) {
    ForeignWrite write;
    write.pid = sender;
    write.program = sender > 0 ? CommandLineOf(sender) : std::string();
    write.text.assign(data, std::min(static_cast<size_t>(got), kForeignTextBytes));
    foreign_.push_back(write);
    return true;
  }
  buffer_.append(data, static_cast<size_t>(got));
  if (buffer_.size() > kLongestLine && buffer_.find('\n') == std::string::npos) {
    // Not the observer's protocol: nothing after this can be trusted to be whole.
    ended_ = true;
    return false;
  }
  return true;
}

bool ObserverChannel::ReadLine(std::string* line, long long deadline_ms, const volatile sig_atomic_t* stop) {
  for (;;) {
    const size_t cut = buffer_.find('\n');
    if (cut != std::string::npos) {
      line->assign(buffer_, 0, cut);
      buffer_.erase(0, cut + 1);
      return true;
    }
    if (fd_ < 0 || ended_ || MonotonicMs() >= deadline_ms || (stop != nullptr && *stop)) return false;
    if (!Receive(100)) return false;
  }
}

bool ObserverChannel::Reply(const std::string& text) {
  if (fd_ < 0) return false;
  const std::string line = text + "\n";
  return send(fd_, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
}

void ObserverChannel::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace trial
