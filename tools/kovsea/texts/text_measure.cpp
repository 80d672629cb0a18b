#include "text_measure.h"

#include <stdint.h>

#include <vector>

#include "resource_ids.h"
#include "utf16.h"

namespace {

constexpr int kUnitsPerCharacter = 4;
constexpr int kUnitsPerLine = 8;
// A caption or button draws its text inset from its edges: four units each side.
constexpr int kInsetUnits = 4;

bool IsFullWidth(uint32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
         (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
}

// The width of each character as shown, the shortcut markers dropped.
std::vector<int> Widths(const std::vector<uint32_t>& text, std::vector<uint32_t>* shown) {
  std::vector<int> widths;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;  // "&x" shows x, "&&" shows &
    shown->push_back(text[i]);
    widths.push_back(IsFullWidth(text[i]) ? 2 : 1);
  }
  return widths;
}

}  // namespace

int TextWidth(const std::string& utf8) {
  std::vector<uint32_t> text, shown;
  if (!DecodeUtf8(utf8, &text)) return -1;
  int width = 0;
  for (int w : Widths(text, &shown)) width += w;
  return width;
}

int WrappedLines(const std::string& utf8, int line_width) {
  std::vector<uint32_t> text, shown;
  if (!DecodeUtf8(utf8, &text)) return -1;
  const std::vector<int> widths = Widths(text, &shown);
  int lines = 1;
  int used = 0;  // of the current line
  size_t i = 0;
  while (i < shown.size()) {
    if (shown[i] == '\n') {
      ++lines, used = 0, ++i;
      continue;
    }
    if (shown[i] == ' ') {
      if (used > 0 && used + 1 <= line_width) ++used;
      ++i;
      continue;
    }
    // The next word: up to a blank, or one full-width character, which may break anywhere.
    size_t end = i;
    int word = 0;
    do {
      word += widths[end];
      ++end;
    } while (end < shown.size() && shown[end] != ' ' && shown[end] != '\n' && !IsFullWidth(shown[end]) &&
             !IsFullWidth(shown[end - 1]));
    if (used > 0 && used + word > line_width) ++lines, used = 0;
    while (word > line_width) ++lines, word -= line_width;  // a word longer than a line
    used += word;
    i = end;
  }
  return lines;
}

TextRoom RoomOf(TextPlace place) {
  switch (place) {
    case TextPlace::kCaption:
      return {(PROGRESS_DIALOG_WIDTH - 2 * kInsetUnits) / kUnitsPerCharacter, 1};
    case TextPlace::kPrompt:
      return {PROMPT_WIDTH / kUnitsPerCharacter, PROMPT_HEIGHT / kUnitsPerLine};
    case TextPlace::kButton:
      return {(CANCEL_WIDTH - 2 * kInsetUnits) / kUnitsPerCharacter, 1};
    case TextPlace::kMessage:
      break;
  }
  return {0, 0};
}
