// The stub's Windows entry point: safe DLL search, common controls, the hidden owner window,
// then the run itself (RunStub). The command line is not read; the exit code is always 1.
//
// The stub is linked without the C runtime's start-up code: it reads no arguments, has no
// static constructors, no thread-local data and no exit handlers, and msvcrt.dll sets itself
// up when it is loaded. What the start-up code would add (argument parsing, TLS and exception
// frame registration, its own sections) is a third of the image for nothing.
#include "run_sequence.h"
#include "win32_platform.h"

namespace {

constexpr char kHiddenWindowName[] = "KOVsda_Hidden_Window";

// A self-extractor is started from download folders full of other people's files, so no DLL
// may ever be loaded from its own directory: only the system directory is searched.
void RestrictDllSearchToSystemDirectory() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_default != nullptr) set_default(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
  // Older systems lack it; there the current directory at least leaves the search order.
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  auto set_dll_directory = reinterpret_cast<SetDllDirectoryFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
  if (set_dll_directory != nullptr) set_dll_directory("");
}

// Registers the progress bar class. comctl32 is loaded by full path from the system
// directory and never imported, so no copy beside the program can stand in for it.
void InitialiseCommonControls() {
  char path[MAX_PATH + 16];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcatA(path, "\\comctl32.dll");
  HMODULE comctl = LoadLibraryA(path);
  if (comctl == nullptr) return;
  using InitCommonControlsFn = void(WINAPI*)();
  auto init = reinterpret_cast<InitCommonControlsFn>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControls")));
  if (init != nullptr) init();
}

LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CREATE) {
    platform::CentreOnPrimaryScreen(window);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// The dialog's owner. Failures are ignored: the dialog then simply has no owner.
HWND CreateHiddenOwnerWindow(HINSTANCE instance) {
  WNDCLASSA window_class;
  ZeroMemory(&window_class, sizeof window_class);
  window_class.lpfnWndProc = HiddenWindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kHiddenWindowName;
  RegisterClassA(&window_class);
  HWND window = CreateWindowExA(0, kHiddenWindowName, kHiddenWindowName, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                nullptr, nullptr, instance, nullptr);
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);
  return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  RestrictDllSearchToSystemDirectory();
  platform::SetInstanceHandle(instance);
  InitialiseCommonControls();
  return RunStub(CreateHiddenOwnerWindow(instance));
}

// Where Windows starts the process. The system only guarantees a 4-byte aligned stack here,
// so it is realigned for the compiler's assumptions. Open streams are all closed by then;
// ExitProcess lets msvcrt.dll finish its own clean-up as it is unloaded.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void WinMainCRTStartup() {
  ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT)));
}
