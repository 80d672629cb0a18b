// Entry names travel in a Windows ANSI code page; the host names files in its own encoding
// (UTF-8 on Linux, UTF-16 on Windows). These conversions refuse anything that does not map
// exactly, so that a name is never silently replaced by a look-alike.
#pragma once

#include <filesystem>
#include <string>

// Normalises a code page given on the command line ("1252", "cp1252", "windows-1252")
// into the name iconv uses ("CP1252"). Empty when it is not a code page number.
std::string CodepageName(const std::string& argument);
// Converts one host file name component to the code page; false when it cannot be mapped.
bool HostNameToAnsi(const std::filesystem::path& component, const std::string& codepage,
                    std::string* ansi);
// Converts an archive name to the host's encoding for display (UTF-8 on Linux).
std::string AnsiToDisplay(const std::string& ansi, const std::string& codepage);
