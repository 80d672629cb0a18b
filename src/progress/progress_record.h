// The record that the progress dialog (UI thread) and its worker (worker thread) share.
//
// No lock is taken: each shared field is one aligned 32-bit word (or a pointer) written and
// read whole, and no field is updated by a read-modify-write from both threads. The fields
// the two threads share are atomics with relaxed ordering, which compile to plain moves and
// tell the compiler (and sanitizers) that the sharing is intended.
#pragma once

#include <atomic>
#include <stdint.h>

#include "platform/platform.h"

struct ProgressDialogRecord;

// The job run under the dialog; called exactly once, on the worker thread.
using ProgressWorker = int32_t (*)(ProgressDialogRecord* record, void* user_data);

struct ProgressDialogRecord {
  platform::Window dialog_window;  // set at dialog start, before the worker thread exists
  platform::Window owner_window;
  ProgressWorker worker;
  void* user_data;
  int32_t initial_position;
  const char* caption;
  const char* first_text;
  const char* second_text;
  int32_t animation;  // resource id of an AVI clip (low 16 bits), 0 = none
  std::atomic<int32_t> requested_position;
  std::atomic<int32_t> shown_position;
  void* done_semaphore;
  uint32_t worker_thread_id;
  std::atomic<int32_t> result;
  std::atomic<int32_t> cancelled;
  int32_t animation_playing;  // UI thread only
};

// Stores the position the worker asks for. With `immediate`, also sends it to the bar at
// once and waits until the dialog has shown it. Returns kSeaErrorAborted once the user has
// cancelled, else 0; the position is stored (and sent) either way.
int32_t SetProgress(ProgressDialogRecord* record, int32_t position, int32_t immediate);
platform::Window GetDialogWindow(const ProgressDialogRecord* record);

// Stores what RunProgressDialog was given in a zero-filled record.
void FillProgressDialogRecord(ProgressDialogRecord* record, platform::Window owner,
                              ProgressWorker worker, void* user_data, int32_t initial_position,
                              const char* caption, const char* first_text,
                              const char* second_text, int32_t animation);

// Runs `worker` on a thread of its own under the modal progress dialog and returns its
// result, or kSeaErrorOutOfMemory when the record cannot be allocated (the worker is then
// never called). Returns only after a started worker has finished.
int32_t RunProgressDialog(platform::Window owner, ProgressWorker worker, void* user_data,
                          int32_t initial_position, const char* caption, const char* first_text,
                          const char* second_text, int32_t animation);
