// The signature reader of a build without a PKCS#7 library (kovsea.exe: OpenSSL is not part
// of the Windows build). It says so; the digest, signer and chain are the Linux kovsea's.
#include "signature_reader.h"

void ReadPkcs7(const std::string&, const std::filesystem::path&, Pkcs7Reading* reading) {
  reading->unavailable = true;
  reading->error = "signature checking is Linux-only for now: this kovsea cannot check the signature, the signer "
                   "or the chain";
}
