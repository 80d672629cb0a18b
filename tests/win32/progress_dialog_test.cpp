// The progress dialog runner under Wine: test workers drive it from the worker thread and
// read the dialog back through the same window messages a user's actions produce.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <string.h>

#include <string>

#include "resource_ids.h"
#include "sea_result.h"
#include "win32_platform.h"
#include "progress_record.h"

namespace {

class ProgressDialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform::SetInstanceHandle(GetModuleHandleA(nullptr));
    InitCommonControls();
  }
};

int32_t BarPosition(ProgressDialogRecord* record) {
  return static_cast<int32_t>(SendDlgItemMessageA(static_cast<HWND>(GetDialogWindow(record)),
                                                  IDC_PROGRESS, PBM_GETPOS, 0, 0));
}

// Waits up to `ms` for the bar to show `position`; the dialog's timer moves it every 75 ms.
bool BarReaches(ProgressDialogRecord* record, int32_t position, DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  while (static_cast<int>(end - GetTickCount()) > 0) {
    if (BarPosition(record) == position) return true;
    Sleep(10);
  }
  return BarPosition(record) == position;
}

struct Observations {
  bool ok = true;
  std::string failures;
  void Expect(bool condition, const char* what) {
    if (!condition) {
      ok = false;
      failures += what;
      failures += "; ";
    }
  }
};

Observations g_seen;

// Runs `worker` under the dialog with fresh observations; returns the runner's result.
int32_t RunObserved(ProgressWorker worker, int32_t initial_position = 0,
                    const char* caption = nullptr, const char* first_text = nullptr,
                    const char* second_text = nullptr) {
  g_seen = Observations();
  return platform::RunProgressDialog(nullptr, worker, nullptr, initial_position, caption, first_text,
                           second_text, 0);
}

int32_t UpdatesReachTheBar(ProgressDialogRecord* record, void*) {
  g_seen.Expect(BarPosition(record) == 0, "initial position 0");
  SetProgress(record, 10, 0);
  SetProgress(record, 20, 0);
  SetProgress(record, 35, 0);
  g_seen.Expect(BarReaches(record, 35, 1000), "the latest non-immediate update reaches the bar");
  // An update equal to the shown position sends nothing: the bar keeps what was put there.
  SendDlgItemMessageA(static_cast<HWND>(GetDialogWindow(record)), IDC_PROGRESS, PBM_SETPOS, 60, 0);
  SetProgress(record, 35, 0);
  Sleep(300);
  g_seen.Expect(BarPosition(record) == 60, "an update equal to the shown one sends nothing");
  g_seen.Expect(SetProgress(record, 70, 1) == 0, "not cancelled");
  g_seen.Expect(BarPosition(record) == 70, "an immediate update is on the bar at once");
  return 1234;
}

TEST_F(ProgressDialog, UpdatesReachTheBarAndTheWorkersResultIsReturned) {
  EXPECT_EQ(RunObserved(UpdatesReachTheBar), 1234);
  EXPECT_TRUE(g_seen.ok) << g_seen.failures;
}

int32_t InitialPositionStays(ProgressDialogRecord* record, void*) {
  g_seen.Expect(BarPosition(record) == 40, "the initial position is shown");
  SetProgress(record, 0, 0);
  Sleep(300);
  g_seen.Expect(BarPosition(record) == 40, "a later update to 0 sends nothing");
  return 0;
}

TEST_F(ProgressDialog, NonZeroInitialPositionIsKeptUntilADifferentRequest) {
  EXPECT_EQ(RunObserved(InitialPositionStays, 40), 0);
  EXPECT_TRUE(g_seen.ok) << g_seen.failures;
}

// The worker starts while the dialog is still being set up; it is done once the modal loop
// has shown it.
bool WaitUntilShown(HWND dialog) {
  const DWORD end = GetTickCount() + 3000;
  while (!IsWindowVisible(dialog) && static_cast<int>(end - GetTickCount()) > 0) Sleep(10);
  Sleep(100);
  return IsWindowVisible(dialog) != 0;
}

int32_t CancelledByCommand(ProgressDialogRecord* record, void*) {
  HWND dialog = static_cast<HWND>(GetDialogWindow(record));
  // A user clicks Cancel on a dialog that is shown; the modal loop would show it again.
  g_seen.Expect(WaitUntilShown(dialog), "the dialog is shown");
  g_seen.Expect(SetProgress(record, 5, 0) == 0, "not cancelled before");
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  g_seen.Expect(!IsWindowVisible(dialog), "Cancel hides the dialog at once");
  g_seen.Expect(IsWindow(dialog) != 0, "Cancel does not end the dialog");
  g_seen.Expect(SetProgress(record, 6, 0) == kSeaErrorAborted, "the next call reports it");
  g_seen.Expect(SetProgress(record, 7, 1) == kSeaErrorAborted, "and every later one");
  g_seen.Expect(BarPosition(record) == 7, "the hidden bar still follows");
  return 77;
}

TEST_F(ProgressDialog, CancelHidesSetsCancelledAndTheWorkerEndsItself) {
  EXPECT_EQ(RunObserved(CancelledByCommand), 77);
  EXPECT_TRUE(g_seen.ok) << g_seen.failures;
}

int32_t ClosedWhileRunning(ProgressDialogRecord* record, void*) {
  HWND dialog = static_cast<HWND>(GetDialogWindow(record));
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  const DWORD end = GetTickCount() + 3000;
  while (IsWindow(dialog) && static_cast<int>(end - GetTickCount()) > 0) Sleep(10);
  g_seen.Expect(!IsWindow(dialog), "WM_CLOSE ends the dialog");
  Sleep(200);  // the runner must still be waiting for this worker
  g_seen.Expect(SetProgress(record, 50, 1) == 0, "closing is not cancelling");
  return -5;
}

TEST_F(ProgressDialog, CloseEndsTheDialogButTheRunnerWaitsForTheWorker) {
  EXPECT_EQ(RunObserved(ClosedWhileRunning), -5);
  EXPECT_TRUE(g_seen.ok) << g_seen.failures;
}

DWORD g_ui_thread = 0;
HANDLE g_worker_thread = nullptr;

DWORD g_worker_returned_at = 0;

int32_t LooksAtTheOpenDialog(ProgressDialogRecord* record, void*) {
  HWND dialog = static_cast<HWND>(GetDialogWindow(record));
  g_seen.Expect(WaitUntilShown(dialog), "the dialog is shown");
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_worker_thread,
                  0, FALSE, DUPLICATE_SAME_ACCESS);
  RECT r;
  GetWindowRect(dialog, &r);
  const int sw = GetSystemMetrics(SM_CXSCREEN);
  const int sh = GetSystemMetrics(SM_CYSCREEN);
  g_seen.Expect(r.left == (sw - (r.right - r.left)) / 2, "centred horizontally");
  g_seen.Expect(r.top == (sh - (r.bottom - r.top)) / 2, "centred vertically");
  g_seen.Expect(GetForegroundWindow() == dialog, "in the foreground");
  GUITHREADINFO info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  GetGUIThreadInfo(g_ui_thread, &info);
  g_seen.Expect(info.hwndFocus == GetDlgItem(dialog, IDCANCEL), "the focus is on Cancel");
  char caption[64];
  GetWindowTextA(dialog, caption, sizeof caption);
  g_seen.Expect(strcmp(caption, "KOV Self-Extracting Archive") == 0, "the template's caption");
  g_worker_returned_at = GetTickCount();
  return -11987;
}

TEST_F(ProgressDialog, OpensCentredInTheForegroundWithTheFocusOnCancel) {
  g_ui_thread = GetCurrentThreadId();
  EXPECT_EQ(RunObserved(LooksAtTheOpenDialog), kSeaErrorAborted);
  EXPECT_TRUE(g_seen.ok) << g_seen.failures;
  printf("runner returned %lu ms after the worker\n", GetTickCount() - g_worker_returned_at);
  ASSERT_NE(g_worker_thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(g_worker_thread, 5000), WAIT_OBJECT_0);
  DWORD exit_code = 99;
  GetExitCodeThread(g_worker_thread, &exit_code);
  EXPECT_EQ(exit_code, 0u) << "the result travels in the record, not in the exit code";
  CloseHandle(g_worker_thread);
}

int32_t CaptionApplied(ProgressDialogRecord* record, void*) {
  char caption[64];
  GetWindowTextA(static_cast<HWND>(GetDialogWindow(record)), caption, sizeof caption);
  g_seen.Expect(strcmp(caption, "Custom caption") == 0, "a given caption replaces the template's");
  return 3;
}

TEST_F(ProgressDialog, GivenCaptionReplacesTheTemplatesAndMissingControlsAreIgnored) {
  EXPECT_EQ(RunObserved(CaptionApplied, 0, "Custom caption", "first", "second"), 3);
  EXPECT_TRUE(g_seen.ok) << g_seen.failures;
}

bool g_worker_called = false;

int32_t MustNotRun(ProgressDialogRecord*, void*) {
  g_worker_called = true;
  return 0;
}

TEST_F(ProgressDialog, DialogThatCannotBeCreatedNeverRunsTheWorker) {
  // A module without the template: the dialog cannot be made, so no worker may start.
  g_worker_called = false;
  platform::SetInstanceHandle(GetModuleHandleA("kernel32.dll"));
  const int32_t result =
      platform::RunProgressDialog(nullptr, MustNotRun, nullptr, 0, nullptr, nullptr, nullptr, 0);
  platform::SetInstanceHandle(GetModuleHandleA(nullptr));
  EXPECT_EQ(result, kSeaErrorAborted);
  EXPECT_FALSE(g_worker_called);
}

}  // namespace
