// A sample installer for the demo: shows a small window for a few seconds that lists the
// files it finds beside it, and notes what it saw in the file named by KOVSEA_DEMO_LOG.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

char g_text[4096] = "";

LRESULT CALLBACK DemoProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT r;
    GetClientRect(window, &r);
    InflateRect(&r, -12, -12);
    DrawTextA(dc, g_text, -1, &r, DT_LEFT | DT_WORDBREAK);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  char dir[MAX_PATH];
  strcpy(dir, self);
  *(strrchr(dir, '\\') + 1) = '\0';

  char log_path[MAX_PATH] = "";
  GetEnvironmentVariableA("KOVSEA_DEMO_LOG", log_path, sizeof log_path);
  FILE* log = log_path[0] != '\0' ? fopen(log_path, "a") : nullptr;
  if (log != nullptr) fprintf(log, "Setup.exe ran from %s\n", self);

  snprintf(g_text, sizeof g_text, "KOV SEA demo installer\n\nRunning from:\n%s\n\nFiles beside me:\n", dir);
  char pattern[MAX_PATH];
  snprintf(pattern, sizeof pattern, "%s*", dir);
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern, &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (found.cFileName[0] == '.') continue;
      strncat(g_text, "  ", sizeof g_text - strlen(g_text) - 1);
      strncat(g_text, found.cFileName, sizeof g_text - strlen(g_text) - 1);
      strncat(g_text, "\n", sizeof g_text - strlen(g_text) - 1);
      if (log != nullptr) fprintf(log, "  saw %s (%lu bytes)\n", found.cFileName, found.nFileSizeLow);
    } while (FindNextFileA(h, &found));
    FindClose(h);
  }
  if (log != nullptr) fclose(log);

  WNDCLASSA c;
  ZeroMemory(&c, sizeof c);
  c.lpfnWndProc = DemoProc;
  c.hInstance = instance;
  c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  c.hCursor = LoadCursor(nullptr, IDC_ARROW);
  c.lpszClassName = "KovseaDemoInstaller";
  RegisterClassA(&c);
  HWND window = CreateWindowExA(0, c.lpszClassName, "KOV SEA demo installer",
                                WS_OVERLAPPED | WS_CAPTION, 300, 250, 460, 300, nullptr, nullptr,
                                instance, nullptr);
  ShowWindow(window, show);
  UpdateWindow(window);
  const DWORD end = GetTickCount() + 3000;
  MSG msg;
  while (static_cast<int>(end - GetTickCount()) > 0) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(20);
  }
  return 0;
}
