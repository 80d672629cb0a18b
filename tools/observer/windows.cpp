// The sandbox's windows: told of every window created through a window-event hook (Wine
// sends creations, not showings), each top-level one is then looked at on every pass of the
// debugging loop, so that one shown even briefly (the progress dialog of a small archive) is
// seen. Message boxes are told apart from other windows by their make-up: a dialog holding
// only static texts and buttons.
#include "handoff.h"
#include "observer.h"

namespace observer {
namespace {

constexpr DWORD kSweepIntervalMs = 250;
constexpr DWORD kPaintAllowanceMs = 100;

struct Watched {
  HWND window;
  DWORD pid;
  bool shown_now;
  bool ever_shown;
};

std::vector<HWND> g_created;
std::vector<Watched> g_watched;
DWORD g_last_sweep = 0;

void CALLBACK OnWindowEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
  if (object == OBJID_WINDOW && child == CHILDID_SELF && window != nullptr) g_created.push_back(window);
}

std::string ClassOf(HWND window) {
  wchar_t name[256] = L"";
  GetClassNameW(window, name, 256);
  return Utf8(name);
}

std::string TextOf(HWND window) {
  wchar_t text[2048] = L"";
  GetWindowTextW(window, text, 2048);
  return Utf8(text);
}

bool IsTopLevel(HWND window) { return GetAncestor(window, GA_PARENT) == GetDesktopWindow(); }

bool IsWatched(HWND window) {
  for (const Watched& w : g_watched) {
    if (w.window == window) return true;
  }
  return false;
}

void Watch(ProcessTable* table, HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (table->Find(pid) == nullptr || !IsTopLevel(window) || IsWatched(window)) return;
  g_watched.push_back({window, pid, false, false});
  const std::string window_class = ClassOf(window);
  if (window_class == kEngineWindowClass || window_class == kDeleteHelperWindowClass) {
    Emit("engine", {Decimal(pid), HandleText(window), window_class});
  }
}

struct Sweep {
  ProcessTable* table;
};

BOOL CALLBACK SweepOne(HWND window, LPARAM param) {
  Watch(reinterpret_cast<Sweep*>(param)->table, window);
  return TRUE;
}

// A message box: a dialog whose children are static texts and buttons only.
struct BoxParts {
  bool other = false;
  std::string text;
  std::string buttons;
};

BOOL CALLBACK CollectPart(HWND child, LPARAM param) {
  auto* parts = reinterpret_cast<BoxParts*>(param);
  const std::string child_class = ClassOf(child);
  const std::string text = TextOf(child);
  if (lstrcmpiA(child_class.c_str(), "Static") == 0) {
    if (!text.empty()) parts->text += (parts->text.empty() ? "" : "\n") + text;
  } else if (lstrcmpiA(child_class.c_str(), "Button") == 0) {
    std::string label;
    for (char c : text) {
      if (c != '&') label += c;
    }
    parts->buttons += (parts->buttons.empty() ? "" : "|") + label;
  } else {
    parts->other = true;
  }
  return TRUE;
}

std::vector<std::string> Rect(HWND window) {
  RECT r = {0, 0, 0, 0};
  GetWindowRect(window, &r);
  return {Decimal(static_cast<uint64_t>(r.left < 0 ? 0 : r.left)), Decimal(static_cast<uint64_t>(r.top < 0 ? 0 : r.top)),
          Decimal(static_cast<uint64_t>(r.right - r.left)), Decimal(static_cast<uint64_t>(r.bottom - r.top))};
}

void PressDefaultButton(HWND box) {
  const LRESULT answer = SendMessageW(box, DM_GETDEFID, 0, 0);
  const int id = HIWORD(answer) == DC_HASDEFID ? LOWORD(answer) : IDOK;
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

void FirstShown(ProcessTable* table, const Watched& w, const WindowOptions& options) {
  const std::string window_class = ClassOf(w.window);
  BoxParts parts;
  if (window_class == "#32770") EnumChildWindows(w.window, CollectPart, reinterpret_cast<LPARAM>(&parts));
  std::vector<std::string> fields = {Decimal(w.pid), HandleText(w.window)};
  if (window_class == "#32770" && !parts.other && !parts.buttons.empty() && !parts.text.empty()) {
    fields.insert(fields.end(), {TextOf(w.window), parts.text, parts.buttons});
    for (const std::string& n : Rect(w.window)) fields.push_back(n);
    Emit("box", fields);
    if (AwaitReply() == "dismiss" && options.dismiss_boxes) PressDefaultButton(w.window);
    return;
  }
  fields.insert(fields.end(), {window_class, TextOf(w.window)});
  for (const std::string& n : Rect(w.window)) fields.push_back(n);
  if (!options.pause_for_windows) {
    Emit("window", fields);
    return;
  }
  // Let the window paint itself before its process stands still for the picture.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(w.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kPaintAllowanceMs, &ignored);
  Sleep(kPaintAllowanceMs);
  table->Suspend(w.pid, true);
  Emit("window", fields);
  AwaitReply();
  table->Suspend(w.pid, false);
}

struct Listing {
  DWORD pid;
};

BOOL CALLBACK EmitOne(HWND window, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != reinterpret_cast<Listing*>(param)->pid) return TRUE;
  const std::string window_class = ClassOf(window);
  const bool visible = IsWindowVisible(window) != FALSE;
  // Hidden windows are the thread's plumbing, except the installer engine's, which the
  // stub waits for.
  if (visible || window_class == kEngineWindowClass || window_class == kDeleteHelperWindowClass) {
    Emit("running-window", {Decimal(pid), window_class, TextOf(window), visible ? "1" : "0"});
  }
  return TRUE;
}

}  // namespace

void WatchWindows() {
  SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, OnWindowEvent, 0, 0,
                  WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
}

void PollWindows(ProcessTable* table, const WindowOptions& options) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  std::vector<HWND> created;
  created.swap(g_created);
  for (HWND window : created) Watch(table, window);
  if (GetTickCount() - g_last_sweep >= kSweepIntervalMs) {
    g_last_sweep = GetTickCount();
    Sweep sweep = {table};
    EnumWindows(SweepOne, reinterpret_cast<LPARAM>(&sweep));
  }
  for (size_t i = 0; i < g_watched.size();) {
    Watched& w = g_watched[i];
    if (!IsWindow(w.window)) {
      if (w.ever_shown) Emit("closed", {HandleText(w.window)});
      g_watched.erase(g_watched.begin() + static_cast<ptrdiff_t>(i));
      continue;
    }
    const bool visible = IsWindowVisible(w.window) != FALSE;
    if (visible && !w.ever_shown) {
      w.ever_shown = true;
      w.shown_now = true;
      const Watched copy = w;  // FirstShown may wait, and the table of windows may grow
      FirstShown(table, copy, options);
    } else if (!visible && w.shown_now) {
      w.shown_now = false;
      Emit("hidden", {HandleText(w.window)});
    } else if (visible) {
      w.shown_now = true;
    }
    ++i;
  }
}

void EmitWindowsOf(DWORD pid) {
  Listing listing = {pid};
  EnumWindows(EmitOne, reinterpret_cast<LPARAM>(&listing));
}

}  // namespace observer
