// How much room a text takes in the progress dialog. Dialog units are defined by the dialog
// font: four horizontal units are its average character width and eight vertical units its
// line height. A text is measured in average characters: each character counts one, a
// full-width one (the CJK ideographs, kana, hangul and full-width forms, which fonts draw
// about twice as wide) two, and the & that marks a keyboard shortcut none ("&&", a shown &,
// one). The measure is the font's own average, so it does not know that "W" is wider than
// "i"; the limits keep a margin for that.
#pragma once

#include <string>

#include "stub_texts.h"

// The width of `utf8` in average characters; -1 when it is not valid UTF-8.
int TextWidth(const std::string& utf8);
// The lines `utf8` takes when wrapped to `line_width` average characters, breaking at blanks
// (and between full-width characters, which need none), a word longer than a line broken
// where the line ends, as a static control wraps; -1 when it is not valid UTF-8.
int WrappedLines(const std::string& utf8, int line_width);

// The room a place gives a text: the dialog's width less an inset of four units each side
// for the caption (its title bar shows no icon and no close box) and the button, and the
// prompt's box of lines as it is laid out.
struct TextRoom {
  int width;  // average characters a line holds
  int lines;  // lines the place shows (1 for the caption and the button)
};
// The room of the caption, the prompt or the button; a message box grows to its text and has
// no room to keep to (width and lines 0).
TextRoom RoomOf(TextPlace place);
