// The signature read with OpenSSL's libcrypto: PKCS#7 and X.509 parsed by the library, the
// signature verified by it, chains built by it. Authenticode signs its content's value (the
// SpcIndirectDataContent without its tag and length), which is what is handed to
// PKCS7_verify as the signed data.
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <time.h>

#include <memory>

#include "digest.h"
#include "signature_reader.h"

namespace {

constexpr char kIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char kTimestampOid[] = "1.3.6.1.4.1.311.3.3.1";  // an RFC 3161 token, unsigned
constexpr char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";

struct Free {
  void operator()(PKCS7* p) const { PKCS7_free(p); }
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(X509_STORE* p) const { X509_STORE_free(p); }
  void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
  void operator()(X509_SIG* p) const { X509_SIG_free(p); }
  void operator()(TS_TST_INFO* p) const { TS_TST_INFO_free(p); }
  void operator()(ASN1_SEQUENCE_ANY* p) const { sk_ASN1_TYPE_pop_free(p, ASN1_TYPE_free); }
  void operator()(STACK_OF(X509)* p) const { sk_X509_free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

std::string ErrorText() {
  const unsigned long error = ERR_peek_last_error();
  const char* reason = ERR_reason_error_string(error);
  ERR_clear_error();
  return reason != nullptr ? reason : "unknown error";
}

std::string OidText(const ASN1_OBJECT* object) {
  char text[128];
  const int n = OBJ_obj2txt(text, sizeof text, object, 1);
  return n > 0 && n < static_cast<int>(sizeof text) ? text : "";
}

std::string Bytes(const ASN1_STRING* s) {
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), ASN1_STRING_length(s));
}

DistinguishedName NameOf(const X509_NAME* name) {
  DistinguishedName out;
  int set = -1;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
    const std::string value = length >= 0 ? std::string(reinterpret_cast<char*>(utf8), length) : "";
    OPENSSL_free(utf8);
    if (out.empty() || X509_NAME_ENTRY_set(entry) != set) out.emplace_back();
    set = X509_NAME_ENTRY_set(entry);
    out.back().push_back({OidText(X509_NAME_ENTRY_get_object(entry)), value});
  }
  return out;
}

std::string TimeText(const ASN1_TIME* time) {
  struct tm when = {};
  if (time == nullptr || ASN1_TIME_to_tm(time, &when) != 1) return "";
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &when);
  return text;
}

// Why `certificate` may not sign code: its key usage must allow digital signatures, and an
// extended key usage, where it has one, must name code signing. Empty when it may.
std::string UsageError(X509* certificate) {
  const uint32_t flags = X509_get_extension_flags(certificate);
  if ((flags & EXFLAG_KUSAGE) != 0 && (X509_get_key_usage(certificate) & KU_DIGITAL_SIGNATURE) == 0) {
    return "its key usage does not allow digital signatures";
  }
  if ((flags & EXFLAG_XKUSAGE) != 0 && (X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN) == 0) {
    return "its extended key usage does not name code signing";
  }
  return "";
}

Signer SignerOf(X509* certificate) {
  Signer signer;
  signer.not_before = TimeText(X509_get0_notBefore(certificate));
  signer.not_after = TimeText(X509_get0_notAfter(certificate));
  signer.subject = FormatName(NameOf(X509_get_subject_name(certificate)));
  signer.issuer = FormatName(NameOf(X509_get_issuer_name(certificate)));
  signer.serial = SerialHex(Bytes(X509_get0_serialNumber(certificate)));
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(certificate, EVP_sha256(), digest, &length) == 1) {
    signer.sha256 = HexBytes(std::string(reinterpret_cast<char*>(digest), length));
  }
  return signer;
}

// The one signer's certificate, as the signature itself carries it; null otherwise.
X509* SignerCertificate(PKCS7* p7) {
  Owned<STACK_OF(X509)> signers(PKCS7_get0_signers(p7, nullptr, 0));
  ERR_clear_error();
  return signers != nullptr && sk_X509_num(signers.get()) == 1 ? sk_X509_value(signers.get(), 0) : nullptr;
}

PKCS7* Pkcs7In(const ASN1_TYPE* value) {
  if (value == nullptr || value->type != V_ASN1_SEQUENCE) return nullptr;
  const unsigned char* p = ASN1_STRING_get0_data(value->value.sequence);
  return d2i_PKCS7(nullptr, &p, ASN1_STRING_length(value->value.sequence));
}

// Verifies the signature over `content` (null: the content it carries), not the chain.
bool Verifies(PKCS7* p7, BIO* content, std::string* error) {
  Owned<X509_STORE> none(X509_STORE_new());
  ERR_clear_error();
  if (PKCS7_verify(p7, nullptr, none.get(), content, nullptr, PKCS7_NOVERIFY) == 1) return true;
  *error = ErrorText();
  return false;
}

// The image digest the content holds, and the content's value as the signature covers it.
bool ReadIndirectData(PKCS7* p7, Pkcs7Reading* reading, Owned<BIO>* signed_bytes) {
  const PKCS7* inner = p7->d.sign->contents;
  reading->error = "it does not sign an Authenticode image digest";
  if (inner == nullptr || OidText(inner->type) != kIndirectDataOid || inner->d.other == nullptr ||
      inner->d.other->type != V_ASN1_SEQUENCE) {
    return false;
  }
  const ASN1_STRING* sequence = inner->d.other->value.sequence;
  const unsigned char* der = ASN1_STRING_get0_data(sequence);
  const long length = ASN1_STRING_length(sequence);
  const unsigned char* p = der;
  Owned<ASN1_SEQUENCE_ANY> parts(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, length));
  if (parts == nullptr || sk_ASN1_TYPE_num(parts.get()) < 2) return false;
  const ASN1_TYPE* info = sk_ASN1_TYPE_value(parts.get(), 1);
  if (info->type != V_ASN1_SEQUENCE) return false;
  p = ASN1_STRING_get0_data(info->value.sequence);
  Owned<X509_SIG> digest_info(d2i_X509_SIG(nullptr, &p, ASN1_STRING_length(info->value.sequence)));
  if (digest_info == nullptr) return false;
  const X509_ALGOR* algorithm = nullptr;
  const ASN1_OCTET_STRING* digest = nullptr;
  X509_SIG_get0(digest_info.get(), &algorithm, &digest);
  const ASN1_OBJECT* oid = nullptr;
  X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  reading->digest_oid = OidText(oid);
  reading->signed_digest = Bytes(digest);
  p = der;
  long value_length = 0;
  int tag = 0, tag_class = 0;
  if (ASN1_get_object(&p, &value_length, &tag, &tag_class, length) & 0x80) return false;
  signed_bytes->reset(BIO_new_mem_buf(p, static_cast<int>(value_length)));
  reading->error.clear();
  return *signed_bytes != nullptr;
}

// Why `certificate` does not chain to the roots in `roots` (at `when`, 0 = now, for
// `purpose`, 0 = any); empty when it does, with `root` the subject it ends in.
std::string ChainError(X509_STORE* roots, X509* certificate, STACK_OF(X509)* carried, time_t when, int purpose,
                       std::string* root) {
  Owned<X509_STORE_CTX> context(X509_STORE_CTX_new());
  if (context == nullptr || X509_STORE_CTX_init(context.get(), roots, certificate, carried) != 1) {
    return "the chain could not be built";
  }
  if (when != 0) X509_STORE_CTX_set_time(context.get(), 0, when);
  if (purpose != 0) X509_STORE_CTX_set_purpose(context.get(), purpose);
  const int verified = X509_verify_cert(context.get());
  ERR_clear_error();
  if (verified != 1) return X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
  STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
  *root = FormatName(NameOf(X509_get_subject_name(sk_X509_value(chain, sk_X509_num(chain) - 1))));
  return "";
}

// The RFC 3161 token stamping `signature` (the signer's signature value); `*stamped` its time
// when it matches and, with roots, its authority chains to them.
Countersignature ReadTimestamp(const ASN1_TYPE* value, const ASN1_OCTET_STRING* signature, X509_STORE* roots,
                               time_t* stamped) {
  Countersignature stamp;
  Owned<PKCS7> token(Pkcs7In(value));
  Owned<TS_TST_INFO> info(token != nullptr ? PKCS7_to_TS_TST_INFO(token.get()) : nullptr);
  X509* authority = token != nullptr ? SignerCertificate(token.get()) : nullptr;
  struct tm when = {};
  if (info == nullptr || authority == nullptr || ASN1_TIME_to_tm(TS_TST_INFO_get_time(info.get()), &when) != 1) {
    ERR_clear_error();
    return stamp;
  }
  stamp.time = TimeText(TS_TST_INFO_get_time(info.get()));
  stamp.signer = SignerOf(authority);
  TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
  const EVP_MD* method = EVP_get_digestbyobj(TS_MSG_IMPRINT_get_algo(imprint)->algorithm);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool imprinted = method != nullptr &&
                         EVP_Digest(ASN1_STRING_get0_data(signature), ASN1_STRING_length(signature), digest, &length,
                                    method, nullptr) == 1 &&
                         std::string(reinterpret_cast<char*>(digest), length) == Bytes(TS_MSG_IMPRINT_get_msg(imprint));
  std::string ignored;
  stamp.matches = imprinted && Verifies(token.get(), nullptr, &ignored);
  if (stamp.matches && (roots == nullptr || ChainError(roots, authority, token->d.sign->cert, timegm(&when),
                                                      X509_PURPOSE_TIMESTAMP_SIGN, &ignored).empty())) {
    *stamped = timegm(&when);
  }
  return stamp;
}

// The countersignature and the nested signatures among the signer's unsigned attributes.
void ReadUnsignedAttributes(PKCS7_SIGNER_INFO* info, X509_STORE* roots, Pkcs7Reading* reading, time_t* stamped) {
  for (int i = 0; i < sk_X509_ATTRIBUTE_num(info->unauth_attr); ++i) {
    X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(info->unauth_attr, i);
    const std::string oid = OidText(X509_ATTRIBUTE_get0_object(attribute));
    if (oid == kTimestampOid && !reading->countersignature) {
      reading->countersignature =
          ReadTimestamp(X509_ATTRIBUTE_get0_type(attribute, 0), info->enc_digest, roots, stamped);
    } else if (oid == kNestedSignatureOid) {
      for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
        Owned<PKCS7> nested(Pkcs7In(X509_ATTRIBUTE_get0_type(attribute, v)));
        X509* certificate = nested != nullptr && PKCS7_type_is_signed(nested.get()) ? SignerCertificate(nested.get())
                                                                                    : nullptr;
        if (certificate != nullptr) reading->nested.push_back(SignerOf(certificate));
      }
    }
  }
}

void CheckChain(X509_STORE* roots, const std::filesystem::path& file, PKCS7* p7, X509* signer, time_t stamped,
                Pkcs7Reading* reading) {
  std::string root;
  std::string error = ChainError(roots, signer, p7->d.sign->cert, stamped, 0, &root);
  if (error.empty() && !reading->usage_error.empty()) error = "the signer's certificate is not for code signing";
  const std::string in = " (roots in " + file.string() + ", checked at " +
                         (stamped != 0 ? "the countersignature's time" : "the current time") + ")";
  reading->chain = error.empty() ? ChainCheck::kTrusted : ChainCheck::kUntrusted;
  reading->chain_detail = error.empty() ? "ends in " + root + in : error + in;
}

}  // namespace

void ReadPkcs7(const std::string& der, const std::filesystem::path& roots_file, Pkcs7Reading* reading) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  Owned<PKCS7> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
  ERR_clear_error();
  if (p7 == nullptr || !PKCS7_type_is_signed(p7.get())) {
    reading->error = "it is not a PKCS#7 signature";
    return;
  }
  Owned<BIO> signed_bytes;
  if (!ReadIndirectData(p7.get(), reading, &signed_bytes)) return;
  STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7.get());
  X509* signer = SignerCertificate(p7.get());
  if (sk_PKCS7_SIGNER_INFO_num(infos) != 1 || signer == nullptr) {
    reading->error = "it does not hold exactly one signer with the signer's certificate";
    return;
  }
  reading->signer = SignerOf(signer);
  reading->usage_error = UsageError(signer);
  reading->signature_verifies = Verifies(p7.get(), signed_bytes.get(), &reading->signature_error);

  Owned<X509_STORE> roots;
  if (!roots_file.empty()) {
    roots.reset(X509_STORE_new());
    if (roots == nullptr || X509_STORE_load_file(roots.get(), roots_file.string().c_str()) != 1) {
      ERR_clear_error();
      roots.reset();
      reading->chain = ChainCheck::kUntrusted;
      reading->chain_detail = "no root certificates could be read from " + roots_file.string();
    }
  }
  time_t stamped = 0;
  ReadUnsignedAttributes(sk_PKCS7_SIGNER_INFO_value(infos, 0), roots.get(), reading, &stamped);
  if (roots != nullptr) CheckChain(roots.get(), roots_file, p7.get(), signer, stamped, reading);
}
