// `kovsea verify`: a finished file checked as the stub would read it, every problem with the
// byte offset it concerns.
#include <stdio.h>

#include "commands.h"
#include "json.h"
#include "verification.h"

namespace fs = std::filesystem;

int VerifyCommand(const fs::path& path, bool json, const Codepage& codepage, uint32_t temp_length) {
  Sea sea;
  Problem problem;
  Problems problems;
  const bool opened = OpenSea(path, &sea, &problem);
  if (opened) {
    problems = VerifySea(&sea, codepage, temp_length);
  } else {
    problems.push_back(problem);
  }
  const bool ok = problems.empty();
  if (json) {
    fputs(JsonReport(ok,
                     {{"file", JsonString(path.string())},
                      {"signed", opened ? JsonBool(sea.location.is_signed) : "null"},
                      {"temp_length", JsonNumber(temp_length)}},
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
  PrintReport(problems);
  if (!ok) return 1;
  printf("%s: OK\n", path.string().c_str());
  return 0;
}
