// An opened self-extractor: its trailer found (also in front of a code signature) and read,
// and what is wrong with the trailer or the signature, each problem with its byte offset.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive_format.h"
#include "platform_files.h"
#include "trailer_locator.h"

struct Sea {
  platform::File* file = nullptr;
  ArchiveTrailer trailer{};
  TrailerLocation location{};

  Sea() = default;
  Sea(const Sea&) = delete;
  Sea& operator=(const Sea&) = delete;
  ~Sea();
  uint64_t TrailerAt() const { return location.trailer_offset; }
};

// Opens `path` and reads its trailer; false (after a "kovsea: error:" line) when the file
// cannot be opened or is too short to hold a trailer.
bool OpenSea(const std::filesystem::path& path, Sea* sea);
// Every problem of the trailer and the signature, as "offset N: what" lines.
std::vector<std::string> TrailerProblems(const Sea& sea);
// "signed: certificate table at offset N, M bytes[, after P bytes of padding]" or "not signed".
std::string DescribeSignature(const TrailerLocation& location);
// Opens `path` and refuses it, with an error line per problem, unless its trailer is usable.
bool OpenUsableSea(const std::filesystem::path& path, Sea* sea);

// Prints "kovsea: error: MESSAGE" on stderr.
void PrintError(const std::string& message);
