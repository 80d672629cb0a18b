// The progress dialog runner: a modal dialog with a bar and a Cancel button on the calling
// (UI) thread, and the worker on a thread of its own.
//
// The two threads share the ProgressDialogRecord. The done semaphore, released by the worker
// thread after its last touch of the record, keeps the record alive until the worker is
// done, even when the dialog has gone first.
//
// Failures the design leaves open end in order: when the semaphore cannot be created nothing
// starts (kSeaErrorOutOfMemory, as for the record); when the dialog cannot be created or the
// worker thread cannot be started, the worker never runs, the dialog (if any) ends at once,
// and the run counts as aborted. The worker runs at most once, and the runner never returns
// while a started worker can still touch the record.
#include "win32_platform.h"

#include <commctrl.h>

#include "platform_run.h"
#include "resource_ids.h"
#include "sea_result.h"

namespace {

constexpr UINT_PTR kPollTimerId = 100;
constexpr UINT kPollPeriodMs = 75;

// One run of the dialog: the record it shares with the worker, and what only the dialog's
// side needs. The record comes first, so the worker's record is the run's address.
struct DialogRun {
  ProgressDialogRecord record;
  HANDLE done_semaphore;      // released once by the worker thread after its last touch
  DWORD worker_thread_id;     // 0 until the worker thread exists; nothing else reads it
  int32_t animation_playing;  // UI thread only
};

DialogRun* RunOf(HWND dialog) {
  return reinterpret_cast<DialogRun*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

DWORD WINAPI ProgressWorkerThread(LPVOID parameter) {
  auto* run = static_cast<DialogRun*>(parameter);
  ProgressDialogRecord* record = &run->record;
  const int32_t result = record->worker(record, record->user_data);
  record->result.store(result, std::memory_order_relaxed);
  // Returns once the UI thread has ended the dialog (or at once if it is gone already).
  SendMessageA(static_cast<HWND>(record->dialog_window), WM_DESTROY, 0, 0);
  ReleaseSemaphore(run->done_semaphore, 1, nullptr);
  return 0;
}

void SetControlText(HWND dialog, int control, const char* text) {
  if (text == nullptr) return;
  HWND item = GetDlgItem(dialog, control);
  if (item != nullptr) SetWindowTextA(item, text);
}

BOOL OnInitDialog(HWND dialog, DialogRun* run) {
  ProgressDialogRecord* record = &run->record;
  SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(run));
  record->dialog_window = dialog;
  DWORD thread_id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ProgressWorkerThread, run, 0, &thread_id);
  run->worker_thread_id = thread_id;
  if (thread == nullptr) {
    // Nothing would ever end the dialog: end it now; the worker never ran.
    record->result.store(kSeaErrorAborted, std::memory_order_relaxed);
    EndDialog(dialog, 0);
    return TRUE;
  }
  // The semaphore marks the worker's end; its handle is not needed.
  CloseHandle(thread);

  SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS,
                      static_cast<WPARAM>(record->initial_position), 0);
  if (record->caption != nullptr) SetWindowTextA(dialog, record->caption);
  SetControlText(dialog, IDC_TEXT1, record->first_text);
  SetControlText(dialog, IDC_TEXT2, record->second_text);
  if (record->animation != 0) {
    run->animation_playing = 1;
    SendDlgItemMessageA(dialog, IDC_ANIMATION, ACM_OPENA, 0,
                        reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(record->animation & 0xFFFF)));
  }
  SetTimer(dialog, kPollTimerId, kPollPeriodMs, nullptr);
  platform::CentreOnPrimaryScreen(dialog);
  SetForegroundWindow(dialog);
  return TRUE;
}

void OnTimer(HWND dialog, DialogRun* run) {
  ProgressDialogRecord* record = &run->record;
  if (record->animation != 0) {
    // The clip rests while a message box owned by the dialog disables it.
    const bool enabled = IsWindowEnabled(dialog) != 0;
    if (!enabled && run->animation_playing == 1) {
      run->animation_playing = 0;
      SendDlgItemMessageA(dialog, IDC_ANIMATION, ACM_STOP, 0, 0);
    } else if (enabled && run->animation_playing == 0) {
      run->animation_playing = 1;
      SendDlgItemMessageA(dialog, IDC_ANIMATION, ACM_PLAY, static_cast<WPARAM>(-1),
                          MAKELPARAM(0, 0xFFFF));
    }
  }
  const int32_t requested = record->requested_position.load(std::memory_order_relaxed);
  if (requested != record->shown_position.load(std::memory_order_relaxed)) {
    record->shown_position.store(requested, std::memory_order_relaxed);
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(requested), 0);
  }
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog, reinterpret_cast<DialogRun*>(lparam));
    case WM_COMMAND:
      if (LOWORD(wparam) == IDCANCEL) {
        DialogRun* run = RunOf(dialog);
        ShowWindow(dialog, SW_HIDE);
        if (run != nullptr) run->record.cancelled.store(1, std::memory_order_relaxed);
      }
      return FALSE;
    case WM_WINDOWPOSCHANGING:
      // Once the hand-off has hidden the dialog, nothing shows it again: not the dialog
      // manager showing it after its creation, when the hide came first.
      if (GetPropA(dialog, platform::kHiddenProperty) != nullptr) {
        reinterpret_cast<WINDOWPOS*>(lparam)->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
      }
      return FALSE;
    case WM_TIMER: {
      DialogRun* run = RunOf(dialog);
      if (run != nullptr) OnTimer(dialog, run);
      if (GetPropA(dialog, platform::kHiddenProperty) != nullptr && IsWindowVisible(dialog)) {
        ShowWindow(dialog, SW_HIDE);
      }
      return FALSE;
    }
    case WM_DESTROY:
      RemovePropA(dialog, platform::kHiddenProperty);
      EndDialog(dialog, 0);
      return FALSE;
    case WM_CLOSE:
    case WM_QUIT:
      EndDialog(dialog, 0);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

namespace platform {

int32_t RunProgressDialog(Window owner, ProgressWorker worker, void* user_data,
                          int32_t initial_position, const char* caption, const char* first_text,
                          const char* second_text, int32_t animation) {
  auto* run = static_cast<DialogRun*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DialogRun)));
  if (run == nullptr) return kSeaErrorOutOfMemory;
  ProgressDialogRecord* record = &run->record;
  FillProgressDialogRecord(record, owner, worker, user_data, initial_position, caption,
                           first_text, second_text, animation);
  run->done_semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
  if (run->done_semaphore == nullptr) {
    HeapFree(GetProcessHeap(), 0, run);
    return kSeaErrorOutOfMemory;
  }

  DialogBoxParamA(InstanceHandle(), MAKEINTRESOURCEA(IDD_EXTRACT_PROGRESS), static_cast<HWND>(owner),
                  ProgressDialogProc, reinterpret_cast<LPARAM>(run));

  int32_t result = kSeaErrorAborted;  // the dialog never opened, so the worker never ran
  if (run->worker_thread_id != 0) {
    WaitForSingleObject(run->done_semaphore, INFINITE);
    result = record->result.load(std::memory_order_relaxed);
  } else if (record->dialog_window != nullptr) {
    result = record->result.load(std::memory_order_relaxed);
  }
  CloseHandle(run->done_semaphore);
  HeapFree(GetProcessHeap(), 0, run);
  return result;
}

}  // namespace platform
