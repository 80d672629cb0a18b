// Whether a finished self-extractor is well formed: its trailer and signature, its entry
// stream read with the stub's own decoder, the entry count, and every entry's path against
// the longest Windows allows under the user's temporary directory. A new check of a finished
// file goes here, as one more Problem.
#pragma once

#include <stdint.h>

#include "codepage.h"
#include "content_check.h"
#include "problem.h"
#include "sea_file.h"
#include "signature.h"

// Every problem of `sea`; none when it is well formed and every entry extracts under a
// temporary directory of `temp_length` characters.
Problems VerifySea(Sea* sea, const Codepage& codepage, uint32_t temp_length);

// Who asks for the trust checks, which decides what a signature this build cannot check
// means: for verify a signed file it cannot check is not OK; an install goes ahead with the
// content digest checked, unless a pin asks for a signer it cannot check.
enum class TrustUse { kVerify, kInstall };

struct TrustReport {
  SignatureReport signature;
  ContentCheck content;
};

// The signature of `sea` against `pins` and its content digest, both in one read of the file,
// the signature read with `reader` (the build's ReadPkcs7). A digest that does not match is a
// problem, and so is a file with none under `require_digest`.
Problems CheckTrust(const Sea& sea, const TrustPins& pins, bool require_digest, TrustUse use, Pkcs7Reader reader,
                    TrustReport* report);
