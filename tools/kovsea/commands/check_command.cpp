// `kovsea check`: the tree pack would write, checked for everything that would stop pack or
// the stub at the user's site, every problem at once.
#include <stdio.h>

#include <system_error>

#include "commands.h"
#include "json.h"
#include "pack_plan.h"
#include "translations.h"

namespace fs = std::filesystem;

int CheckCommand(const PackOptions& options, bool json) {
  std::error_code error;
  // The layout is checked with the stub that would be packed; without one, with the largest
  // the stub may grow to.
  const uint64_t stub_size = options.stub.empty() ? kLargestStub : fs::file_size(options.stub, error);
  PackPlan plan = PlanPack(options, error ? kLargestStub : stub_size);
  // The translations are checked as pack checks them.
  std::vector<Translation> translations;
  LoadTranslations(options.texts, options.allow_untranslated, &translations, &plan.problems);
  const bool ok = plan.problems.empty();
  if (json) {
    fputs(JsonReport(ok,
                     {{"temp_length", JsonNumber(options.temp_length)},
                      {"entries", JsonNumber(plan.entries.size())},
                      {"bytes", JsonNumber(plan.total)}},
                     ProblemsJson(plan.problems))
              .c_str(),
          stdout);
    return ok ? 0 : 1;
  }
  PrintReport(plan.problems);
  if (ok) {
    printf("%s: OK: %lu entries, %llu bytes packed; every path fits under a temporary directory of %u "
           "characters\n",
           options.input_dir.string().c_str(), static_cast<unsigned long>(plan.entries.size()),
           static_cast<unsigned long long>(plan.total), options.temp_length);
  } else {
    const size_t count = plan.problems.size();
    printf("%s: %lu %s\n", options.input_dir.string().c_str(), static_cast<unsigned long>(count),
           count == 1 ? "problem" : "problems");
  }
  return ok ? 0 : 1;
}
