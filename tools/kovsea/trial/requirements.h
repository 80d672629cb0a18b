// The programs a trial runs, and the Debian packages that hold them.
#pragma once

#include "problem.h"

namespace trial {

// One problem naming every missing program and its package, with the command that installs
// them; none when everything is there. A virtual display needs Xvfb and openbox, pictures
// need ImageMagick's import.
Problems MissingPrograms(bool virtual_display, bool screenshots);

}  // namespace trial
