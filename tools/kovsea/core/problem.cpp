#include "problem.h"

#include <stdio.h>

#include "json.h"

Problem ProblemAt(const std::string& where, uint64_t offset, const std::string& what, const std::string& fix) {
  return Problem{where, offset, what, fix};
}

std::string ProblemText(const Problem& p) {
  std::string text;
  if (!p.where.empty()) text = p.where + ": ";
  if (p.offset) text += "offset " + std::to_string(*p.offset) + ": ";
  text += p.what;
  if (!p.fix.empty()) text += " (" + p.fix + ")";
  return text;
}

std::string ProblemJson(const Problem& p) {
  return JsonObject({{"where", JsonString(p.where)},
                     {"offset", p.offset ? std::to_string(*p.offset) : "null"},
                     {"what", JsonString(p.what)},
                     {"fix", p.fix.empty() ? "null" : JsonString(p.fix)}});
}

std::string ProblemsJson(const Problems& problems) {
  std::vector<std::string> items;
  for (const Problem& p : problems) items.push_back(ProblemJson(p));
  return JsonArray(items);
}

void PrintErrors(const Problems& problems) {
  for (const Problem& p : problems) fprintf(stderr, "kovsea: error: %s\n", ProblemText(p).c_str());
}

void PrintReport(const Problems& problems) {
  for (const Problem& p : problems) printf("%s\n", ProblemText(p).c_str());
}
