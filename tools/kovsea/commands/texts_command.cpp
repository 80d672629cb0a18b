// `kovsea texts --template`: the gettext template of every text the stub can show.
#include <stdio.h>

#include "commands.h"
#include "problem.h"
#include "stub_texts.h"

int TextsTemplateCommand(const std::filesystem::path& output, const std::string& version) {
  const std::string text = TemplateText(version);
  if (output.empty()) {
    fputs(text.c_str(), stdout);
    return 0;
  }
  FILE* file = fopen(output.string().c_str(), "wb");
  bool written = file != nullptr && fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr && fclose(file) != 0) written = false;
  if (!written) {
    PrintErrors({Problem{output.string(), std::nullopt, "cannot be written", ""}});
    return 1;
  }
  return 0;
}
