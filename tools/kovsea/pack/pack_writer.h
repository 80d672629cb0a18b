// Writing a planned self-extractor: the stub, the entries, the side files, the padding, the
// content digest (content_digest.h) and the trailer, in one pass with a progress meter on a terminal. The file is written beside
// the output under an unpredictable temporary name and moved into place only when complete,
// so that nothing is left at the output path when packing fails. The same bytes can go to
// any other sink instead (verify --against compares them with a finished file as they come).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <string>

#include "pack_options.h"
#include "pack_plan.h"
#include "problem.h"

// Where a package's bytes go, in order. Write and Copy return false with problem() set when
// the bytes cannot be taken (or the sink has seen enough: it says so in its own terms).
class PackSink {
 public:
  virtual ~PackSink() = default;
  virtual bool Write(const void* data, size_t bytes) = 0;
  // Takes exactly `size` bytes of the file `source`, opened without following a link; a file
  // that changed size is an error, and so is one that is no longer the file the plan checked
  // (`planned`, where given).
  bool Copy(const std::filesystem::path& source, uint64_t size,
            const platform::host::FileIdentity* planned = nullptr);
  const Problem& problem() const { return problem_; }
  // Takes a problem met on the way to this sink (a source that could not be read), so that
  // problem() says why the package stopped; false.
  bool Refuse(const Problem& problem) {
    problem_ = problem;
    return false;
  }

 protected:
  bool Fail(const std::filesystem::path& where, const std::string& what);
  // Takes the first bytes of `in` by a faster way than Write where the sink has one, leaving
  // `in` after them; `*copied` says how many (none by default).
  virtual bool CopyPrefix(FILE* in, const std::filesystem::path& source, uint64_t size, uint64_t* copied);

  Problem problem_;
};

// False with `problem` when a file could not be read whole or the output not written.
bool WritePackage(const PackOptions& options, const std::string& stub, const PackPlan& plan, Problem* problem);
// The package's bytes into `sink`; false when a file could not be read whole or the sink
// refused them (its problem() says why).
bool StreamPackage(const PackOptions& options, const std::string& stub, const PackPlan& plan, PackSink* sink);
