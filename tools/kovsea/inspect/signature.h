// A self-extractor's code signature checked against the file itself: the certificate table
// read, the Authenticode image digest the signature holds compared with the file's own
// (pe/authenticode), the PKCS#7 signature verified over it, and who signed, and when (the
// time of an RFC 3161 countersignature). On request, that a given certificate signed
// (pinning by its SHA-256 or its subject) and that its chain ends in given roots. Without
// roots the chain is not checked, and the report says so: code-signing roots are not the
// system's TLS roots, and guessing would be worse than saying nothing.
//
// Names are printed most specific part first, as Windows shows them: "CN=Vendor code
// signing, O=Vendor Ltd". A subject pin is compared with that text.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "content_check.h"
#include "problem.h"
#include "sea_file.h"

struct Signer {
  std::string subject;
  std::string issuer;
  std::string serial;  // lowercase hex, without leading zero bytes
  std::string sha256;  // of the certificate (DER)
  std::string not_before;  // the certificate's validity, UTC, "2026-12-08T18:12:54Z"
  std::string not_after;
};

enum class ChainCheck { kNotChecked, kTrusted, kUntrusted };

struct Countersignature {
  std::string time;  // UTC, "2026-12-08T18:12:54Z"
  Signer signer;
  bool matches = false;  // it stamps this signature, and its own signature verifies
};

struct SignatureReport {
  bool present = false;    // the file names a certificate table
  bool read = false;       // the table holds an Authenticode signature that could be read
  bool readable_here = true;  // false when this build cannot read signatures at all
  std::string unreadable_why;  // why, when it cannot
  std::string digest_algorithm;  // "sha256"
  std::string signed_digest;     // hex: the image digest the signature holds
  std::string file_digest;       // hex: the image digest of the file
  bool signature_verifies = false;  // the PKCS#7 signature over the digest verifies
  Signer signer;
  std::optional<Countersignature> countersignature;
  ChainCheck chain = ChainCheck::kNotChecked;
  std::string chain_detail;    // the root reached, or why none was
  std::vector<Signer> nested;  // nested signatures: shown, not checked

  std::string usage_error;  // why the signer's certificate is not for code signing; empty when it is
  std::string entry_problem;  // what the certificate table's entry holds besides the signature

  bool DigestMatches() const { return read && !signed_digest.empty() && signed_digest == file_digest; }
  bool Matches() const { return DigestMatches() && signature_verifies; }
};

// What the admin pins; each empty part asks for nothing.
struct TrustPins {
  std::string signer_sha256;   // the signing certificate's SHA-256, hex (colons allowed)
  std::string signer_subject;  // the signer's subject as reports print it
  std::filesystem::path ca;    // roots the chain must end in (PEM)

  bool AsksForSigner() const { return !signer_sha256.empty() || !signer_subject.empty() || !ca.empty(); }
};
// Why `text` is no certificate SHA-256 to pin (64 hex digits, pairs may be separated by
// colons); empty when it is one. An empty pin is refused, never taken as no pin.
std::string SignerSha256Problem(const std::string& text);
// Why `text` is no subject to pin; empty when it is one.
std::string SignerSubjectProblem(const std::string& text);

struct Pkcs7Reading;
// What reads a signature's PKCS#7: ReadPkcs7, this build's, or ReadNoPkcs7, which reads none
// (signature_reader.h).
using Pkcs7Reader = void (*)(const std::string& der, const std::filesystem::path& roots, Pkcs7Reading* reading);
void ReadPkcs7(const std::string& der, const std::filesystem::path& roots, Pkcs7Reading* reading);

// Fills `report` and returns every problem of the signature of `sea` against `pins`. An
// unsigned file has none, unless a pin asks for a signer. With `content`, its digest is taken
// too, in the same read of the file. A signature `reader` cannot read is no problem here
// unless a pin asks for a signer (the caller decides what an unchecked signature means).
Problems CheckSignature(const Sea& sea, const TrustPins& pins, SignatureReport* report,
                        ContentCheck* content = nullptr, Pkcs7Reader reader = ReadPkcs7);
// The report as JSON: null for an unsigned file, else an object (docs/json.md).
std::string SignatureJson(const SignatureReport& report);
// The report as lines of text for verify, each without a line break.
std::vector<std::string> DescribeSignatureReport(const SignatureReport& report);
// "SUBJECT (certificate sha256 HEX)": how one-line reports name a signer.
std::string SignerLine(const Signer& signer);
