// The content digest of a finished file (pack/content_digest.h) found and checked: the record
// in front of the trailer, and the digest of the file's bytes it covers, taken in the same
// read as the Authenticode image digest of a signed file. The two digests cover the same
// bytes up to the record, so when the signature's digest is SHA-256 too, that part is
// hashed once and the digest's state copied at the record.
#pragma once

#include <stdint.h>

#include <string>

#include "digest.h"
#include "problem.h"
#include "sea_file.h"

namespace pe {
struct ImageDigestLayout;
}

struct ContentCheck {
  bool present = false;    // the file holds a content digest record
  uint64_t digest_at = 0;  // where the record's 32 digest bytes stand
  std::string stored;      // hex, as the record holds it
  std::string computed;    // hex, of the file; empty until taken, or when it could not be
  std::string error;       // why it could not be taken
  // The fields a signer writes, left out as pack leaves them out: where the stub part's PE
  // headers put them, or nowhere (both 0) in a file whose stub is no PE image.
  uint64_t checksum_at = 0;
  uint64_t table_entry_at = 0;

  bool Matches() const { return present && !computed.empty() && computed == stored; }
};

// The record of `sea`, not yet checked; `present` false when the file has none.
ContentCheck FindContentDigest(const Sea& sea);
// One read of the file for its digests: the content digest into `content` (when it is
// present) and the image digest with `image_algorithm` (when given) into `image_digest`
// (empty when the file cannot be read).
void DigestFile(const Sea& sea, const pe::ImageDigestLayout& layout, const DigestAlgorithm* image_algorithm,
                std::string* image_digest, ContentCheck* content);
// Takes the content digest alone, where no image digest was taken with it.
void TakeContentDigest(const Sea& sea, ContentCheck* content);
// What is wrong with the content of `sea`: a digest that does not match; with `required`, also
// a file with none.
Problems ContentProblems(const Sea& sea, const ContentCheck& content, bool required);
// "  content: ..." as verify prints it.
std::string DescribeContent(const ContentCheck& content);
// Null for a file without a digest, else {"sha256", "file_sha256", "matches"} (docs/json.md).
std::string ContentJson(const ContentCheck& content);
