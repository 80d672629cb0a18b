// The stub's bytes as they go into a self-extractor: read from the stub the packer was given,
// refused when signed (the payload behind it would break the signature), and given the
// vendor's icon, version information and translated texts when the options ask for them.
#pragma once

#include <string>

#include "pack_options.h"
#include "problem.h"
#include "resource_ids.h"
#include "translations.h"

// The icon group the stub's window and file show, as the stub's resource script names it.
constexpr uint16_t kProgramIconGroup = IDI_APP_ICON;

// False with `problems` when the stub, the icon, a version key or a translation is refused
// (every problem of the translations at once, as check lists them).
bool PrepareStub(const PackOptions& options, std::string* stub, Problems* problems);

// The languages the stub part `stub` shows its texts in: those its progress dialog or its
// messages are given in, by Windows language id, in ascending order (empty when it has no
// readable resources).
std::vector<uint16_t> StubLanguages(const std::string& stub);
