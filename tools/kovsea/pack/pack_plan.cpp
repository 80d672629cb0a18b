#include "pack_plan.h"

#include "content_digest.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <system_error>

#include "content_digest.h"
#include "host_files.h"
#include "side_files.h"
#include "windows_names.h"
#include "text.h"
#include "trailer_locator.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMaxOffset = 0xFFFFFFFFull;
// A signer appends its certificate table behind the file and names it with 32-bit offsets;
// this much room is kept for it (a signature with a chain and a timestamp takes 10-30 KiB).
constexpr uint64_t kSignatureRoom = 64 * 1024;

// Walks a tree in the stub's order (names sorted byte-wise, each directory's entry before its
// contents) and collects every entry and every problem.
class TreePlanner {
 public:
  TreePlanner(const PackOptions& options, PackPlan* plan) : options_(options), plan_(plan) {}

  void Walk(const fs::path& dir, const std::string& prefix) {
    std::vector<fs::path> children;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
      children.push_back(it->path());
    }
    if (error) {
      Refuse(dir, "cannot be read: " + error.message(), "make it readable");
      return;
    }
    std::sort(children.begin(), children.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    // Names Windows takes for one another would replace each other at the user's site.
    std::vector<std::string> names;
    for (const fs::path& child : children) names.push_back(child.filename().string());
    std::vector<bool> clashing(children.size(), false);
    for (const NameClash& clash : FindNameClashes(names)) {
      clashing[clash.index] = true;
      const std::string other = children[clash.earlier].string();
      if (clash.short_name) {
        Refuse(children[clash.index], "may be the short name Windows gives " + other + ", and would replace it",
               "rename it");
      } else {
        Refuse(children[clash.index], "differs from " + other + " only in case, and Windows cannot hold both",
               "rename one of them");
      }
    }
    for (size_t i = 0; i < children.size(); ++i) {
      if (!clashing[i]) Entry(children[i], prefix);
    }
  }

 private:
  void Refuse(const fs::path& where, const std::string& what, const std::string& fix) {
    plan_->problems.push_back(Problem{where.string(), std::nullopt, what, fix});
  }

  void Entry(const fs::path& child, const std::string& prefix) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(child, error);
    if (error) return Refuse(child, error.message(), "make it readable");
    if (fs::is_symlink(status)) {
      return Refuse(child, "symbolic links cannot be packed", "put the file or directory it points to in its place");
    }
    const bool is_directory = fs::is_directory(status);
    if (!is_directory && !fs::is_regular_file(status)) {
      return Refuse(child, "only regular files and directories can be packed", "remove it from the tree");
    }
    std::string component;
    if (!options_.codepage.FromHostName(child.filename(), &component)) {
      return Refuse(child, "name cannot be represented in code page " + options_.codepage.name(),
                     "rename it, or pack with the --codepage of the installer's language");
    }
    // In East Asian code pages 0x5C can be the second byte of a character; the stub and every
    // reader split names at that byte, so the name would fall apart.
    if (component.find('\\') != std::string::npos) {
      return Refuse(child, "its spelling in code page " + options_.codepage.name() +
                                " holds the byte 0x5C, which Windows reads as a path separator",
                     "rename it");
    }
    const std::string name = prefix + component;
    const NameProblem name_problem = CheckEntryName(name.c_str());
    if (name_problem != NameProblem::kNone) return Refuse(child, DescribeNameProblem(name_problem), "rename it");
    const uint64_t path_length = PathLengthAtSite(options_.temp_length, name.size());
    if (path_length > kMaxPathLength) {
      Refuse(child, "would make a path of " + std::to_string(path_length) + " characters at the user's site, more than " +
                         "the 259 Windows allows (with a temporary directory of " +
                         std::to_string(options_.temp_length) + " characters)",
              "shorten its name or the directories above it by " + std::to_string(path_length - kMaxPathLength) +
                  (path_length - kMaxPathLength == 1 ? " character" : " characters"));
    }
    platform::host::FileIdentity identity;
    if (!is_directory) {
      // Opened as pack will open it, so that what pack cannot read the check refuses too.
      FILE* file = platform::host::OpenRegularFile(child.string(), &identity);
      if (file == nullptr) return Refuse(child, std::string("cannot be read: ") + strerror(errno), "make it readable");
      fclose(file);
      if (identity.size > kMaxFileEntrySize) {
        return Refuse(child, "larger than 4 GiB - 2 bytes, the most an entry can hold", "leave it out or split it");
      }
    }
    plan_->entries.push_back(PlannedEntry{child, name, is_directory, identity.size, identity});
    if (is_directory) Walk(child, name + "\\");
  }

  const PackOptions& options_;
  PackPlan* plan_;
};

// The stub writes each side file into the disk directory after the entries: an entry of the
// same name (in any case: Windows names are one whatever their case) would be replaced by it
// at the user's site, silently.
void CheckSideFileClashes(const PackOptions& options, PackPlan* plan) {
  for (int i = 0; i < kSideFileCount; ++i) {
    if (options.side_files[i].empty()) continue;
    const std::string side = platform::host::WindowsUpperCase(std::string(kDiskDirectory) + "/" + kSideFiles[i].file);
    for (const PlannedEntry& e : plan->entries) {
      const std::string name = e.host_path.lexically_relative(options.input_dir).generic_string();
      if (platform::host::WindowsUpperCase(name) != side) continue;
      plan->problems.push_back(Problem{
          e.host_path.string(), std::nullopt,
          std::string("would be replaced at the user's site by the side file ") + kSideFiles[i].option + " writes as " +
              InDiskDirectory(kSideFiles[i].file) + " (Windows takes the two names for one)",
          std::string("remove it from the tree, or leave out ") + kSideFiles[i].option});
    }
  }
}

void CheckLayout(const PackOptions& options, PackPlan* plan) {
  auto problem = [plan](const std::string& where, const std::string& what, const std::string& fix) {
    plan->problems.push_back(Problem{where, std::nullopt, what, fix});
  };
  for (const PlannedEntry& e : plan->entries) {
    plan->archive_size += EntryBytes(e.name.size(), e.is_directory, e.size);
  }
  if (plan->archive_size > kMaxOffset) {
    problem(options.input_dir.string(), "the entries add up to more than 4 GiB, the most the format can address",
            "leave files out, or ship them in a second package");
  }
  uint64_t end = plan->stub_size + plan->archive_size;
  for (int i = 0; i < kSideFileCount; ++i) {
    if (options.side_files[i].empty()) continue;
    std::error_code error;
    const fs::path& side = options.side_files[i];
    if (!fs::is_regular_file(fs::status(side, error)) || error) {
      problem(side.string(), "a side file is not a readable file", "name a readable file");
      continue;
    }
    plan->side_sizes[i] = fs::file_size(side, error);
    if (end > kMaxOffset || plan->side_sizes[i] > kMaxOffset) {
      problem(side.string(), "the side file lies beyond the 4 GiB that the trailer can address",
              "make the payload smaller");
    }
    plan->side_offsets[i] = static_cast<uint32_t>(std::min<uint64_t>(end, kMaxOffset));
    end += plan->side_sizes[i];
    const std::string in_disk = InDiskDirectory(kSideFiles[i].file);
    if (PathLengthAtSite(options.temp_length, in_disk.size()) > kMaxPathLength) {
      problem(side.string(), in_disk + " would make a path longer than 259 characters", "lower --temp-length");
    }
  }
  const uint64_t tail = kContentDigestRecordSize + kTrailerSize;
  plan->padding = (kCertificateAlignment - (end + tail) % kCertificateAlignment) % kCertificateAlignment;
  plan->total = end + plan->padding + tail;
  if (plan->total + kCertificateAlignment + kSignatureRoom > kMaxOffset) {
    problem(options.output.empty() ? options.input_dir.string() : options.output.string(),
            "the file would be " + std::to_string(plan->total) + " bytes, too large to be signed: a signature " +
                "is addressed with 32-bit offsets behind the file",
            "make the payload smaller by " +
                std::to_string(plan->total + kCertificateAlignment + kSignatureRoom - kMaxOffset) + " bytes");
  }
}

}  // namespace

PackPlan PlanPack(const PackOptions& options, uint64_t stub_size) {
  PackPlan plan;
  plan.stub_size = stub_size;
  std::error_code error;
  if (!fs::is_directory(options.input_dir, error)) {
    const bool exists = fs::exists(fs::symlink_status(options.input_dir, error));
    plan.problems.push_back(Problem{options.input_dir.string(), std::nullopt,
                                    exists ? "not a directory" : "does not exist", "name the installer's tree"});
    return plan;
  }
  // Names are checked as the stub reads them, in the code page's characters: the host
  // platform answers which bytes begin a double-byte character for its target's code page.
  platform::host::TargetCatalogue(options.codepage.name());
  TreePlanner(options, &plan).Walk(options.input_dir, "");
  platform::host::ClearTarget();
  if (plan.entries.empty() && plan.problems.empty()) {
    plan.problems.push_back(Problem{options.input_dir.string(), std::nullopt, "nothing to pack (empty directory)",
                                    "put the installer's files in it"});
  }
  if (!options.output.empty()) {
    // The output would be packed into the next self-extractor, or replace a file of the tree.
    const fs::path tree = fs::weakly_canonical(options.input_dir, error);
    const fs::path output = fs::weakly_canonical(fs::absolute(options.output, error), error);
    const auto mismatch = std::mismatch(tree.begin(), tree.end(), output.begin(), output.end());
    if (!tree.empty() && mismatch.first == tree.end()) {
      plan.problems.push_back(Problem{options.output.string(), std::nullopt, "lies inside the tree that is packed",
                                      "write the self-extractor outside " + options.input_dir.string()});
    }
  }
  const fs::path setup = options.input_dir / kDiskDirectory / kSetupProgram;
  if (!fs::is_regular_file(setup, error)) {
    plan.problems.push_back(Problem{setup.string(), std::nullopt, "is missing: the stub would find no installer to start",
                                    std::string("put the installer's ") + kSetupProgram + " in the tree's " +
                                        kDiskDirectory + " directory"});
  }
  CheckSideFileClashes(options, &plan);
  CheckLayout(options, &plan);
  return plan;
}

