#include "progress_record.h"

#include "sea_result.h"

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
