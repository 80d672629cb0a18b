// The hand-off under Wine with the installer stand-in as Setup.exe: side files, the quoted
// launch, the waits for the engine's windows, the deletion, and the error boxes (read and
// dismissed by a watcher thread, as a user would).
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "handoff.h"
#include "restart.h"
#include "win32_platform.h"

namespace {

std::string OwnDirectory() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  *(strrchr(path, '\\') + 1) = '\0';
  return path;
}

std::string TempDirectory() {
  char path[MAX_PATH];
  GetTempPathA(sizeof path, path);
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

constexpr char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

// The paths the system is asked to delete at its next start, in order, without the "\\??\\"
// prefix of their stored form.
std::vector<std::string> PendingDeletions() {
  std::vector<std::string> out;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  std::vector<wchar_t> data(1 << 16);
  DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
    // Pairs of (source, target); an empty target asks for a deletion.
    const wchar_t* p = data.data();
    const wchar_t* end = p + size / sizeof(wchar_t);
    while (p < end && *p != L'\0') {
      const wchar_t* target = p + wcslen(p) + 1;
      if (target < end && *target == L'\0') {
        char narrow[MAX_PATH * 2];
        WideCharToMultiByte(CP_ACP, 0, p, -1, narrow, sizeof narrow, nullptr, nullptr);
        out.push_back(strncmp(narrow, "\\??\\", 4) == 0 ? narrow + 4 : narrow);
      }
      p = target + wcslen(target) + 1;
    }
  }
  RegCloseKey(key);
  return out;
}

std::string Fnv(const std::string& bytes) {
  unsigned h = 2166136261u;
  for (unsigned char c : bytes) h = (h ^ c) * 16777619u;
  char out[16];
  snprintf(out, sizeof out, "%08x", h);
  return out;
}

// Reads the first message box this process shows and dismisses it.
class BoxWatcher {
 public:
  BoxWatcher() { thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr); }
  ~BoxWatcher() {
    stop_ = true;
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
  }
  std::string seen() {
    stop_ = true;
    WaitForSingleObject(thread_, 10000);
    return seen_;
  }

 private:
  static BOOL CALLBACK Collect(HWND child, LPARAM param) {
    char cls[32];
    char text[300];
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    if (_stricmp(cls, "Static") == 0 && text[0] != '\0') {
      *reinterpret_cast<std::string*>(param) += std::string("text=") + text + "\n";
    }
    return TRUE;
  }
  static BOOL CALLBACK Find(HWND window, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[32];
    GetClassNameA(window, cls, sizeof cls);
    if (pid == GetCurrentProcessId() && strcmp(cls, "#32770") == 0 && IsWindowVisible(window)) {
      *reinterpret_cast<HWND*>(param) = window;
      return FALSE;
    }
    return TRUE;
  }
  static DWORD WINAPI Run(LPVOID self_pointer) {
    auto* self = static_cast<BoxWatcher*>(self_pointer);
    while (!self->stop_ || self->pending_) {
      HWND box = nullptr;
      EnumWindows(Find, reinterpret_cast<LPARAM>(&box));
      if (box != nullptr) {
        char title[300];
        GetWindowTextA(box, title, sizeof title);
        self->seen_ += std::string("title=") + title + "\n";
        EnumChildWindows(box, Collect, reinterpret_cast<LPARAM>(&self->seen_));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        Sleep(300);
      }
      if (self->stop_) break;
      Sleep(30);
    }
    return 0;
  }
  HANDLE thread_;
  volatile bool stop_ = false;
  volatile bool pending_ = false;
  std::string seen_;
};

class HandOffUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetInstanceHandle(GetModuleHandleA(nullptr));
    char unique[32];
    snprintf(unique, sizeof unique, "KOVtest%lu", GetCurrentProcessId());
    base = TempDirectory() + "kovsea handoff " + std::string(unique) + "\\";
    CreateDirectoryA(base.c_str(), nullptr);
    root = base + "KOV1a2b3\\";
    disk = root + "Disk1\\";
    log = base + "log.txt";
    SetEnvironmentVariableA("KOVSEA_FIXTURE_LOG", log.c_str());
    SetEnvironmentVariableA("KOVSEA_FIXTURE_ENGINE", nullptr);

    memset(&state, 0, sizeof state);
    memset(&trailer, 0, sizeof trailer);
    strcpy(state.extraction_root, root.c_str());
    state.trailer = &trailer;
    MakeDirectory(root);
    MakeDirectory(disk);
    CopyFileA((OwnDirectory() + "installer_stand_in.exe").c_str(), (disk + "Setup.exe").c_str(), FALSE);
    Push(disk + "Setup.exe", false);
    MakeFile(disk + "SETUP.INI", "[extracted]");

    archive_path = base + "archive.bin";
    WriteFile(archive_path, "....ADMIN-BYTES|CLIENT|[slot ini]");
    archive = platform::OpenForReading(archive_path.c_str());
    state.archive_file = archive;
  }
  void TearDown() override {
    if (state.archive_file != nullptr) platform::CloseFile(state.archive_file);
    DeleteFileA(log.c_str());
    DeleteFileA(archive_path.c_str());
    RemoveDirectoryA(base.c_str());
    SetEnvironmentVariableA("KOVSEA_FIXTURE_LOG", nullptr);
    SetEnvironmentVariableA("KOVSEA_FIXTURE_ENGINE", nullptr);
  }
  void MakeDirectory(const std::string& path) {
    CreateDirectoryA(path.c_str(), nullptr);
    Push(path, true);
  }
  void MakeFile(const std::string& path, const std::string& bytes) {
    WriteFile(path, bytes);
    Push(path, false);
  }
  void Push(const std::string& path, bool directory) {
    PushCleanup(&state.cleanup_list, path.c_str(), directory ? CleanupKind::kDirectory : CleanupKind::kFile);
  }
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(log));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  bool Logged(const std::string& line) {
    for (const auto& l : LogLines()) {
      if (l == line) return true;
    }
    return false;
  }

  std::string base, root, disk, log, archive_path;
  ExtractionState state;
  ArchiveTrailer trailer;
  platform::File* archive = nullptr;
};

TEST_F(HandOffUnderWine, SideFilesAreThereWhileSetupRunsAndEverythingGoesAfterTheEngine) {
  trailer.admin = {4, 11};    // "ADMIN-BYTES"
  trailer.client = {16, 6};   // "CLIENT"
  trailer.net = {4, 0};       // empty
  trailer.setup = {23, 10};   // "[slot ini]", replacing the extracted SETUP.INI
  SetEnvironmentVariableA("KOVSEA_FIXTURE_ENGINE", "800,600");
  SetRebootRequest(2);
  const DWORD start = GetTickCount();
  HandOffToInstaller(archive, &state);
  const DWORD elapsed = GetTickCount() - start;

  EXPECT_TRUE(Logged("file KOVadmin.dat 11 " + Fnv("ADMIN-BYTES")));
  EXPECT_TRUE(Logged("file KOVclient.dat 6 " + Fnv("CLIENT")));
  EXPECT_TRUE(Logged("file KOVnet.dat 0 " + Fnv("")));
  EXPECT_TRUE(Logged("file SETUP.INI 10 " + Fnv("[slot ini]")) || Logged("file setup.ini 10 " + Fnv("[slot ini]")));
  const auto lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("cmdline=\"" + disk + "Setup.exe\""), std::string::npos) << lines[0];
  EXPECT_TRUE(Logged("engine end"));
  EXPECT_TRUE(Logged("helper end"));
  EXPECT_GE(elapsed, 1400u) << "waited for the engine and the helper";
  EXPECT_FALSE(Exists(root)) << "the whole tree is gone";
  EXPECT_EQ(state.cleanup_list.head, nullptr);
  EXPECT_EQ(state.archive_file, nullptr) << "closed before the launch";
  EXPECT_EQ(GetRebootRequest(), 0u) << "reset before the installer ran";
}

TEST_F(HandOffUnderWine, ErrorFlagOnlyDeletes) {
  state.error_flag = 1;
  trailer.admin = {4, 11};
  SetRebootRequest(1);
  HandOffToInstaller(archive, &state);
  EXPECT_FALSE(Exists(log)) << "Setup.exe never ran";
  EXPECT_FALSE(Exists(root));
  EXPECT_EQ(GetRebootRequest(), 0u);
}

TEST_F(HandOffUnderWine, MissingSetupShowsTheQuotedCommandLineAndStillCleansUp) {
  DeleteFileA((disk + "Setup.exe").c_str());
  BoxWatcher watcher;
  HandOffToInstaller(archive, &state);
  const std::string seen = watcher.seen();
  EXPECT_NE(seen.find("title=\"" + disk + "Setup.exe\""), std::string::npos) << seen;
  EXPECT_NE(seen.find("text=Cannot start the executable."), std::string::npos) << seen;
  EXPECT_FALSE(Exists(root));
}

TEST_F(HandOffUnderWine, NoProgramPlantedAtABlankInThePathIsEverStarted) {
  // The root lies below "...\kovsea handoff KOVtest<pid>\": an unquoted command line would
  // try "...\kovsea.exe" and "...\kovsea handoff.exe" before the real Setup.exe.
  const std::string planted[] = {TempDirectory() + "kovsea.exe", TempDirectory() + "kovsea handoff.exe"};
  for (const auto& p : planted) {
    CopyFileA((OwnDirectory() + "installer_stand_in.exe").c_str(), p.c_str(), FALSE);
  }
  HandOffToInstaller(archive, &state);
  for (const auto& p : planted) DeleteFileA(p.c_str());
  int runs = 0;
  for (const auto& line : LogLines()) {
    if (line.rfind("setup path=", 0) == 0) {
      ++runs;
      EXPECT_NE(line.find("path=" + disk + "Setup.exe "), std::string::npos) << line;
    }
  }
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(Exists(root));
}

TEST_F(HandOffUnderWine, UncreatableSideFileIsReportedWithItsPathAndTheRestGoesOn) {
  trailer.admin = {4, 11};
  trailer.client = {16, 6};
  CreateDirectoryA((disk + "KOVadmin.dat").c_str(), nullptr);  // a directory stands in the way
  Push(disk + "KOVadmin.dat", true);
  BoxWatcher watcher;
  HandOffToInstaller(archive, &state);
  const std::string seen = watcher.seen();
  EXPECT_NE(seen.find("title=" + disk + "KOVadmin.dat"), std::string::npos) << seen;
  EXPECT_NE(seen.find("text=Cannot create admin file."), std::string::npos) << seen;
  EXPECT_TRUE(Logged("file KOVclient.dat 6 " + Fnv("CLIENT")));
  EXPECT_FALSE(Exists(root));
}

TEST_F(HandOffUnderWine, ReadOnlyFilesAreDeletedAndWhatIsHeldOpenIsLeftToTheNextStart) {
  MakeDirectory(disk + "sub");
  MakeFile(disk + "sub\\held.cab", "held by a child of the installer");
  MakeFile(disk + "readonly.txt", "marked read-only by the installer");
  SetEnvironmentVariableA("KOVSEA_FIXTURE_READONLY", "readonly.txt");
  SetEnvironmentVariableA("KOVSEA_FIXTURE_HOLD", "sub\\held.cab,4000");
  HandOffToInstaller(archive, &state);
  SetEnvironmentVariableA("KOVSEA_FIXTURE_READONLY", nullptr);
  SetEnvironmentVariableA("KOVSEA_FIXTURE_HOLD", nullptr);
  const std::vector<std::string> pending = PendingDeletions();

  EXPECT_TRUE(Logged("hold open"));
  EXPECT_FALSE(Exists(disk + "readonly.txt")) << "a read-only file the run made is deleted";
  EXPECT_FALSE(Exists(disk + "SETUP.INI"));
  EXPECT_TRUE(Exists(disk + "sub\\held.cab")) << "still held open";
  // The holder runs Setup.exe's own image, which is in use as long as it runs. Newest first:
  // the held file, its directory, the program, then the directories that still hold them.
  std::vector<std::string> expected = {disk + "sub\\held.cab", disk + "sub\\", disk + "Setup.exe", disk, root};
  std::vector<std::string> ours;
  for (const std::string& p : pending) {
    if (p.compare(0, root.size() - 1, root, 0, root.size() - 1) == 0) ours.push_back(p);
  }
  ASSERT_EQ(ours.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(_stricmp(ours[i].c_str(), expected[i].c_str()) == 0 ||
                  _stricmp((ours[i] + "\\").c_str(), expected[i].c_str()) == 0,
              true)
        << i << ": " << ours[i] << " vs " << expected[i];
  }

  // What the next start would do, done here once the holder has let go.
  for (int i = 0; i < 100 && !DeleteFileA((disk + "sub\\held.cab").c_str()); ++i) Sleep(100);
  for (int i = 0; i < 100 && !DeleteFileA((disk + "Setup.exe").c_str()); ++i) Sleep(100);
  for (const std::string& dir : {disk + "sub", disk, root}) RemoveDirectoryA(dir.c_str());
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, "PendingFileRenameOperations");
    RegCloseKey(key);
  }
  EXPECT_FALSE(Exists(root));
}

}  // namespace
