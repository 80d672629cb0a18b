// Placing the stub's windows: the hidden owner window and the progress dialog both open at
// the centre of the primary screen.
#include "win32_platform.h"

namespace platform {

void CentreOnPrimaryScreen(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int x = CenteredOrigin(GetSystemMetrics(SM_CXSCREEN), rect.right - rect.left);
  const int y = CenteredOrigin(GetSystemMetrics(SM_CYSCREEN), rect.bottom - rect.top);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

}  // namespace platform
