// The floor a self-extractor's per-file cost is measured against: a bare Win32 program that
// only creates, writes, closes and then deletes the files of a tree, as the stub does, and
// nothing else (no archive read, no dialog, no installer).
//
//   file_floor MANIFEST ROOT
//
// MANIFEST holds one line per entry in the stub's order: "D name" for a directory, "F size
// name" for a file (names relative, with backslashes). ROOT is made, filled and removed.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct Entry {
  bool directory;
  unsigned long size;
  std::string path;
};

char g_data[128 * 1024];

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: file_floor MANIFEST ROOT\n");
    return 2;
  }
  FILE* manifest = fopen(argv[1], "r");
  if (manifest == nullptr) return 2;
  const std::string root = std::string(argv[2]) + "\\";
  std::vector<Entry> entries;
  char line[1024];
  while (fgets(line, sizeof line, manifest) != nullptr) {
    line[strcspn(line, "\r\n")] = '\0';
    if (line[0] == 'D') {
      entries.push_back({true, 0, root + (line + 2)});
    } else if (line[0] == 'F') {
      char* name = nullptr;
      const unsigned long size = strtoul(line + 2, &name, 10);
      entries.push_back({false, size, root + (name + 1)});
    }
  }
  fclose(manifest);
  memset(g_data, 0x5A, sizeof g_data);
  if (!CreateDirectoryA(root.c_str(), nullptr)) return 1;
  for (const Entry& e : entries) {
    if (e.directory) {
      if (!CreateDirectoryA(e.path.c_str(), nullptr)) return 1;
      continue;
    }
    // CREATE_NEW, as the stub creates: truncating (CREATE_ALWAYS) costs Wine an ftruncate.
    HANDLE file = CreateFileA(e.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    for (unsigned long left = e.size; left > 0;) {
      const DWORD step = left < sizeof g_data ? left : sizeof g_data;
      DWORD written = 0;
      if (!WriteFile(file, g_data, step, &written, nullptr) || written != step) return 1;
      left -= step;
    }
    CloseHandle(file);
  }
  for (size_t i = entries.size(); i-- > 0;) {
    if (entries[i].directory) {
      RemoveDirectoryA(entries[i].path.c_str());
    } else {
      DeleteFileA(entries[i].path.c_str());
    }
  }
  return RemoveDirectoryA(root.c_str()) ? 0 : 1;
}
