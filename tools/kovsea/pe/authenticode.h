// The Authenticode image digest: the digest a code signature holds of the file it signs,
// computed here from the file itself so that the signature can be checked against it. It is
// the file's bytes in order, less the three parts a signer writes after hashing:
//
//   0 ....... CheckSum (4 bytes, in the optional header) ....... certificate table's entry
//   (8 bytes, in the data directory) ....... end
//   end = the certificate table's offset in a file that names one, else the file's length;
//   an unsigned file whose length is not a multiple of 8 is hashed with the zeros a signer
//   appends in front of the table.
//
// That is the digest signers and readers compute for an image whose sections lie in file
// order (a self-extractor's payload behind the stub's last section included), and the one
// osslsigncode computes: the tests check it against osslsigncode.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "digest.h"
#include "platform_files.h"
#include "problem.h"

namespace pe {

struct ImageDigestLayout {
  uint64_t checksum_at = 0;     // CheckSum, left out (4 bytes)
  uint64_t table_entry_at = 0;  // the certificate table's directory entry, left out (8 bytes)
  uint64_t end = 0;             // the digest covers the bytes in front of this
  uint32_t zero_padding = 0;    // zeros hashed after `end` (an unsigned file only)
};

constexpr uint32_t kCheckSumSize = 4;
constexpr uint32_t kDataDirectoryEntrySize = 8;

// Reads the headers of `file` (`file_length` bytes); false with `problem` (what, and the
// offset of the header at fault) when they are not a PE image's or have no certificate
// table entry.
bool ReadImageDigestLayout(platform::File* file, uint64_t file_length, ImageDigestLayout* layout,
                           Problem* problem);
// The digest's bytes; empty when the file cannot be read.
std::string ImageDigest(platform::File* file, const ImageDigestLayout& layout, DigestAlgorithm algorithm);
// Feeds bytes [from, to) of `file`, less the CheckSum and the certificate table's entry, to
// every digest of `digests` in one read; false when the file cannot be read.
bool HashImageRange(platform::File* file, const ImageDigestLayout& layout, uint64_t from, uint64_t to,
                    const std::vector<Digest*>& digests);
// Where the CheckSum and the certificate table's entry stand in `image` (its headers at
// least), as ReadImageDigestLayout finds them in a file; false when they are not a PE image's.
bool FindSignerFields(const std::string& image, uint64_t* checksum_at, uint64_t* table_entry_at);

}  // namespace pe
