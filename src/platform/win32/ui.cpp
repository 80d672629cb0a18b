// String table, error boxes and the progress bar.
#include "resource_ids.h"
#include "platform_run.h"
#include "win32_platform.h"

#include <commctrl.h>

namespace platform {
namespace {

HINSTANCE g_instance = nullptr;

}  // namespace

void SetInstanceHandle(HINSTANCE instance) { g_instance = instance; }
HINSTANCE InstanceHandle() { return g_instance; }

int LoadMessage(int id, char* buffer, int capacity) {
  if (capacity <= 0) return 0;
  buffer[0] = '\0';
  return LoadStringA(g_instance, static_cast<UINT>(id), buffer, capacity);
}

void ShowErrorBox(Window owner, const char* text, const char* caption) {
  MessageBoxA(static_cast<HWND>(owner), text, caption, MB_ICONERROR | MB_SETFOREGROUND);
}

void HideWindow(Window window) {
  // Marked first: a dialog still showing itself when the hide arrives would show again after
  // it; the progress dialog keeps a marked window hidden (see its procedure).
  SetPropA(static_cast<HWND>(window), kHiddenProperty, reinterpret_cast<HANDLE>(1));
  ShowWindow(static_cast<HWND>(window), SW_HIDE);
}

void SetProgressBar(Window dialog, int32_t position) {
  SendDlgItemMessageA(static_cast<HWND>(dialog), IDC_PROGRESS, PBM_SETPOS,
                      static_cast<WPARAM>(position), 0);
}

}  // namespace platform
