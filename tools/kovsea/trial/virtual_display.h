// Where the trial's windows appear: the user's own display as it is, or a virtual one (an
// X server without a screen, Xvfb) with a window manager on it (openbox), as a desktop has
// one: without a window manager Wine waits about 2 s for every hidden window to be
// withdrawn, and the stub's dialog would stay up that long.
#pragma once

#include <string>

#include "child_process.h"
#include "problem.h"

namespace trial {

class VirtualDisplay {
 public:
  VirtualDisplay() = default;
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;
  ~VirtualDisplay() { Stop(); }
  // Starts the X server on a free display and the window manager on it, and returns once
  // the window manager has started.
  bool Start(Problems* problems);
  void Stop();
  // ":N"
  const std::string& name() const { return name_; }

 private:
  Child server_;
  Child manager_;
  std::string name_;
  std::string scratch_;
};

}  // namespace trial
