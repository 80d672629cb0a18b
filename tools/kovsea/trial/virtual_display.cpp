#include "virtual_display.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace trial {
namespace {

constexpr int kStartTimeoutMs = 15000;

}  // namespace

bool VirtualDisplay::Start(Problems* problems) {
  char scratch[] = "/tmp/kovsea-display-XXXXXX";
  if (mkdtemp(scratch) == nullptr) {
    problems->push_back({"/tmp", std::nullopt, "cannot create a scratch directory for the virtual display", ""});
    return false;
  }
  scratch_ = scratch;
  // The server picks a free display itself and writes its number to the descriptor once it
  // accepts connections.
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return false;
  SpawnOptions server_options;
  server_options.pass_fd = ready[1];
  server_options.stderr_file = scratch_ + "/xvfb.log";
  server_ = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                  EnvironmentWith({}), server_options);
  close(ready[1]);
  std::string number;
  pollfd p = {ready[0], POLLIN, 0};
  while (server_.pid > 0 && poll(&p, 1, kStartTimeoutMs) > 0) {
    char c;
    if (read(ready[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(ready[0]);
  if (number.empty()) {
    problems->push_back({"Xvfb", std::nullopt, "the virtual display did not start (" + scratch_ + "/xvfb.log)", ""});
    Stop();
    return false;
  }
  name_ = ":" + number;
  // openbox runs its start-up command once it manages the screen.
  const std::string marker = scratch_ + "/window-manager-ready";
  SpawnOptions manager_options;
  manager_options.stderr_file = scratch_ + "/openbox.log";
  manager_ = Spawn({"openbox", "--sm-disable", "--startup", "touch " + marker}, EnvironmentWith({"DISPLAY=" + name_}),
                   manager_options);
  for (int waited = 0; manager_.pid > 0 && waited < kStartTimeoutMs; waited += 10) {
    if (access(marker.c_str(), F_OK) == 0) return true;
    if (WaitChild(&manager_, 0) != -1) break;
    usleep(10000);
  }
  problems->push_back({"openbox", std::nullopt, "the window manager did not start on the virtual display", ""});
  Stop();
  return false;
}

void VirtualDisplay::Stop() {
  EndChild(&manager_, 1000);
  EndChild(&server_, 2000);
  if (!scratch_.empty()) {
    std::error_code error;
    std::filesystem::remove_all(scratch_, error);
    scratch_.clear();
  }
}

}  // namespace trial
