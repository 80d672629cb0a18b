// Win32-only parts of the platform that the entry point and tests set up.
#pragma once

#include <windows.h>

#include <stdint.h>

namespace platform {

// Origin that centres a window of `window_extent` on a screen of `screen_extent`: the
// difference halved with signed division, which rounds toward zero (-5 gives -2, not -3).
inline int32_t CenteredOrigin(int32_t screen_extent, int32_t window_extent) {
  return (screen_extent - window_extent) / 2;
}
// Moves `window` to the centre of the primary screen without resizing it or changing its
// place in the Z order.
void CentreOnPrimaryScreen(HWND window);

// The window property HideWindow sets: a window that carries it stays hidden.
constexpr char kHiddenProperty[] = "KovseaHidden";

// The program's module instance: every string load and the dialog runner use it.
void SetInstanceHandle(HINSTANCE instance);
HINSTANCE InstanceHandle();

// The protection of the extraction root: an access list granting full control to the user
// running the program, the system account and the administrators, inherited by everything
// created inside, and protected from what the parent directory would pass on.
struct PrivateSecurity {
  SECURITY_DESCRIPTOR descriptor;
  union {
    ACL acl;
    BYTE bytes[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
  } dacl;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } owner;
  PSID system;
  PSID administrators;
};
// Fills `security`; false when any part cannot be had (GetLastError tells why). Release it
// with FreePrivateSecurity either way.
bool BuildPrivateSecurity(PrivateSecurity* security);
void FreePrivateSecurity(PrivateSecurity* security);

}  // namespace platform
