#include <gettext-po.h>
#include <setjmp.h>
#include <stdlib.h>

#include "host_files.h"
#include "po_file.h"

namespace {

// libgettextpo reports through a handler that must not return from a fatal error: the read
// is left with a jump back into ReadPoFile, before any of its own objects are made.
struct ReadState {
  Problems* problems;
  std::string where;
  jmp_buf fatal;
};
ReadState* g_read = nullptr;

void Report(int severity, po_message_t, const char* filename, size_t lineno, size_t, int,
            const char* text) {
  if (severity != PO_SEVERITY_WARNING) {
    std::string what = text != nullptr ? text : "cannot be read";
    while (!what.empty() && what.back() == '\n') what.pop_back();
    Problem problem;
    problem.where = g_read->where;
    if (filename != nullptr && lineno != static_cast<size_t>(-1)) what = "line " + std::to_string(lineno) + ": " + what;
    problem.what = what;
    problem.fix = "correct the file; msgfmt --check shows the same";
    // libgettextpo closes a failed read with a summary of the errors it has reported.
    if (what.find("fatal error") == std::string::npos || g_read->problems->empty()) {
      g_read->problems->push_back(problem);
    }
  }
  if (severity == PO_SEVERITY_FATAL_ERROR) longjmp(g_read->fatal, 1);
}

void Report2(int severity, po_message_t message1, const char* filename1, size_t lineno1, size_t column1,
             int multiline1, const char* text1, po_message_t, const char*, size_t, size_t, int, const char*) {
  Report(severity, message1, filename1, lineno1, column1, multiline1, text1);
}

std::string HeaderField(const char* header, const char* field) {
  if (header == nullptr) return std::string();
  char* value = po_header_field(header, field);
  if (value == nullptr) return std::string();
  std::string out(value);
  free(value);
  return out;
}

// The charset of Content-Type ("text/plain; charset=ISO-8859-1"), or UTF-8.
std::string Charset(const std::string& content_type) {
  const size_t at = content_type.find("charset=");
  if (at == std::string::npos) return "UTF-8";
  std::string charset = content_type.substr(at + 8);
  const size_t end = charset.find_first_of("; \t");
  return end == std::string::npos ? charset : charset.substr(0, end);
}

}  // namespace

bool ReadPoFile(const std::filesystem::path& path, PoFile* po, Problems* problems) {
  const size_t before = problems->size();
  ReadState state{problems, path.string(), {}};
  g_read = &state;
  static const po_xerror_handler handler = {Report, Report2};
  po_file_t file = nullptr;
  if (setjmp(state.fatal) == 0) file = po_file_read(path.string().c_str(), &handler);
  g_read = nullptr;
  if (file == nullptr || problems->size() > before) {
    if (file != nullptr) po_file_free(file);
    if (problems->size() == before) problems->push_back(Problem{path.string(), std::nullopt, "cannot be read", ""});
    return false;
  }
  const char* header = po_file_domain_header(file, nullptr);
  po->language = HeaderField(header, "Language");
  const std::string charset = Charset(HeaderField(header, "Content-Type"));
  const bool utf8 = charset == "UTF-8" || charset == "utf-8" || charset == "ASCII" || charset == "CHARSET";
  bool converted = true;
  auto text = [&](const char* in) {
    std::string out = in != nullptr ? in : "";
    std::string wide;
    if (!utf8 && !out.empty()) {
      if (platform::host::ConvertEncoding(charset.c_str(), "UTF-8", out, &wide)) out = wide;
      else converted = false;
    }
    return out;
  };
  po_message_iterator_t it = po_message_iterator(file, nullptr);
  for (po_message_t message; (message = po_next_message(it)) != nullptr;) {
    if (po_message_is_obsolete(message) || *po_message_msgid(message) == '\0') continue;
    PoEntry entry;
    entry.context = text(po_message_msgctxt(message));
    entry.id = text(po_message_msgid(message));
    entry.text = text(po_message_msgstr(message));
    entry.fuzzy = po_message_is_fuzzy(message) != 0;
    entry.plural = po_message_msgid_plural(message) != nullptr;
    po->entries.push_back(entry);
  }
  po_message_iterator_free(it);
  po_file_free(file);
  if (!converted) {
    problems->push_back(Problem{path.string(), std::nullopt,
                                "its texts are not in the charset its header names (" + charset + ")",
                                "save it as UTF-8 and say charset=UTF-8 in Content-Type"});
    return false;
  }
  return true;
}
