// `kovsea check`: the tree pack would write, checked for everything that would stop pack or
// the stub at the user's site, every problem at once.
#include <stdio.h>

#include <system_error>

#include "commands.h"
#include "json.h"

namespace fs = std::filesystem;

int CheckCommand(const PackOptions& options, bool json) {
  std::error_code error;
  // The layout is checked with the stub that would be packed; without one, with the largest
  // the stub may grow to.
  const uint64_t stub_size = options.stub.empty() ? kLargestStub : fs::file_size(options.stub, error);
  const PackPlan plan = PlanPack(options, error ? kLargestStub : stub_size);
  if (json) {
    printf("{\"ok\": %s, \"temp_length\": %u, \"entries\": %lu, \"bytes\": %llu, \"problems\": [",
           plan.problems.empty() ? "true" : "false", options.temp_length,
           static_cast<unsigned long>(plan.entries.size()), static_cast<unsigned long long>(plan.total));
    for (size_t i = 0; i < plan.problems.size(); ++i) {
      const PackProblem& p = plan.problems[i];
      printf("%s\n  {\"path\": %s, \"problem\": %s, \"fix\": %s}", i == 0 ? "" : ",", JsonString(p.where).c_str(),
             JsonString(p.problem).c_str(), JsonString(p.fix).c_str());
    }
    printf("]}\n");
  } else {
    for (const PackProblem& p : plan.problems) {
      printf("%s: %s\n    fix: %s\n", p.where.c_str(), p.problem.c_str(), p.fix.c_str());
    }
    if (plan.problems.empty()) {
      printf("%s: OK: %lu entries, %llu bytes packed; every path fits under a temporary directory of %u "
             "characters\n",
             options.input_dir.string().c_str(), static_cast<unsigned long>(plan.entries.size()),
             static_cast<unsigned long long>(plan.total), options.temp_length);
    } else {
      printf("%s: %lu problems\n", options.input_dir.string().c_str(),
             static_cast<unsigned long>(plan.problems.size()));
    }
  }
  return plan.problems.empty() ? 0 : 1;
}
