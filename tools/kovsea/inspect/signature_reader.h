// The part of the signature check that reads PKCS#7 and X.509: one implementation a system
// (OpenSSL's libcrypto on Linux; on Windows the build says what it cannot do). It reads the
// signature and its certificates; comparing the digest with the file, the pins and every
// problem are the portable part's (signature.cpp).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "signature.h"

struct NameAttribute {
  std::string oid;    // dotted
  std::string value;  // UTF-8
};
// A distinguished name: its relative names in certificate order, each one or more attributes.
using DistinguishedName = std::vector<std::vector<NameAttribute>>;

// The name as reports print it (signature.h).
std::string FormatName(const DistinguishedName& name);
// The serial number's big-endian bytes as lowercase hex, without leading zero bytes.
std::string SerialHex(const std::string& big_endian);

struct Pkcs7Reading {
  bool unavailable = false;  // this build reads no signatures; `error` says so
  std::string error;         // why the signature could not be read; empty when it was
  std::string digest_oid;    // the image digest's algorithm, dotted
  std::string signed_digest;  // the image digest's bytes
  bool signature_verifies = false;
  std::string signature_error;
  std::string usage_error;  // why the signer's certificate is not for code signing; empty when it is
  Signer signer;
  std::optional<Countersignature> countersignature;
  std::vector<Signer> nested;
  ChainCheck chain = ChainCheck::kNotChecked;
  std::string chain_detail;
};

// ReadPkcs7 (signature.h) reads `der`, the signature a certificate table's first entry
// holds. With `roots` (a PEM file), it checks the signer's chain to them: at the
// countersignature's time when it matches and its own chain ends there too, else now.
//
// The reader of a build without a PKCS#7 library: it reads nothing and says so. It is the
// Windows build's ReadPkcs7, and any build's for a check of what that build does.
void ReadNoPkcs7(const std::string& der, const std::filesystem::path& roots, Pkcs7Reading* reading);
