#include "signature.h"

#include <ctype.h>

#include "authenticode.h"
#include "byte_order.h"
#include "digest.h"
#include "json.h"
#include "signature_reader.h"

namespace {

// WIN_CERTIFICATE: length (header included), revision, type, then the signature.
constexpr uint32_t kEntryHeader = 8;
constexpr uint16_t kRevision1 = 0x0100;
constexpr uint16_t kRevision2 = 0x0200;
constexpr uint16_t kPkcsSignedData = 0x0002;
// No signature comes near this; a larger table is refused rather than read into memory.
constexpr uint32_t kLargestTable = 64u << 20;

const struct {
  const char* oid;
  DigestAlgorithm algorithm;
} kDigestOids[] = {
    {"1.3.14.3.2.26", DigestAlgorithm::kSha1},
    {"2.16.840.1.101.3.4.2.1", DigestAlgorithm::kSha256},
    {"2.16.840.1.101.3.4.2.2", DigestAlgorithm::kSha384},
    {"2.16.840.1.101.3.4.2.3", DigestAlgorithm::kSha512},
};

// The short names of the attributes a code-signing certificate's names carry.
const struct {
  const char* oid;
  const char* name;
} kNameKeys[] = {
    {"2.5.4.3", "CN"},          {"2.5.4.4", "SN"},     {"2.5.4.5", "SERIALNUMBER"}, {"2.5.4.6", "C"},
    {"2.5.4.7", "L"},           {"2.5.4.8", "S"},      {"2.5.4.9", "STREET"},       {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},         {"2.5.4.12", "T"},     {"2.5.4.42", "G"},           {"2.5.4.15", "businessCategory"},
    {"1.2.840.113549.1.9.1", "E"}, {"0.9.2342.19200300.100.1.25", "DC"},
};

struct EntryHeader {
  uint32_t length;
  uint16_t revision;
  uint16_t type;

  bool IsSignature(uint64_t room) const {
    return length >= kEntryHeader && length <= room && (revision == kRevision1 || revision == kRevision2) &&
           type == kPkcsSignedData;
  }
};

EntryHeader HeaderAt(const std::string& table, size_t at) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(table.data() + at);
  return EntryHeader{LoadLe32(p), LoadLe16(p + 4), LoadLe16(p + 6)};
}

std::string Hex16(uint16_t v) {
  char text[8];
  snprintf(text, sizeof text, "0x%04x", v);
  return text;
}

// The bytes the DER value at the start of `der` takes, its tag and length included; 0 when
// they cannot be told.
uint64_t DerLength(const std::string& der) {
  if (der.size() < 2) return 0;
  const uint8_t first = static_cast<uint8_t>(der[1]);
  if (first < 0x80) return 2 + first;
  const size_t count = first & 0x7f;
  if (count == 0 || count > 4 || der.size() < 2 + count) return 0;
  uint64_t length = 0;
  for (size_t i = 0; i < count; ++i) length = length << 8 | static_cast<uint8_t>(der[2 + i]);
  return 2 + count + length;
}

const char kNothingVouches[] = "nothing vouches for this file: get a properly signed one from the vendor";

// The signature the table's first entry holds; false with a problem when there is none, or
// when the table lies (partly) outside the file, which the trailer's checks report.
bool ReadFirstEntry(const Sea& sea, std::string* der, SignatureReport* report, Problems* problems) {
  const CertificateTable& table = sea.location.table;
  if (uint64_t{table.offset} + table.size > sea.location.file_length) return false;
  if (table.size > kLargestTable) {
    problems->push_back(sea.At(table.offset, "the certificate table is larger than any signature (" +
                                                 std::to_string(table.size) + " bytes)"));
    return false;
  }
  std::string bytes(table.size, '\0');
  if (!platform::SeekTo(sea.file, table.offset) || platform::ReadBytes(sea.file, &bytes[0], table.size) != table.size) {
    problems->push_back(sea.At(table.offset, "cannot read the certificate table"));
    return false;
  }
  const EntryHeader first = table.size >= kEntryHeader ? HeaderAt(bytes, 0) : EntryHeader{0, 0, 0};
  if (!first.IsSignature(table.size)) {
    problems->push_back(sea.At(table.offset,
                               "the certificate table holds no Authenticode signature (an entry of " +
                                   std::to_string(first.length) + " bytes, revision " + Hex16(first.revision) +
                                   ", type " + Hex16(first.type) + ")",
                               kNothingVouches));
    return false;
  }
  const uint64_t next = (uint64_t{first.length} + 7) / 8 * 8;
  if (next < table.size && bytes.find_first_not_of('\0', next) != std::string::npos) {
    const bool entry = table.size - next >= kEntryHeader && HeaderAt(bytes, next).IsSignature(table.size - next);
    problems->push_back(sea.At(table.offset + next,
                               (entry ? "a second certificate entry follows the signature"
                                      : std::to_string(table.size - next) +
                                            " bytes that are not zeros follow the signature") +
                                   std::string(" in the certificate table: Windows checks only the first entry, "
                                               "and nothing vouches for the rest"),
                               "get a file with one signature from the vendor"));
  }
  *der = bytes.substr(kEntryHeader, first.length - kEntryHeader);
  const uint64_t blob = DerLength(*der);
  if (blob != 0 && blob <= der->size() &&
      (der->size() - blob >= kCertificateAlignment || der->find_first_not_of('\0', blob) != std::string::npos)) {
    report->entry_problem = "bytes nobody signed follow it inside its certificate table entry";
    problems->push_back(sea.At(table.offset + kEntryHeader + blob,
                               std::to_string(der->size() - blob) + " bytes other than the padding to 8 bytes follow "
                                   "the signature inside its certificate table entry: nothing vouches for them "
                                   "(Windows refuses them where its padding check is on)",
                               "get a properly signed file from the vendor"));
  }
  return true;
}

std::string NormalHex(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != ':' && c != ' ') out.push_back(static_cast<char>(tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

// The file's own image digest, compared with the signed one.
void CompareDigest(const Sea& sea, DigestAlgorithm algorithm, SignatureReport* report, ContentCheck* content,
                   Problems* problems) {
  pe::ImageDigestLayout layout;
  Problem problem;
  if (!pe::ReadImageDigestLayout(sea.file, sea.location.file_length, &layout, &problem)) {
    problems->push_back(sea.At(*problem.offset, problem.what + ", so the signature cannot be checked"));
    return;
  }
  std::string digest;
  DigestFile(sea, layout, &algorithm, &digest, content);
  report->file_digest = HexBytes(digest);
  if (report->file_digest.empty()) {
    problems->push_back(Problem{sea.path, std::nullopt, "cannot read the file to check its signature", ""});
  } else if (!report->DigestMatches()) {
    problems->push_back(Problem{
        sea.path, std::nullopt,
        "the signature does not match this file: bytes 0 to " + std::to_string(layout.end) +
            " (less the checksum and the certificate table's entry) hash to " + report->file_digest +
            ", the signature holds " + report->signed_digest,
        "the file was changed after it was signed: do not run it, get it again from the vendor"});
  }
}

void CheckPins(const Sea& sea, const TrustPins& pins, const SignatureReport& report, Problems* problems) {
  const auto unmet = [&](const std::string& what, const std::string& fix) {
    problems->push_back(Problem{sea.path, std::nullopt, what, fix});
  };
  if (!pins.signer_sha256.empty() && NormalHex(pins.signer_sha256) != report.signer.sha256) {
    unmet("signed by the certificate with SHA-256 " + report.signer.sha256 + ", not the pinned " +
              NormalHex(pins.signer_sha256),
          "this is not the vendor's signature");
  }
  if (!pins.signer_subject.empty() && pins.signer_subject != report.signer.subject) {
    unmet("signed by \"" + report.signer.subject + "\", not the pinned \"" + pins.signer_subject + "\"",
          "this is not the vendor's signature");
  }
  if (!pins.ca.empty() && report.chain != ChainCheck::kTrusted) {
    unmet("the signer's certificate does not chain to the given roots: " + report.chain_detail,
          "the file was not signed under the roots given with --ca");
  }
}

std::string EscapeNameValue(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const bool edge = (i == 0 && (c == ' ' || c == '#')) || (i + 1 == value.size() && c == ' ');
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      // A NUL or control character is shown, never passed to the terminal or left to end the text.
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02x", u);
      out += escaped;
      continue;
    }
    if (edge || c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' || c == ';') out += '\\';
    out += c;
  }
  return out;
}

std::string TextOrNull(const std::string& s) { return s.empty() ? "null" : JsonString(s); }

std::string SignerJson(const Signer& s) {
  return JsonObject({{"subject", JsonString(s.subject)},
                     {"issuer", JsonString(s.issuer)},
                     {"serial", JsonString(s.serial)},
                     {"sha256", JsonString(s.sha256)},
                     {"not_before", TextOrNull(s.not_before)},
                     {"not_after", TextOrNull(s.not_after)}});
}

const char* ChainName(ChainCheck chain) {
  switch (chain) {
    case ChainCheck::kNotChecked: return "not checked";
    case ChainCheck::kTrusted: return "trusted";
    case ChainCheck::kUntrusted: return "untrusted";
  }
  return "";
}

}  // namespace

std::string FormatName(const DistinguishedName& name) {
  std::string out;
  for (auto rdn = name.rbegin(); rdn != name.rend(); ++rdn) {
    if (!out.empty()) out += ", ";
    for (size_t i = 0; i < rdn->size(); ++i) {
      const NameAttribute& a = (*rdn)[i];
      std::string key = a.oid;
      for (const auto& k : kNameKeys) {
        if (a.oid == k.oid) key = k.name;
      }
      out += (i == 0 ? "" : "+") + key + "=" + EscapeNameValue(a.value);
    }
  }
  return out;
}

std::string SerialHex(const std::string& big_endian) {
  const size_t first = big_endian.find_first_not_of('\0');
  return first == std::string::npos ? "00" : HexBytes(big_endian.substr(first));
}

std::string SignerLine(const Signer& signer) {
  return "\"" + signer.subject + "\" (certificate sha256 " + signer.sha256 + ")";
}

std::string SignerSha256Problem(const std::string& text) {
  std::string digits;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    // A colon only between two pairs of digits, as fingerprints are written.
    if (c == ':' && i % 3 == 2 && i + 1 < text.size()) continue;
    if (!isxdigit(static_cast<unsigned char>(c))) {
      return "takes the signing certificate's SHA-256 as 64 hex digits (pairs may be separated by colons), "
             "not '" + text + "'";
    }
    digits += c;
  }
  if (digits.size() != 64) {
    return "takes the signing certificate's SHA-256 as 64 hex digits, not " + std::to_string(digits.size()) +
           (text.empty() ? " (an empty pin would pin nothing)" : " digits");
  }
  return "";
}

std::string SignerSubjectProblem(const std::string& text) {
  return text.empty() ? "takes the signer's subject as verify prints it, not an empty text (which would pin nothing)"
                      : "";
}

Problems CheckSignature(const Sea& sea, const TrustPins& pins, SignatureReport* report, ContentCheck* content,
                        Pkcs7Reader reader) {
  *report = SignatureReport();
  Problems problems;
  if (sea.location.table.size == 0) {
    if (pins.AsksForSigner()) {
      problems.push_back(Problem{sea.path, std::nullopt, "the file is not signed, and a signer was asked for",
                                 "get the signed release from the vendor"});
    }
    return problems;
  }
  report->present = true;
  std::string der;
  if (!ReadFirstEntry(sea, &der, report, &problems)) return problems;
  Pkcs7Reading reading;
  reader(der, pins.ca, &reading);
  if (reading.unavailable) {
    report->readable_here = false;
    report->unreadable_why = reading.error;
    if (pins.AsksForSigner()) {
      problems.push_back(Problem{sea.path, std::nullopt,
                                 reading.error + ", so the signer asked for cannot be checked: refused rather than "
                                                 "taken without the check",
                                 "check the file with the Linux kovsea verify and the same pins"});
    }
    return problems;
  }
  if (!reading.error.empty()) {
    problems.push_back(sea.At(sea.location.table.offset + kEntryHeader,
                              "the signature cannot be read: " + reading.error, kNothingVouches));
    return problems;
  }
  report->read = true;
  report->signed_digest = HexBytes(reading.signed_digest);
  report->signature_verifies = reading.signature_verifies;
  report->usage_error = reading.usage_error;
  report->signer = reading.signer;
  report->countersignature = reading.countersignature;
  report->chain = reading.chain;
  report->chain_detail = reading.chain_detail;
  report->nested = reading.nested;
  const DigestAlgorithm* algorithm = nullptr;
  for (const auto& d : kDigestOids) {
    if (reading.digest_oid == d.oid) algorithm = &d.algorithm;
  }
  if (algorithm == nullptr) {
    report->digest_algorithm = reading.digest_oid;
    problems.push_back(Problem{sea.path, std::nullopt,
                               "the signature's image digest uses algorithm " + reading.digest_oid +
                                   ", which kovsea does not check", ""});
  } else {
    report->digest_algorithm = DigestName(*algorithm);
    CompareDigest(sea, *algorithm, report, content, &problems);
  }
  if (!reading.signature_verifies) {
    problems.push_back(Problem{sea.path, std::nullopt,
                               "the signature does not verify with the signer's certificate (" +
                                   reading.signature_error + "): the signed digest or the certificate was changed",
                               kNothingVouches});
  }
  if (!reading.usage_error.empty()) {
    problems.push_back(Problem{sea.path, std::nullopt,
                               "the signer's certificate is not for code signing: " + reading.usage_error,
                               kNothingVouches});
  }
  if (reading.countersignature && !reading.countersignature->matches) {
    problems.push_back(Problem{sea.path, std::nullopt,
                               "the countersignature does not stamp this signature, or its own signature "
                               "fails: its time proves nothing", ""});
  }
  CheckPins(sea, pins, *report, &problems);
  return problems;
}

std::string SignatureJson(const SignatureReport& r) {
  if (!r.present) return "null";
  std::vector<std::string> nested;
  for (const Signer& s : r.nested) nested.push_back(SignerJson(s));
  const auto& c = r.countersignature;
  return JsonObject(
      {{"read", JsonBool(r.read)},
       {"digest_algorithm", TextOrNull(r.digest_algorithm)},
       {"signed_digest", TextOrNull(r.signed_digest)},
       {"file_digest", TextOrNull(r.file_digest)},
       {"matches", JsonBool(r.Matches())},
       {"signer", r.read ? SignerJson(r.signer) : "null"},
       {"countersignature", c ? JsonObject({{"time", TextOrNull(c->time)},
                                            {"signer", SignerJson(c->signer)},
                                            {"matches", JsonBool(c->matches)}})
                              : "null"},
       {"chain", JsonString(ChainName(r.chain))},
       {"chain_detail", TextOrNull(r.chain_detail)},
       {"nested_signers", JsonArray(nested)}});
}

std::vector<std::string> DescribeSignatureReport(const SignatureReport& r) {
  if (!r.readable_here) return {"  signature: not checked (" + r.unreadable_why + ")"};
  if (!r.read) return {};
  // One verdict: a signature over another file's digest does not "verify" for this one.
  std::string verdict = !r.signature_verifies ? "does not verify with the signer's certificate"
                        : !r.DigestMatches()  ? "fails: the file is not what was signed"
                        : !r.usage_error.empty() ? "fails: the certificate is not for code signing"
                        : !r.entry_problem.empty() ? "fails: " + r.entry_problem
                                                   : std::string("verifies");
  std::vector<std::string> lines = {
      "  signer: " + r.signer.subject,
      "  issuer: " + r.signer.issuer,
      "  serial: " + r.signer.serial,
      "  certificate sha256: " + r.signer.sha256,
      "  valid: " + (r.signer.not_before.empty() ? "?" : r.signer.not_before) + " to " +
          (r.signer.not_after.empty() ? "?" : r.signer.not_after),
      "  digest: " + r.digest_algorithm + " " + r.signed_digest +
          (r.DigestMatches() ? ", matches the file" : ", the file's is " + r.file_digest),
      "  signature: " + verdict,
  };
  const auto& c = r.countersignature;
  lines.push_back(c ? "  countersigned: " + c->time + " by \"" + c->signer.subject + "\"" +
                          (c->matches ? " (the signing time, as that timestamp authority attests it)"
                                      : " (does not stamp this signature: its time proves nothing)")
                    : "  countersigned: no (nothing attests when it was signed)");
  switch (r.chain) {
    case ChainCheck::kNotChecked:
      lines.push_back("  chain: not checked (give --ca with the vendor's root certificate to check it)");
      break;
    case ChainCheck::kTrusted: lines.push_back("  chain: trusted: " + r.chain_detail); break;
    case ChainCheck::kUntrusted: lines.push_back("  chain: not trusted: " + r.chain_detail); break;
  }
  for (const Signer& s : r.nested) lines.push_back("  nested signature: " + SignerLine(s) + ", shown, not checked");
  return lines;
}
