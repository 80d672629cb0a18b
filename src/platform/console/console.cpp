#include "console_platform.h"

#include "messages.h"
#include "platform_run.h"
#include "text.h"

namespace platform {
namespace {

console::MessageSink g_sink = nullptr;
void* g_sink_context = nullptr;

}  // namespace

void console::SetMessageSink(MessageSink sink, void* context) {
  g_sink = sink;
  g_sink_context = context;
}

// The texts of the stub's string table, without one.
int LoadMessage(int id, char* buffer, int capacity) {
  if (capacity <= 0) return 0;
  const char* text = MessageText(id);
  CopyText(buffer, static_cast<size_t>(capacity), text != nullptr ? text : "");
  return static_cast<int>(TextLength(buffer));
}

void ShowErrorBox(Window, const char* text, const char* caption) {
  if (g_sink != nullptr) g_sink(g_sink_context, text, caption);
}

void HideWindow(Window) {}
void SetProgressBar(Window, int32_t) {}

// The restart is the deployment system's: it is never asked for here.
uint32_t PlatformId() { return 0; }
void EnableShutdownPrivilege() {}
bool RequestRestart() { return false; }

}  // namespace platform
