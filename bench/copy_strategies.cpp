// Where the stub's data path spends its time under Wine: copies the same range of a large
// file into a new file by each way the stub could, and times each with the performance
// counter. Run by hand, under Wine, on a file in the page cache:
//
//   wine copy_strategies.exe SOURCE TARGET [MiB per chunk] [rounds] [new]
//
// Ways: a mapped view per chunk written with WriteFile (the stub's first way), one view per
// 64 MiB written in chunks, ReadFile into a buffer and WriteFile out of it (the stub's way
// now), and the C runtime's fread/fwrite; then the deletion of the copy. The target is
// created with CREATE_ALWAYS, or with CREATE_NEW when the last argument is "new"; the
// close of the ReadFile way's target is timed on its own.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

double g_close_seconds = 0;  // the target's CloseHandle, where it is timed
// How the target is created: CREATE_ALWAYS truncates, which under Wine means an explicit
// ftruncate to 0 that makes ext4 allocate and start writing the whole file when it is closed.
DWORD g_disposition = CREATE_ALWAYS;

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HANDLE OpenSource(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE CreateTarget(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, g_disposition, 0, nullptr);
}

uint64_t SizeOf(HANDLE file) {
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  return static_cast<uint64_t>(size.QuadPart);
}

// Views of `view_bytes` each, written out `chunk` bytes at a time.
void Mapped(const char* source, const char* target, size_t view_bytes, size_t chunk) {
  HANDLE in = OpenSource(source);
  HANDLE out = CreateTarget(target);
  const uint64_t size = SizeOf(in);
  HANDLE mapping = CreateFileMappingA(in, nullptr, PAGE_READONLY, 0, 0, nullptr);
  for (uint64_t at = 0; at < size; at += view_bytes) {
    const size_t length = static_cast<size_t>(size - at < view_bytes ? size - at : view_bytes);
    const char* view = static_cast<const char*>(
        MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(at >> 32), static_cast<DWORD>(at), length));
    for (size_t done = 0; done < length; done += chunk) {
      DWORD written = 0;
      WriteFile(out, view + done, static_cast<DWORD>(length - done < chunk ? length - done : chunk), &written, nullptr);
    }
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  CloseHandle(out);
  CloseHandle(in);
}

void ReadWrite(const char* source, const char* target, size_t chunk) {
  HANDLE in = OpenSource(source);
  HANDLE out = CreateTarget(target);
  char* buffer = static_cast<char*>(VirtualAlloc(nullptr, chunk, MEM_COMMIT, PAGE_READWRITE));
  DWORD got = 0;
  while (ReadFile(in, buffer, static_cast<DWORD>(chunk), &got, nullptr) && got > 0) {
    DWORD written = 0;
    WriteFile(out, buffer, got, &written, nullptr);
  }
  VirtualFree(buffer, 0, MEM_RELEASE);
  const double closing = Now();
  CloseHandle(out);
  g_close_seconds = Now() - closing;
  CloseHandle(in);
}

void Stdio(const char* source, const char* target, size_t chunk) {
  FILE* in = fopen(source, "rb");
  FILE* out = fopen(target, "wb");
  char* buffer = static_cast<char*>(malloc(chunk));
  size_t got;
  while ((got = fread(buffer, 1, chunk, in)) > 0) fwrite(buffer, 1, got, out);
  free(buffer);
  fclose(out);
  fclose(in);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: copy_strategies SOURCE TARGET [MiB per chunk] [rounds]\n");
    return 2;
  }
  const char* source = argv[1];
  const char* target = argv[2];
  const size_t chunk = (argc > 3 ? static_cast<size_t>(atoi(argv[3])) : 1) << 20;
  struct Way {
    const char* name;
    void (*run)(const char*, const char*, size_t);
  } ways[] = {
      {"view per chunk + WriteFile", [](const char* s, const char* t, size_t c) { Mapped(s, t, c, c); }},
      {"64 MiB views + WriteFile", [](const char* s, const char* t, size_t c) { Mapped(s, t, 64u << 20, c); }},
      {"ReadFile + WriteFile", ReadWrite},
      {"fread + fwrite", Stdio},
  };
  const int rounds = argc > 4 ? atoi(argv[4]) : 2;
  if (argc > 5 && strcmp(argv[5], "new") == 0) g_disposition = CREATE_NEW;
  for (int round = 0; round < rounds; ++round) {
    for (const Way& way : ways) {
      const double start = Now();
      way.run(source, target, chunk);
      const double copied = Now();
      DeleteFileA(target);
      const double deleted = Now();
      printf("%-28s copy %6.3f s  delete %6.3f s  (close %5.3f s)\n", way.name, copied - start,
             deleted - copied, g_close_seconds);
      g_close_seconds = 0;
    }
  }
  return 0;
}
