// The trust an admin puts in a signed self-extractor. Files are signed during the test with
// osslsigncode under a test CA made with openssl, and countersigned offline by a test
// time-stamping authority (osslsigncode's own), then checked by kovsea verify with and
// without pins, changed byte by byte where the signature covers them (osslsigncode, the
// independent reader, must agree that they no longer verify), rebuilt from their tree with
// --against, and compared release to release with diff. Skipped without osslsigncode;
// without the real stub they fail.
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <set>

#include "digest.h"
#include "kovsea_fixture.h"
#include "signature_reader.h"
#include "verification.h"
#include "version_resource.h"
#include "windows_stub.h"

namespace {

using test::ReadAll;
using test::Result;
using test::WriteAll;

// A command line's exit code and its output, stdout and stderr together.
Result Shell(const std::string& command) {
  FILE* pipe = popen(("(" + command + ") 2>&1").c_str(), "r");
  std::string out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = pclose(pipe);
  return Result{WEXITSTATUS(status), out, ""};
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

// The text after `key` up to the end of its line, in `text`.
std::string After(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return "";
  const size_t from = at + key.size();
  return text.substr(from, text.find('\n', from) - from);
}

void Flip(const fs::path& file, size_t at) {
  std::string bytes = ReadAll(file);
  ASSERT_LT(at, bytes.size());
  bytes[at] ^= 0x01;
  WriteAll(file, bytes);
}

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}

// Where a PE32 image's certificate table entry stands.
size_t TableEntryAt(const std::string& image) { return Le32(image, 0x3C) + 24 + 96 + 8 * 4; }

const char kSubject[] = "CN=Vendor code signing, O=Vendor Ltd";

class Trust : public test::Kovsea {
 protected:
  // The test's keys and certificates, made once: a root, a code-signing certificate and a
  // time-stamping authority under it, another root, and a self-signed signer it does not know.
  static void SetUpTestSuite() {
    char name[] = "/tmp/kovsea-trust-pki-XXXXXX";
    pki_ = mkdtemp(name);
    WriteAll(pki_ / "ext.cnf",
             "[leaf]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n"
             "[tsa]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
             "extendedKeyUsage=critical,timeStamping\n");
    const std::string in = "cd '" + pki_.string() + "' && ";
    const auto root = [&](const std::string& key, const std::string& subject) {
      return "openssl req -x509 -newkey rsa:2048 -nodes -keyout " + key + ".key -out " + key + ".pem -days 3 -subj '" +
             subject + "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign";
    };
    const auto under_ca = [&](const std::string& key, const std::string& subject, const std::string& kind) {
      return "openssl req -newkey rsa:2048 -nodes -keyout " + key + ".key -out " + key + ".csr -subj '" + subject +
             "' && openssl x509 -req -in " + key + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out " + key +
             ".pem -extfile ext.cnf -extensions " + kind;
    };
    made_ = Shell(in + root("ca", "/CN=KOV SEA test CA") + " && " + root("other", "/CN=Other CA") + " && " +
                  under_ca("leaf", "/O=Vendor Ltd/CN=Vendor code signing", "leaf") + " && " +
                  under_ca("tsa", "/CN=KOV SEA test TSA", "tsa") + " && cat tsa.pem ca.pem > tsa-chain.pem && " +
                  "openssl req -x509 -newkey rsa:2048 -nodes -keyout stranger.key -out stranger.pem -days 2 "
                  "-subj '/CN=Vendor code signing/O=Vendor Ltd' -addext extendedKeyUsage=codeSigning")
                .code == 0;
    stamped_at_ = time(nullptr) + 60;
  }
  static void TearDownTestSuite() { fs::remove_all(pki_); }

  void SetUp() override {
    Kovsea::SetUp();
    ASSERT_TRUE(test::WindowsStubBuilt());
    if (Shell("command -v osslsigncode").code != 0) GTEST_SKIP() << "needs osslsigncode";
    ASSERT_TRUE(made_) << "openssl could not make the test certificates";
  }

  static std::string Pki(const char* file) { return "'" + (pki_ / file).string() + "'"; }
  static std::string Iso(time_t t) {
    char text[32];
    struct tm when;
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&t, &when));
    return text;
  }

  // The product's tree, its setup.ini and the options it is packed with.
  fs::path Tree(const std::string& name) {
    const fs::path tree = dir / name;
    WriteAll(tree / "Disk1" / "Setup.exe", "MZ setup program");
    WriteAll(tree / "Disk1" / "data1.cab", test::Pattern(70000, 3));
    WriteAll(tree / "Disk1" / "readme.txt", "read me");
    WriteAll(dir / "setup.ini", "[Startup]\r\nProduct=Vendor\r\n");
    return tree;
  }
  std::string PackOptions(const std::string& version = "1.0") {
    return "--setup-ini " + Q(dir / "setup.ini") + " --version-info 'ProductName=Vendor Product' --version-info FileVersion=" +
           version;
  }
  fs::path Pack(const fs::path& tree, const std::string& name, const std::string& options) {
    Result r = Run("pack --stub " + Q(KOVSEA_STUB) + " -o " + Q(dir / name) + " " + options + " " + Q(tree));
    EXPECT_EQ(r.code, 0) << r.err;
    return dir / name;
  }
  // Signs with the test's code-signing certificate (or `signer`), countersigned unless told.
  fs::path Sign(const fs::path& in, const std::string& name, const std::string& options = "",
                const std::string& signer = "leaf") {
    const std::string stamp = options.find("-nostamp") != std::string::npos
                                  ? ""
                                  : " -TSA-certs " + Pki("tsa-chain.pem") + " -TSA-key " + Pki("tsa.key") +
                                        " -TSA-time " + std::to_string(stamped_at_);
    std::string rest = options;
    if (rest.find("-nostamp") != std::string::npos) rest.erase(rest.find("-nostamp"), 8);
    Result r = Shell("osslsigncode sign -certs " + Pki((signer + ".pem").c_str()) + " -key " +
                     Pki((signer + ".key").c_str()) + " -n 'Vendor Product'" + stamp + " " + rest + " -in " + Q(in) +
                     " -out " + Q(dir / name));
    EXPECT_EQ(r.code, 0) << r.out;
    return dir / name;
  }
  // osslsigncode's own verdict, against the test's roots.
  Result Osslsigncode(const fs::path& file) {
    return Shell("osslsigncode verify -CAfile " + Pki("ca.pem") + " -TSA-CAfile " + Pki("ca.pem") + " -in " + Q(file));
  }
  static std::string Fingerprint(const char* certificate) {
    std::string hex = After(Shell("openssl x509 -noout -fingerprint -sha256 -in " + Pki(certificate)).out, "=");
    hex.erase(std::remove(hex.begin(), hex.end(), ':'), hex.end());
    return Lower(hex);
  }

  static fs::path pki_;
  static bool made_;
  static time_t stamped_at_;
};

fs::path Trust::pki_;
bool Trust::made_ = false;
time_t Trust::stamped_at_ = 0;

TEST_F(Trust, SignerDigestAndTimeAreWhatOpensslAndOsslsigncodeRead) {
  const fs::path product = Pack(Tree("tree"), "product.exe", PackOptions());
  const std::string serial = Lower(After(Shell("openssl x509 -noout -serial -in " + Pki("leaf.pem")).out, "serial="));
  for (const char* algorithm : {"sha256", "sha1", "sha384", "sha512"}) {
    const fs::path signed_file = Sign(product, std::string(algorithm) + ".exe", std::string("-h ") + algorithm);
    Result v = Run("verify " + Q(signed_file));
    EXPECT_EQ(v.code, 0) << algorithm << ":\n" << v.out;
    const Result reader = Osslsigncode(signed_file);
    EXPECT_EQ(reader.code, 0) << reader.out;
    const std::string digest = Lower(After(reader.out, "Calculated message digest : ").substr(0, 128));
    EXPECT_NE(v.out.find("  digest: " + std::string(algorithm) + " " + digest.substr(0, digest.find(' ')) +
                         ", matches the file"),
              std::string::npos)
        << algorithm << ":\n" << v.out << "\nosslsigncode: " << digest;
    for (const std::string& line :
         {"  signer: " + std::string(kSubject), std::string("  issuer: CN=KOV SEA test CA"), "  serial: " + serial,
          "  certificate sha256: " + Fingerprint("leaf.pem"),
          "  countersigned: " + Iso(stamped_at_) + " by \"CN=KOV SEA test TSA\"",
          std::string("  chain: not checked")}) {
      EXPECT_NE(v.out.find(line), std::string::npos) << algorithm << ": " << line << "\n" << v.out;
    }
  }
  Result listed = Run("list --json " + Q(dir / "sha256.exe"));
  EXPECT_NE(listed.out.find("\"signer\": {\"subject\": \"" + std::string(kSubject) + "\""), std::string::npos)
      << listed.out;
  // A second signature nested in the first is shown and left unchecked.
  const fs::path nested = Sign(dir / "sha256.exe", "nested.exe", "-nest -nostamp", "stranger");
  Result v = Run("verify " + Q(nested));
  EXPECT_EQ(v.code, 0) << v.out;
  EXPECT_NE(v.out.find("  nested signature: \"O=Vendor Ltd, CN=Vendor code signing\" (certificate sha256 " +
                       Fingerprint("stranger.pem") + "), shown, not checked"),
            std::string::npos)
      << v.out;
}

TEST_F(Trust, PinsPassForTheVendorsSignerAndFailForAnyOther) {
  const fs::path product = Pack(Tree("tree"), "product.exe", PackOptions());
  const fs::path vendor = Sign(product, "vendor.exe");
  const fs::path stranger = Sign(product, "stranger.exe", "", "stranger");
  std::string colons;
  const std::string sha = Fingerprint("leaf.pem");
  for (size_t i = 0; i < sha.size(); i += 2) colons += (i ? ":" : "") + sha.substr(i, 2);
  for (char& c : colons) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  const std::string subject = std::string("--signer-subject '") + kSubject + "'";
  const struct {
    fs::path file;
    std::string pins;
    int code;
    std::string says;
  } cases[] = {
      {vendor, "", 0, "chain: not checked"},
      {vendor, "--signer-sha256 " + sha, 0, "OK"},
      {vendor, "--signer-sha256 " + colons, 0, "OK"},
      {vendor, "--signer-sha256 " + Fingerprint("stranger.pem"), 1, "not the pinned " + Fingerprint("stranger.pem")},
      {stranger, "--signer-sha256 " + sha, 1, "not the pinned " + sha},
      {vendor, subject, 0, "OK"},
      {vendor, "--signer-subject 'CN=Vendor code signing'", 1, "not the pinned \"CN=Vendor code signing\""},
      {vendor, "--ca " + Pki("ca.pem"), 0, "chain: trusted: ends in CN=KOV SEA test CA"},
      {vendor, "--ca " + Pki("ca.pem") + " " + subject, 0, "checked at the countersignature's time"},
      {vendor, "--ca " + Pki("other.pem"), 1, "does not chain to the given roots"},
      {stranger, "--ca " + Pki("ca.pem"), 1, "does not chain to the given roots"},
      {product, "", 0, "not signed"},
      {product, "--ca " + Pki("ca.pem"), 1, "the file is not signed, and a signer was asked for"},
  };
  for (const auto& c : cases) {
    Result r = Run("verify " + Q(c.file) + " " + c.pins);
    EXPECT_EQ(r.code, c.code) << c.file.filename() << " " << c.pins << ":\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.file.filename() << " " << c.pins << ":\n" << r.out;
  }
}

TEST_F(Trust, EveryByteTheSignatureCoversBreaksItAsOsslsigncodeAgrees) {
  const fs::path product = Pack(Tree("tree"), "product.exe", PackOptions());
  const std::string packed = ReadAll(product);
  const fs::path stamped = Sign(product, "stamped.exe");
  const fs::path plain = Sign(product, "plain.exe", "-nostamp");
  const std::string table = ReadAll(plain).substr(packed.size());
  const size_t der_end = packed.size() + 8 + 4 + (static_cast<uint8_t>(table[10]) << 8 | static_cast<uint8_t>(table[11]));
  std::string product_name;
  for (char c : std::string("Vendor Product")) product_name += std::string(1, c) + '\0';
  const struct {
    const char* where;
    fs::path signed_file;
    size_t at;
    const char* says;
  } cases[] = {
      {"an entry's data", stamped, packed.find(test::Pattern(70000, 3)) + 5000, "the signature does not match this file"},
      {"a side file", stamped, packed.find("Product=Vendor"), "the signature does not match this file"},
      {"the stub's resources", stamped, packed.find(product_name), "the signature does not match this file"},
      {"the trailer", stamped, packed.size() - 52 + 16, "the signature does not match this file"},
      {"the signature", plain, der_end - 1, "the signature does not verify with the signer's certificate"},
  };
  for (const fs::path& untouched : {stamped, plain}) {
    EXPECT_EQ(Run("verify " + Q(untouched)).code, 0) << untouched;
    EXPECT_EQ(Osslsigncode(untouched).code, 0) << untouched;
  }
  for (const auto& c : cases) {
    ASSERT_NE(c.at, std::string::npos) << c.where;
    const fs::path changed = dir / "changed.exe";
    fs::copy_file(c.signed_file, changed, fs::copy_options::overwrite_existing);
    Flip(changed, c.at);
    Result v = Run("verify " + Q(changed));
    EXPECT_EQ(v.code, 1) << c.where << ":\n" << v.out;
    EXPECT_NE(v.out.find(c.says), std::string::npos) << c.where << ":\n" << v.out;
    EXPECT_NE(Osslsigncode(changed).code, 0) << c.where << ": osslsigncode still accepts it";
  }
}

// The signature does not cover its countersignature: a time-stamping authority's signature
// that fails leaves the file's signature whole, and its time proves nothing.
TEST_F(Trust, ACountersignatureThatFailsIsReportedAsOsslsigncodeReportsIt) {
  const fs::path product = Pack(Tree("tree"), "product.exe", PackOptions());
  const size_t packed = ReadAll(product).size();
  std::string stamped = ReadAll(Sign(product, "stamped.exe"));
  // The authority's signature ends the DER.
  const size_t der_end =
      packed + 8 + 4 + (static_cast<uint8_t>(stamped[packed + 10]) << 8 | static_cast<uint8_t>(stamped[packed + 11]));
  stamped[der_end - 1] ^= 0x01;
  WriteAll(dir / "case.exe", stamped);
  Result v = Run("verify " + Q(dir / "case.exe"));
  EXPECT_EQ(v.code, 1) << v.out;
  EXPECT_NE(v.out.find("the countersignature does not stamp this signature, or its own signature fails"),
            std::string::npos)
      << v.out;
  EXPECT_NE(v.out.find("  signature: verifies"), std::string::npos) << v.out;
  const Result reader = Osslsigncode(dir / "case.exe");
  EXPECT_NE(reader.out.find("Timestamp Server Signature verification: failed"), std::string::npos) << reader.out;
}

TEST_F(Trust, TheTablesSurroundingsSayWhatTheyMeanForTrust) {
  const fs::path product = Pack(Tree("tree"), "product.exe", PackOptions());
  const std::string packed = ReadAll(product);
  const std::string signed_bytes = ReadAll(Sign(product, "signed.exe"));
  const std::string table = signed_bytes.substr(packed.size());
  std::string two_entries = signed_bytes + table;
  const size_t entry = TableEntryAt(two_entries);
  std::string size;
  test::Put32(&size, static_cast<uint32_t>(2 * table.size()));
  two_entries.replace(entry + 4, 4, size);
  std::string reaching = signed_bytes;
  std::string archive_size;
  test::Put32(&archive_size, static_cast<uint32_t>(packed.size()));
  reaching.replace(packed.size() - 52 + 12, 4, archive_size);
  std::string unknown_revision = signed_bytes;
  unknown_revision[packed.size() + 5] = '\x03';  // WIN_CERTIFICATE revision 0x0300
  // A hand-made file whose trailer ends 3 bytes short of an aligned table, the 3 not zeros.
  std::string odd = test::PeImage(0x200, 0, 0) + test::DirEntry("Disk1");
  const test::Slot none[4] = {};
  odd += test::Trailer(0x200, static_cast<uint32_t>(odd.size() - 0x200), 1, none);
  const size_t trailer_end = odd.size();
  ASSERT_NE(trailer_end % 8, 0u);
  odd += std::string(8 - trailer_end % 8, 'x');
  const size_t odd_table = odd.size();
  odd.replace(0, 0x200, test::PeImage(0x200, static_cast<uint32_t>(odd_table), 24));
  odd += std::string(24, 'C');
  const struct {
    const char* what;
    std::string bytes;
    std::string says;
    bool reader_refuses;  // osslsigncode refuses it too
  } cases[] = {
      {"appended", signed_bytes + "tail", "4 bytes follow the certificate table (offset " + std::to_string(packed.size()) +
                                              ", " + std::to_string(table.size()) + " bytes), outside what the signature "
                                              "covers: anyone can add them",
       true},
      {"two entries", two_entries, "offset " + std::to_string(signed_bytes.size()) +
                                       ": a second certificate entry follows the signature in the certificate table: "
                                       "Windows checks only the first entry",
       false},
      {"reaching", reaching, "entry stream reaches into the certificate table, which the signature does not cover", true},
      {"unknown revision", unknown_revision,
       "holds no Authenticode signature (an entry of " + std::to_string(Le32(table, 0)) +
           " bytes, revision 0x0300, type 0x0002)",
       true},
      {"padding", odd, "offset " + std::to_string(trailer_end) + ": the " + std::to_string(odd_table - trailer_end) +
                           " bytes between the trailer and the certificate table are not zeros: the signature covers "
                           "them, but the stub finds its trailer only behind zeros", false},
  };
  for (const auto& c : cases) {
    WriteAll(dir / "case.exe", c.bytes);
    Result v = Run("verify " + Q(dir / "case.exe"));
    EXPECT_EQ(v.code, 1) << c.what << ":\n" << v.out;
    EXPECT_NE(v.out.find(c.says), std::string::npos) << c.what << ":\n" << v.out;
    if (c.reader_refuses) {
      EXPECT_NE(Osslsigncode(dir / "case.exe").code, 0) << c.what;
    }
  }
  WriteAll(dir / "two.exe", two_entries);
  EXPECT_NE(Run("verify " + Q(dir / "two.exe")).out.find(", matches the file"), std::string::npos)
      << "the second entry lies outside the digest";
}

TEST_F(Trust, AgainstPassesForItsTreeAndNamesTheFirstDifference) {
  const fs::path tree = Tree("tree");
  const fs::path signed_file = Sign(Pack(tree, "product.exe", PackOptions()), "signed.exe");
  fs::copy(tree, dir / "changed", fs::copy_options::recursive);
  Flip(dir / "changed" / "Disk1" / "data1.cab", 100);
  fs::copy(tree, dir / "added", fs::copy_options::recursive);
  WriteAll(dir / "added" / "Disk1" / "a-first.txt", "new");
  WriteAll(dir / "other.ini", "[Startup]\r\nProduct=Other\r\n");
  const std::string vendor = PackOptions();
  const struct {
    fs::path tree;
    std::string options;
    int code;
    std::string says;
  } cases[] = {
      {tree, vendor, 0, "  built from " + tree.string() + ": the same bytes"},
      {dir / "changed", vendor, 1, "first in entry \"Disk1\\data1.cab\""},
      {dir / "added", vendor, 1, "first in entry \"Disk1\\a-first.txt\" (the file holds entry \"Disk1\\data1.cab\" there)"},
      {tree, "--setup-ini " + Q(dir / "other.ini") + " --version-info 'ProductName=Vendor Product' --version-info FileVersion=1.0",
       1, "first in side file setup.ini"},
      {tree, PackOptions("2.0"), 1, "first in the stub's resources (section .rsrc)"},
      {tree, PackOptions("2.0"), 1, ": the version strings (FileVersion \"1.0\" -> \"2.0\") differs"},
  };
  for (const auto& c : cases) {
    Result r = Run("verify " + Q(signed_file) + " --stub " + Q(KOVSEA_STUB) + " --against " + Q(c.tree) + " " + c.options);
    EXPECT_EQ(r.code, c.code) << c.tree << " " << c.options << ":\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.tree << " " << c.options << ":\n" << r.out;
  }
  Result json = Run("verify --json " + Q(signed_file) + " --stub " + Q(KOVSEA_STUB) + " --against " + Q(tree) + " " + vendor);
  EXPECT_NE(json.out.find("\"against\": {\"dir\": "), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"same\": true, \"first_difference\": null}"), std::string::npos) << json.out;
  EXPECT_EQ(Run("verify " + Q(signed_file) + " --icon x.ico").code, 2) << "--icon needs --against";
}

// What --against leaves out is the checksum and the certificate table's entry, which a signer
// rewrites, not a byte more; and a file longer than its rebuild is not the rebuild.
TEST_F(Trust, AgainstComparesEveryByteASignerDoesNotWrite) {
  const fs::path tree = Tree("tree");
  const fs::path product = Pack(tree, "product.exe", PackOptions());
  const std::string packed = ReadAll(product);
  const std::string signed_bytes = ReadAll(Sign(product, "signed.exe"));
  const size_t checksum_at = Le32(packed, 0x3C) + 24 + 64;
  const auto flipped = [](std::string bytes, size_t at) {
    bytes[at] ^= 0x01;
    return bytes;
  };
  const struct {
    const char* what;
    std::string bytes;
    size_t at;
    const char* region;
  } cases[] = {
      {"after the checksum", flipped(signed_bytes, checksum_at + 4), checksum_at + 4,
       "the stub: other resources or headers"},
      {"after the table's entry", flipped(signed_bytes, TableEntryAt(packed) + 8), TableEntryAt(packed) + 8,
       "the stub: other resources or headers"},
      {"behind an unsigned file", packed + "tail", packed.size(), "past the end of the rebuilt file"},
  };
  for (const auto& c : cases) {
    WriteAll(dir / "case.exe", c.bytes);
    Result r = Run("verify " + Q(dir / "case.exe") + " --stub " + Q(KOVSEA_STUB) + " --against " + Q(tree) + " " +
                   PackOptions());
    EXPECT_EQ(r.code, 1) << c.what << ":\n" << r.out;
    EXPECT_NE(r.out.find("offset " + std::to_string(c.at) + ": differs from " + tree.string() +
                         " packed again, first in " + c.region),
              std::string::npos)
        << c.what << ":\n" << r.out;
  }
}

TEST_F(Trust, DiffListsExactlyTheChangedEntries) {
  const fs::path tree = Tree("tree");
  const fs::path first = Pack(tree, "first.exe", PackOptions("1.0"));
  const fs::path first_signed = Sign(first, "first-signed.exe");
  fs::copy(tree, dir / "next", fs::copy_options::recursive);
  Flip(dir / "next" / "Disk1" / "data1.cab", 7);
  fs::remove(dir / "next" / "Disk1" / "readme.txt");
  WriteAll(dir / "next" / "Disk1" / "new.txt", "new");
  const fs::path second = Sign(Pack(dir / "next", "second.exe", PackOptions("1.1")), "second-signed.exe");

  Result d = Run("diff " + Q(first_signed) + " " + Q(second));
  EXPECT_EQ(d.code, 1) << d.out;
  std::set<std::string> changes;
  std::istringstream lines(d.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 2 && (line[0] == '+' || line[0] == '-' || line[0] == '~') && line[1] == ' ') {
      changes.insert(line.substr(0, line.find("  ")));
    }
  }
  EXPECT_EQ(changes, (std::set<std::string>{"~ Disk1\\data1.cab", "- Disk1\\readme.txt", "+ Disk1\\new.txt"})) << d.out;
  EXPECT_NE(d.out.find("stub: the same program, other resources; FileVersion \"1.0\" -> \"1.1\"; the same icon"),
            std::string::npos)
      << d.out;

  // Signing changes the stub part's header fields, not the stub.
  Result same = Run("diff --json " + Q(first) + " " + Q(first_signed));
  EXPECT_EQ(same.code, 0) << same.out;
  for (const std::string& fact : {std::string("{\"ok\": true, \"old\": "), std::string("\"same_payload\": true"),
                                  std::string("\"changed\": []}"), std::string("\"stub\": {\"same\": true"),
                                  std::string("\"signature\": {\"old\": null, \"new\": {\"read\": true"),
                                  "\"subject\": \"" + std::string(kSubject) + "\""}) {
    EXPECT_NE(same.out.find(fact), std::string::npos) << fact << "\n" << same.out;
  }
  EXPECT_EQ(Run("diff " + Q(first)).code, 2);
  EXPECT_EQ(Run("diff " + Q(first) + " " + Q(dir / "missing.exe")).code, 1);
}

using PinOptions = test::Kovsea;

TEST_F(PinOptions, ThatPinNothingAreUsageErrorsForVerifyAndInstall) {
  const std::string hex(64, 'a');
  for (const char* command : {"verify", "install"}) {
    for (const std::string& pin : {std::string("--signer-sha256 ''"), std::string("--signer-sha256 xyz"),
                                   "--signer-sha256 " + hex.substr(2), "--signer-sha256 " + hex + "aa",
                                   "--signer-sha256 a:" + hex.substr(1), std::string("--signer-subject ''")}) {
      Result r = Run(std::string(command) + " " + pin + " " + Q(dir / "any.exe"));
      EXPECT_EQ(r.code, 2) << command << " " << pin << ":\n" << r.out << r.err;
      EXPECT_NE(r.err.find("kovsea: error: --signer-"), std::string::npos) << command << " " << pin << ":\n" << r.err;
    }
  }
}

// Flips `at` in a copy of `file` named `name`.
fs::path Flipped(const fs::path& file, const fs::path& name, size_t at) {
  fs::copy_file(file, name, fs::copy_options::overwrite_existing);
  Flip(name, at);
  return name;
}

TEST_F(Trust, TheEntryHoldsTheSignatureAndItsPaddingOnlyByACodeSigningCertificate) {
  const fs::path product = Pack(Tree("tree"), "product.exe", PackOptions());
  const size_t packed = ReadAll(product).size();
  std::string padded = ReadAll(Sign(product, "signed.exe"));
  const uint32_t entry_length = Le32(padded, packed);
  std::string bigger;
  test::Put32(&bigger, entry_length + 64);
  padded.replace(packed, 4, bigger);
  padded.replace(TableEntryAt(padded) + 4, 4, bigger);
  WriteAll(dir / "padded.exe", padded + std::string(64, '\0'));
  const std::string in = "cd " + Pki("") + " && ";
  for (const std::string usage : {"keyEncipherment", "digitalSignature"}) {
    const std::string eku = usage == "keyEncipherment" ? "codeSigning" : "serverAuth";
    ASSERT_EQ(Shell(in + "printf '[u]\\nkeyUsage=critical," + usage + "\\nextendedKeyUsage=" + eku + "\\n' > " +
                    usage + ".cnf && openssl req -newkey rsa:2048 -nodes -keyout " + usage + ".key -out " + usage +
                    ".csr -subj /CN=" + usage + " && openssl x509 -req -in " + usage + ".csr -CA ca.pem -CAkey ca.key "
                    "-days 2 -out " + usage + ".pem -extfile " + usage + ".cnf -extensions u")
                  .code, 0);
  }
  const struct {
    fs::path file;
    const char* says;
  } cases[] = {
      {dir / "padded.exe", "bytes other than the padding to 8 bytes follow the signature inside its certificate "
                           "table entry"},
      {Sign(product, "encipherment.exe", "", "keyEncipherment"), "its key usage does not allow digital signatures"},
      {Sign(product, "server.exe", "", "digitalSignature"), "its extended key usage does not name code signing"},
  };
  for (const auto& c : cases) {
    Result v = Run("verify " + Q(c.file));
    EXPECT_EQ(v.code, 1) << c.file << ":\n" << v.out;
    EXPECT_NE(v.out.find(c.says), std::string::npos) << c.file << ":\n" << v.out;
    EXPECT_EQ(v.out.find("  signature: verifies"), std::string::npos) << c.file << ":\n" << v.out;
  }
}

TEST_F(Trust, TheContentDigestCoversWhatTheStubReadsAndSurvivesSigning) {
  const fs::path product = Pack(Tree("tree"), "product.exe", PackOptions());
  const std::string packed = ReadAll(product);
  const size_t record = packed.size() - 52 - 40;
  ASSERT_EQ(packed.substr(record, 8), "KOVSUM01");
  const size_t checksum = Le32(packed, 0x3C) + 24 + 64;
  const size_t entry = TableEntryAt(packed);
  WriteAll(dir / "covered", packed.substr(0, checksum) + packed.substr(checksum + 4, entry - checksum - 4) +
                                packed.substr(entry + 8, record + 8 - entry - 8) + packed.substr(record + 40));
  const std::string digest = After(Shell("openssl dgst -sha256 -r " + Q(dir / "covered")).out, "").substr(0, 64);
  EXPECT_EQ(Lower(digest), HexBytes(packed.substr(record + 8, 32)));
  const std::string matches = "  content: sha256 " + digest + ", matches the file";
  WriteAll(dir / "old.exe", packed.substr(0, record) + packed.substr(record + 40));
  std::string product_name;
  for (char c : std::string("Vendor Product")) product_name += std::string(1, c) + '\0';
  const struct {
    fs::path file;
    std::string options;
    int code;
    std::string says;
  } cases[] = {
      {product, "", 0, matches},
      {Sign(product, "signed.exe"), "", 0, matches},
      {Sign(product, "signed-sha1.exe", "-h sha1"), "", 0, matches},
      {Flipped(product, dir / "entry.exe", packed.find(test::Pattern(70000, 3)) + 5000), "", 1,
       "the content digest does not match this file"},
      {Flipped(product, dir / "side.exe", packed.find("Product=Vendor")), "", 1, "the content digest does not match"},
      {Flipped(product, dir / "resources.exe", packed.find(product_name)), "", 1, "the content digest does not match"},
      {Flipped(product, dir / "trailer.exe", packed.size() - 52 + 16), "", 1, "the content digest does not match"},
      {Flipped(product, dir / "digest.exe", record + 20), "", 1, "the content digest does not match"},
      {dir / "old.exe", "", 0, "  content: not checked (no digest)"},
      {dir / "old.exe", "--require-digest", 1, "holds no content digest, and --require-digest asks for one"},
      {Flipped(product, dir / "magic.exe", record), "--require-digest", 1, "--require-digest asks for one"},
  };
  for (const auto& c : cases) {
    Result v = Run("verify " + c.options + " " + Q(c.file));
    EXPECT_EQ(v.code, c.code) << c.file.filename() << " " << c.options << ":\n" << v.out;
    EXPECT_NE(v.out.find(c.says), std::string::npos) << c.file.filename() << " " << c.options << ":\n" << v.out;
  }
  EXPECT_NE(Run("list --json " + Q(product)).out.find("\"content_digest\": {\"sha256\": \"" + digest +
                                                      "\", \"file_sha256\": \"" + digest + "\", \"matches\": true}"),
            std::string::npos);
  EXPECT_NE(Run("verify --json " + Q(dir / "entry.exe")).out.find("\"matches\": false}"), std::string::npos);
}

TEST_F(Trust, ABuildThatCannotReadSignaturesNeverCallsASignedFileOK) {
  const fs::path product = Pack(Tree("tree"), "product.exe", PackOptions());
  const fs::path signed_file = Sign(product, "signed.exe");
  const fs::path changed = Flipped(product, dir / "changed.exe", ReadAll(product).find(test::Pattern(70000, 3)));
  TrustPins sha, ca;
  sha.signer_sha256 = Fingerprint("leaf.pem");
  ca.ca = pki_ / "ca.pem";
  const struct {
    fs::path file;
    TrustUse use;
    TrustPins pins;
    Pkcs7Reader reader;
    const char* says;  // empty: no problem
  } cases[] = {
      {signed_file, TrustUse::kVerify, {}, ReadNoPkcs7, "it is not OK until a kovsea that checks signatures says so"},
      {signed_file, TrustUse::kVerify, {}, ReadPkcs7, ""},
      {signed_file, TrustUse::kInstall, {}, ReadNoPkcs7, ""},
      {signed_file, TrustUse::kInstall, sha, ReadNoPkcs7, "refused rather than taken without the check"},
      {signed_file, TrustUse::kInstall, ca, ReadNoPkcs7, "refused rather than taken without the check"},
      {signed_file, TrustUse::kInstall, sha, ReadPkcs7, ""},
      {changed, TrustUse::kInstall, {}, ReadNoPkcs7, "the content digest does not match this file"},
      {product, TrustUse::kInstall, {}, ReadNoPkcs7, ""},
  };
  for (const auto& c : cases) {
    Sea sea;
    Problem opened;
    ASSERT_TRUE(OpenSea(c.file, &sea, &opened)) << opened.what;
    TrustReport report;
    std::string said;
    for (const Problem& p : CheckTrust(sea, c.pins, false, c.use, c.reader, &report)) said += p.what + "\n";
    EXPECT_EQ(said.empty(), *c.says == '\0') << c.file.filename() << ": " << said;
    EXPECT_NE(said.find(c.says), std::string::npos) << c.file.filename() << ": " << said;
    if (c.reader == ReadNoPkcs7 && c.file == signed_file) {
      EXPECT_EQ(DescribeSignatureReport(report.signature).at(0).rfind("  signature: not checked (", 0), 0u);
    }
  }
}

TEST_F(Trust, VerifysLinesAgreeWithEachOtherAndShowTheCertificatesValidity) {
  const fs::path product = Pack(Tree("tree"), "product.exe", PackOptions());
  const fs::path signed_file = Sign(product, "signed.exe");
  WriteAll(dir / "appended.exe", ReadAll(signed_file) + "12345");
  const auto date = [&](const char* which) {
    std::string iso = After(Shell("openssl x509 -noout -dateopt iso_8601 -" + std::string(which) + " -in " +
                                  Pki("leaf.pem")).out, "=");
    std::replace(iso.begin(), iso.end(), ' ', 'T');
    return iso;
  };
  const struct {
    fs::path file;
    std::string says;
    const char* never;
  } cases[] = {
      {dir / "appended.exe", "signed: certificate table at offset", "not signed"},
      {Flipped(signed_file, dir / "changed.exe", ReadAll(product).find(test::Pattern(70000, 3))),
       "  signature: fails: the file is not what was signed", "signature: verifies"},
      {signed_file, "  valid: " + date("startdate") + " to " + date("enddate"), "fails"},
  };
  for (const auto& c : cases) {
    Result v = Run("verify " + Q(c.file));
    EXPECT_NE(v.out.find(c.says), std::string::npos) << c.file.filename() << ":\n" << v.out;
    EXPECT_EQ(v.out.find(c.never), std::string::npos) << c.file.filename() << ":\n" << v.out;
  }
}

TEST_F(Trust, DiffFailsWhenTheStubTheUserRunsDiffers) {
  const fs::path tree = Tree("tree");
  const fs::path first = Pack(tree, "first.exe", PackOptions("1.0"));
  const fs::path second = Pack(tree, "second.exe", PackOptions("1.1"));
  Result d = Run("diff " + Q(first) + " " + Q(second));
  EXPECT_EQ(d.code, 1) << d.out;
  EXPECT_NE(d.out.find("what runs: differs: the stub's version strings (FileVersion \"1.0\" -> \"1.1\")"),
            std::string::npos)
      << d.out;
  Result json = Run("diff --json " + Q(first) + " " + Q(second));
  EXPECT_EQ(json.out.rfind("{\"ok\": false", 0), 0u) << json.out;
  EXPECT_NE(json.out.find("\"same_payload\": true, \"differs\": ["), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"the stub's version strings (FileVersion"), std::string::npos) << json.out;
}

TEST(SignatureNames, AreWrittenMostSpecificFirstAndEscaped) {
  const struct {
    DistinguishedName name;
    const char* text;
  } cases[] = {
      {{{{"2.5.4.6", "DE"}}, {{"2.5.4.10", "Vendor, Ltd"}}, {{"2.5.4.3", "Vendor"}}}, "CN=Vendor, O=Vendor\\, Ltd, C=DE"},
      {{{{"2.5.4.3", " lead"}, {"2.5.4.11", "trail "}}}, "CN=\\ lead+OU=trail\\ "},
      {{{{"1.2.840.113549.1.9.1", "a@b.example"}}, {{"1.3.6.1.4.1.311.60.2.1.3", "US"}}},
       "1.3.6.1.4.1.311.60.2.1.3=US, E=a@b.example"},
      {{}, ""},
      {{{{"2.5.4.10", std::string("Good Corp\0 Evil Inc", 19)}}}, "O=Good Corp\\x00 Evil Inc"},
      {{{{"2.5.4.3", "line\nbreak\x7f"}}}, "CN=line\\x0abreak\\x7f"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatName(c.name), c.text);
  EXPECT_EQ(SerialHex(std::string("\0\0\x01\xab", 4)), "01ab");
  EXPECT_EQ(SerialHex(std::string(2, '\0')), "00");
}

TEST(VersionStrings, ReadBackWhatWasBuilt) {
  const std::map<std::string, std::string> strings = {
      {"ProductName", "Caf\xc3\xa9 \xf0\x9f\x8e\x89"}, {"FileVersion", "1.2.3"}, {"CompanyName", ""}};
  std::string resource;
  Problem problem;
  ASSERT_TRUE(pe::BuildVersionResource(strings, &resource, &problem)) << problem.what;
  std::map<std::string, std::string> read;
  ASSERT_TRUE(pe::ReadVersionStrings(resource, &read));
  EXPECT_EQ(read, strings);
  EXPECT_FALSE(pe::ReadVersionStrings(resource.substr(0, resource.size() / 2), &read)) << "cut short";
}

}  // namespace
