// The signature reader of a build without a PKCS#7 library (kovsea.exe: OpenSSL is not part
// of the Windows build). It says so; the digest, signer and chain are the Linux kovsea's.
#include "signature_reader.h"

void ReadNoPkcs7(const std::string&, const std::filesystem::path&, Pkcs7Reading* reading) {
  reading->unavailable = true;
  reading->error = "this kovsea cannot check signatures (the Linux one can): it checks neither the signature, "
                   "nor the signer, nor the chain";
}

#ifdef _WIN32
void ReadPkcs7(const std::string& der, const std::filesystem::path& roots, Pkcs7Reading* reading) {
  ReadNoPkcs7(der, roots, reading);
}
#endif
