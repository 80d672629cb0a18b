#include "progress/progress_record.h"

#include "common/sea_result.h"

int32_t SetProgress(ProgressDialogRecord* record, int32_t position, int32_t immediate) {
  record->requested_position.store(position, std::memory_order_relaxed);
  if (immediate != 0) {
    record->shown_position.store(position, std::memory_order_relaxed);
    platform::SetProgressBar(record->dialog_window, position);
  }
  return record->cancelled.load(std::memory_order_relaxed) != 0 ? kSeaErrorAborted : kSeaSuccess;
}

platform::Window GetDialogWindow(const ProgressDialogRecord* record) {
  return record->dialog_window;
}

void FillProgressDialogRecord(ProgressDialogRecord* record, platform::Window owner,
                              ProgressWorker worker, void* user_data, int32_t initial_position,
                              const char* caption, const char* first_text,
                              const char* second_text, int32_t animation) {
  record->worker = worker;
  record->user_data = user_data;
  record->initial_position = initial_position;
  record->caption = caption;
  record->first_text = first_text;
  record->second_text = second_text;
  record->animation = animation;
  record->owner_window = owner;
}
