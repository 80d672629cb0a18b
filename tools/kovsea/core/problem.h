// What the packer reports when something is wrong: one type for every command and every
// library below them (the tree planner, the resource writer, the readers of a finished file),
// and one printer for it, as text or as JSON.
//
//   where   the path the problem concerns (a file of the tree, the stub, the self-extractor)
//   offset  the byte offset in that file, where there is one
//   what    what is wrong, in words for people
//   fix     what to do about it, where the packer knows
//
// As text a problem is one line: "WHERE: offset N: WHAT (FIX)", the parts that are absent
// left out. As JSON it is {"where": ..., "offset": N or null, "what": ..., "fix": ... or null}
// (docs/json.md).
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

struct Problem {
  std::string where;
  std::optional<uint64_t> offset;
  std::string what;
  std::string fix;
};

using Problems = std::vector<Problem>;

// A problem at `offset` of the file at `where`.
Problem ProblemAt(const std::string& where, uint64_t offset, const std::string& what,
                  const std::string& fix = std::string());

// The problem as one line of text, without a line break.
std::string ProblemText(const Problem& problem);
// The problem as a JSON object.
std::string ProblemJson(const Problem& problem);
// The problems as a JSON array, one object a line.
std::string ProblemsJson(const Problems& problems);

// Prints each problem as "kovsea: error: LINE" on stderr: how the commands that make or
// read a file report why they refused it.
void PrintErrors(const Problems& problems);
// Prints each problem as a line on stdout: how the commands whose output is a report (check,
// verify) list what they found.
void PrintReport(const Problems& problems);
