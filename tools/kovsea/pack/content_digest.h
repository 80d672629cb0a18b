// The content digest: a SHA-256 of everything the stub reads, which pack writes into every
// self-extractor so that a changed byte shows even in a file nobody signed. It stands in a
// record of its own in front of the trailer, where the stub reads nothing, and in front of
// where a signer appends its certificate table, so that a signature covers it too:
//
//   ... entry stream | side files | padding (zeros) | "KOVSUM01" digest (32) | trailer (52) | [signer's padding, table]
//                                                    ^ the record, 40 bytes
//
// The digest is of bytes 0 to the trailer's end less the parts a signer writes (the optional
// header's CheckSum and the certificate table's directory entry, as the Authenticode digest
// leaves them out) and less the digest's own 32 bytes; the record's magic is hashed. Signing
// afterwards changes nothing it covers. A file packed before the record existed has none: 40
// bytes count as the record only where they lie behind the entry stream and every side file.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

constexpr char kContentDigestMagic[8] = {'K', 'O', 'V', 'S', 'U', 'M', '0', '1'};
constexpr size_t kContentDigestSize = 32;
constexpr size_t kContentDigestRecordSize = sizeof kContentDigestMagic + kContentDigestSize;
