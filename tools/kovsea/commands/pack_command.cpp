// `kovsea pack`: the stub prepared, the tree planned and checked, and only then the file
// written; nothing is left at the output path when any of it fails.
#include <stdio.h>

#include "commands.h"
#include "json.h"
#include "pack_plan.h"
#include "pack_writer.h"
#include "stub_image.h"

int PackCommand(const PackOptions& options, bool json) {
  std::string stub;
  Problem problem;
  PackPlan plan;
  Problems problems;
  bool ok = PrepareStub(options, &stub, &problems);
  if (ok) {
    plan = PlanPack(options, stub.size());
    ok = plan.problems.empty() && WritePackage(options, stub, plan, &problem);
    problems = plan.problems;
    if (!ok && problems.empty()) problems.push_back(problem);
  }
  if (json) {
    fputs(JsonReport(ok,
                     {{"output", ok ? JsonString(options.output.string()) : "null"},
                      {"entries", JsonNumber(plan.entries.size())},
                      {"bytes", ok ? JsonNumber(plan.total) : "null"}},
                     ProblemsJson(problems))
              .c_str(),
          stdout);
  } else {
    PrintErrors(problems);
  }
  return ok ? 0 : 1;
}
