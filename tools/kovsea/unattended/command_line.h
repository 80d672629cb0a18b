// The installer's own arguments on a Windows command line: each quoted as the Windows C
// runtime (and CommandLineToArgvW) reads arguments back, so that Setup.exe's program receives
// exactly the arguments kovsea was given.
#pragma once

#include <string>
#include <vector>

// `argument` as it goes on a command line: as it is when it holds no blank, tab, line break
// or double quote (and is not empty); else in double quotes, with each double quote and the
// backslashes before it (or before the closing quote) escaped.
std::string QuoteArgument(const std::string& argument);
// The arguments quoted and joined by single blanks.
std::string JoinArguments(const std::vector<std::string>& arguments);
