// Centring a window on the screen.
#pragma once

#include <stdint.h>

// Origin that centres a window of `window_extent` on a screen of `screen_extent`: the
// difference halved with signed division, which rounds toward zero (-5 gives -2, not -3).
inline int32_t CenteredOrigin(int32_t screen_extent, int32_t window_extent) {
  return (screen_extent - window_extent) / 2;
}
