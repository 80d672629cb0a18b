#include "error_box.h"

namespace {
// The size of the buffer each text is loaded into: longer texts are cut.
constexpr int kMessageCapacity = 100;
}  // namespace

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
