// Where the stub that goes with kovsea is found.
#pragma once

#include <filesystem>
#include <string>

// The stub named by `given` (--stub) or $KOVSEA_STUB, else the one installed with kovsea:
// beside it, as the Windows zip holds it, or in ../share/kovsea, as the Debian package does.
// Empty when there is none.
std::filesystem::path FindStub(const char* argv0, const std::string& given);
// kovsea-observer.exe for `kovsea try`: $KOVSEA_OBSERVER, else beside kovsea or in
// ../share/kovsea, as the stub is found. Empty when there is none.
std::filesystem::path FindObserver(const char* argv0);
