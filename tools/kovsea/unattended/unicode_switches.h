// The installer's switches as they were typed, for a command line that the ANSI code page
// cannot spell ("Łódź" in code page 1252, "ソフト\製品" in any but 932): the ANSI words that
// CLI11 parsed have lost what the code page cannot spell, the process's wide command line has
// not. Windows only.
#pragma once

#include <string>
#include <vector>

// `ansi` are the switches as parsed; `utf8` receives them in UTF-8, quoted and joined for
// Setup.exe's command line, or nothing when the command line lost nothing in ANSI. False when
// the wide words cannot be matched to the parsed ones (the switches were not the last words).
bool UnicodeSwitches(const std::vector<std::string>& ansi, std::string* utf8);
