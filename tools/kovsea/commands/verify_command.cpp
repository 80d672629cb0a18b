// `kovsea verify`: a finished file checked as the stub would read it, every problem with the
// byte offset it concerns; its code signature checked against the file and the pins, and its
// content digest, in one read; with --against, compared with a tree packed again.
#include <stdio.h>

#include "commands.h"
#include "json.h"
#include "rebuild_check.h"
#include "signature.h"
#include "verification.h"

namespace fs = std::filesystem;

namespace {

std::string AgainstJson(const VerifyOptions& options, const RebuildComparison& c) {
  if (!options.against) return "null";
  return JsonObject({{"dir", JsonString(options.against->input_dir.string())},
                     {"same", JsonBool(c.Same())},
                     {"first_difference", c.first_difference ? JsonObject({{"offset", JsonNumber(*c.first_difference)},
                                                                           {"region", JsonString(c.region)}})
                                                             : "null"}});
}

}  // namespace

int VerifyCommand(const VerifyOptions& options) {
  const fs::path& path = options.file;
  Sea sea;
  Problem problem;
  Problems problems;
  TrustReport trust;
  RebuildComparison rebuilt;
  const bool opened = OpenSea(path, &sea, &problem);
  if (opened) {
    problems = VerifySea(&sea, options.codepage, options.temp_length);
    for (const Problem& p : CheckTrust(sea, options.pins, options.require_digest, TrustUse::kVerify, ReadPkcs7, &trust)) {
      problems.push_back(p);
    }
    if (options.against) {
      for (const Problem& p : CompareWithRebuild(&sea, *options.against, &rebuilt)) problems.push_back(p);
    }
  } else {
    problems.push_back(problem);
  }
  const bool ok = problems.empty();
  if (options.json) {
    fputs(JsonReport(ok,
                     {{"file", JsonString(path.string())},
                      {"signed", opened ? JsonBool(sea.location.is_signed) : "null"},
                      {"temp_length", JsonNumber(options.temp_length)},
                      {"signature", SignatureJson(trust.signature)},
                      {"content_digest", opened ? ContentJson(trust.content) : "null"},
                      {"against", AgainstJson(options, rebuilt)}},
                     ProblemsJson(problems))
              .c_str(),
          stdout);
    return ok ? 0 : 1;
  }
  if (!opened) {
    PrintErrors(problems);
    return 1;
  }
  printf("%s: %s\n", path.string().c_str(), DescribeSignature(sea.location).c_str());
  for (const std::string& line : DescribeSignatureReport(trust.signature)) printf("%s\n", line.c_str());
  printf("%s\n", DescribeContent(trust.content).c_str());
  if (rebuilt.Same()) printf("  built from %s: the same bytes\n", options.against->input_dir.string().c_str());
  PrintReport(problems);
  if (!ok) return 1;
  printf("%s: OK\n", path.string().c_str());
  return 0;
}

int VerifyCommand(const fs::path& file, bool json, const Codepage& codepage, uint32_t temp_length) {
  VerifyOptions options;
  options.file = file;
  options.json = json;
  options.codepage = codepage;
  options.temp_length = temp_length;
  return VerifyCommand(options);
}
