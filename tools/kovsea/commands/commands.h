// The packer's commands, one file each: each takes what the command line gave it, does its
// work through the libraries below (pack, inspect, pe, core), prints its output and returns
// the process's exit code: 0 success, 1 a tree or file that is refused, or a failure. Usage
// errors (exit code 2) never reach a command: the command line refuses them first.
//
// With `json`, a command prints one report on stdout, the same envelope for every command
// ({"ok": ..., the command's facts, "problems": [...]}, docs/json.md), and nothing on stderr.
// Without, `check` and `verify` print a report on stdout; `pack`, `list` and `extract` print
// their problems on stderr.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "codepage.h"
#include "pack_options.h"
#include "signature.h"
#include "unattended_install.h"

// A new command: a function here, a file of its own beside the others, and its options in
// cli/main.cpp.
int PackCommand(const PackOptions& options, bool json);
// The pre-flight check of a tree, as pack runs it.
int CheckCommand(const PackOptions& options, bool json);
// Lists the entries; with `json`, with the SHA-256 digest of every file entry, side file,
// the stub part and the whole file.
int ListCommand(const std::filesystem::path& file, bool json, const Codepage& codepage);
struct VerifyOptions {
  std::filesystem::path file;
  bool json = false;
  Codepage codepage;
  uint32_t temp_length = kDefaultTempLength;
  TrustPins pins;
  bool require_digest = false;  // a file without a content digest is not OK
  std::optional<PackOptions> against;  // the tree and the pack options to compare with
};
// Checks a finished file, including that every entry's path fits under a temporary
// directory of `temp_length` characters at the user's site, its signature against the file
// and the pins, and, when asked, that it is the given tree packed again.
int VerifyCommand(const VerifyOptions& options);
// The same with no pins and no tree to compare with.
int VerifyCommand(const std::filesystem::path& file, bool json, const Codepage& codepage, uint32_t temp_length);
// What changed between two self-extractors; exit code 0 when nothing the user runs differs
// (entries, side files, the stub's program and resources), 1 when something does or one
// cannot be read.
int DiffCommand(const std::filesystem::path& old_file, const std::filesystem::path& new_file, bool json,
                const Codepage& codepage);
// The options of `kovsea try` (Linux only).
struct TryOptions {
  std::filesystem::path file;
  bool headless = false;              // a virtual display even when there is one
  std::filesystem::path keep;         // keep the prefix here instead of removing it
  uint32_t timeout_s = 600;
  bool restart = false;               // perform the restart the installer asks for
  std::filesystem::path screenshots;  // a picture of every window that appeared
  std::vector<uint32_t> success_exit_codes;  // Setup.exe codes taken as success besides 0
  bool no_isolation = false;          // run without a sandbox (where none can be made)
  Codepage codepage;                  // of the names in the file
  bool json = false;
};
// Runs the self-extractor in a throwaway Wine prefix with `observer` (kovsea-observer.exe)
// watching, and reports what the installer saw, what was left and what was asked of the
// system.
int TryCommand(const TryOptions& options, const std::filesystem::path& observer);
// Writes the translators' template to `output` (standard output when empty).
int TextsTemplateCommand(const std::filesystem::path& output, const std::string& version);
// Extracts into `out_dir`, which must be empty unless `force`.
int ExtractCommand(const std::filesystem::path& file, const std::filesystem::path& out_dir, bool force,
                   const Codepage& codepage);
// Runs the installer on behalf of a deployment system (Windows); the Linux build refuses with
// exit code 2. Returns the exit code of unattended_install.h, which deployment systems read.
int InstallCommand(const InstallOptions& options);
