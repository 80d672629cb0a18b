// Extended dialog templates (version 1, signature 0xFFFF), read and written back with some of
// their texts replaced: how a dialog is given in another language. Everything but the texts
// and the font's typeface is kept as it stands, controls' creation data included.
#pragma once

#include <stdint.h>

#include <map>
#include <optional>
#include <string>

#include "problem.h"

namespace pe {

constexpr uint16_t kTypeDialog = 5;

struct DialogTexts {
  std::optional<std::u16string> caption;
  std::map<uint16_t, std::u16string> controls;  // by control id
  std::optional<std::u16string> typeface;       // the font, when the template names one
};

// Reads the caption, the typeface and every control's text that is a string (not an
// ordinal); false with `problem` when `data` is not an extended dialog template.
bool ReadDialogTexts(const std::string& data, DialogTexts* texts, Problem* problem);
// `data` with the texts `texts` gives replaced (a control id it lacks is ignored); false
// with `problem` when it is not an extended dialog template.
bool RewriteDialog(const std::string& data, const DialogTexts& texts, std::string* out, Problem* problem);

}  // namespace pe
