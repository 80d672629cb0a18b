// The line protocol with kovsea: events on stdout, answers on stdin.
#include "observer.h"

namespace observer {
namespace {

LARGE_INTEGER g_frequency;
LARGE_INTEGER g_start;
uint64_t g_waited_ticks = 0;

void Escape(const std::string& field, std::string* out) {
  for (char c : field) {
    switch (c) {
      case '\\': *out += "\\\\"; break;
      case '\t': *out += "\\t"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      default: *out += c;
    }
  }
}

void WriteAll(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &written, nullptr) ||
        written == 0) {
      return;  // kovsea went away; the debugging loop ends the processes when it ends
    }
    done += written;
  }
}

}  // namespace

void StartClock() {
  QueryPerformanceFrequency(&g_frequency);
  QueryPerformanceCounter(&g_start);
}

uint32_t Clock() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const uint64_t ticks = static_cast<uint64_t>(now.QuadPart - g_start.QuadPart) - g_waited_ticks;
  return static_cast<uint32_t>(ticks * 1000 / static_cast<uint64_t>(g_frequency.QuadPart));
}

void Emit(const char* event, const std::vector<std::string>& fields) {
  std::string line = Decimal(Clock());
  line += '\t';
  line += event;
  for (const std::string& field : fields) {
    line += '\t';
    Escape(field, &line);
  }
  line += '\n';
  WriteAll(line);
}

std::string AwaitReply() {
  LARGE_INTEGER before;
  QueryPerformanceCounter(&before);
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  std::string line;
  char c;
  DWORD got = 0;
  while (ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') line += c;
  LARGE_INTEGER after;
  QueryPerformanceCounter(&after);
  g_waited_ticks += static_cast<uint64_t>(after.QuadPart - before.QuadPart);
  return line;
}

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::string Decimal(uint64_t value) {
  char buffer[24];
  int at = sizeof buffer;
  buffer[--at] = '\0';
  do {
    buffer[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::string(buffer + at);
}

std::string HandleText(HWND window) {
  char buffer[20];
  wsprintfA(buffer, "%lx", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(window)));
  return buffer;
}

std::string UnixPath(const wchar_t* path) {
  // Wine's own export: the Linux file a Windows path names (allocated on the process heap).
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  static const auto unix_file_name = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (unix_file_name == nullptr) return "-";
  char* name = unix_file_name(path);
  if (name == nullptr) return "-";
  std::string out(name);
  HeapFree(GetProcessHeap(), 0, name);
  return out;
}

}  // namespace observer
