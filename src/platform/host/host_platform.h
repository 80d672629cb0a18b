// Settings of the host (Linux) platform used by the packer.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace platform {

// Entry names are stored in a Windows ANSI code page; on the host they are converted to
// UTF-8 when a path is used. `verbatim_prefix` is the part of each path that is already in
// the host's encoding (the output directory); only what follows it is converted.
// Returns false when iconv does not know the code page.
bool ConfigureHostNames(const char* codepage, const char* verbatim_prefix);
// Converts `in` between two iconv encodings, refusing anything that does not map exactly
// (the identity on Windows, where paths stay in the ANSI code page).
bool ConvertEncoding(const char* from, const char* to, const std::string& in, std::string* out);
// Converts a byte string from the configured code page to UTF-8 (for display).
bool AnsiToHost(const char* ansi, char* out, unsigned long capacity);
// The prefix for messages printed instead of error boxes, e.g. "kovsea".
void SetHostProgramName(const char* name);

// What an error box said: the text and the caption (usually the path concerned).
struct ReportedError {
  std::string text;
  std::string caption;
};
// With quiet error boxes, messages are kept for TakeReportedErrors instead of printed.
void SetErrorBoxesQuiet(bool quiet);
std::vector<ReportedError> TakeReportedErrors();

// One directory or file that the decoder created while a catalogue was open.
struct CatalogueEntry {
  std::string name;  // the path below the catalogue's prefix, as stored (ANSI, backslashes)
  bool is_directory;
  uint64_t size;     // data bytes written
};
// While a catalogue is open, paths below `prefix` never touch the disk: directories and
// files are recorded instead, with the bytes written to each. A file whose directory was not
// recorded first cannot be created, as on a real disk. This lets `list` and `verify` read an
// archive with the very decoder that extracts it.
#ifdef __linux__
// Copies `bytes` bytes from descriptor `from` at `*from_at` to descriptor `to` at `*to_at`,
// inside the kernel where the file systems allow it and through memory where not, advancing
// both offsets. Returns how many were copied; fewer means the source ended (errno 0) or a
// read or write failed (errno says why).
uint64_t CopyDescriptorRange(int from, int64_t* from_at, int to, int64_t* to_at, uint64_t bytes);
#endif

void OpenCatalogue(const char* prefix);
std::vector<CatalogueEntry> CloseCatalogue();

}  // namespace platform
