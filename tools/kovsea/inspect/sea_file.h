// An opened self-extractor: its trailer found (also in front of a code signature) and read,
// and what is wrong with the trailer or the signature, each problem with its byte offset.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>

#include "archive_format.h"
#include "platform_files.h"
#include "problem.h"
#include "trailer_locator.h"

struct Sea {
  std::string path;  // as given, the `where` of its problems
  platform::File* file = nullptr;
  ArchiveTrailer trailer{};
  TrailerLocation location{};

  Sea() = default;
  Sea(const Sea&) = delete;
  Sea& operator=(const Sea&) = delete;
  ~Sea();
  uint64_t TrailerAt() const { return location.trailer_offset; }
  // A problem of this file at `offset`.
  Problem At(uint64_t offset, const std::string& what, const std::string& fix = std::string()) const {
    return ProblemAt(path, offset, what, fix);
  }
};

// Opens `path` and reads its trailer; false with `problem` when the file cannot be opened or
// is too short to hold a trailer.
bool OpenSea(const std::filesystem::path& path, Sea* sea, Problem* problem);
// Every problem of the trailer and the signature.
Problems TrailerProblems(const Sea& sea);
// "signed: certificate table at offset N, M bytes[, after P bytes of padding]", with a word
// when the table is not where a signer leaves it, or "not signed" when the header names none.
std::string DescribeSignature(const TrailerLocation& location);
// Opens `path` and refuses it, with every problem, unless its trailer is usable.
bool OpenUsableSea(const std::filesystem::path& path, Sea* sea, Problems* problems);
// Reads the stub part (everything in front of the archive) whole, the fields a code signer
// rewrites (the checksum, the certificate table's entry) zeroed; false when it cannot be read.
bool ReadStubPart(const Sea& sea, std::string* stub);
