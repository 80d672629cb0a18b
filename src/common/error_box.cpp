#include "common/error_box.h"

namespace {
constexpr int kMessageCapacity = 256;
}

void ShowErrorMessage(platform::Window owner, int text_id, const char* caption) {
  char text[kMessageCapacity];
  text[0] = '\0';
  platform::LoadMessage(text_id, text, kMessageCapacity);
  platform::ShowErrorBox(owner, text, caption);
}

void ShowErrorMessageTitled(platform::Window owner, int text_id, int caption_id) {
  char caption[kMessageCapacity];
  caption[0] = '\0';
  platform::LoadMessage(caption_id, caption, kMessageCapacity);
  ShowErrorMessage(owner, text_id, caption);
}
