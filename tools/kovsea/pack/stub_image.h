// The stub's bytes as they go into a self-extractor: read from the stub the packer was given,
// refused when signed (the payload behind it would break the signature), and given the
// vendor's icon and version information when the options ask for them.
#pragma once

#include <string>

#include "pack_options.h"
#include "problem.h"
#include "resource_ids.h"

// The icon group the stub's window and file show, as the stub's resource script names it.
constexpr uint16_t kProgramIconGroup = IDI_APP_ICON;

// False with `problem` when the stub, the icon or a version key is refused.
bool PrepareStub(const PackOptions& options, std::string* stub, Problem* problem);
