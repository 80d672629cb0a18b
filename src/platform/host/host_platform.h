// Settings of the host (Linux) platform used by the packer.
#pragma once

namespace platform {

// Entry names are stored in a Windows ANSI code page; on the host they are converted to
// UTF-8 when a path is used. `verbatim_prefix` is the part of each path that is already in
// the host's encoding (the output directory); only what follows it is converted.
// Returns false when iconv does not know the code page.
bool ConfigureHostNames(const char* codepage, const char* verbatim_prefix);
// Converts a byte string from the configured code page to UTF-8 (for display).
bool AnsiToHost(const char* ansi, char* out, unsigned long capacity);
// The prefix for messages printed instead of error boxes, e.g. "kovsea".
void SetHostProgramName(const char* name);

}  // namespace platform
