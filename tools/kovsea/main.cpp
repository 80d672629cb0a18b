// kovsea: builds, checks, lists, verifies and safely extracts KOV self-extracting archives.
// The command line is parsed with CLI11; usage errors exit with 2, refused input with 1.
#include <stdio.h>
#include <stdlib.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "encoding.h"
#include "host_files.h"
#include "pack.h"
#include "sea_file.h"

#ifndef KOVSEA_VERSION
#define KOVSEA_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kExitUsage = 2;

// The stub that goes with the tool: named by --stub or KOVSEA_STUB, else the one installed
// with kovsea (beside it, as the Windows zip holds it, or in ../share/kovsea, as the Debian
// package does), else, during development, the one the Windows build of this tree made.
fs::path FindStub(const char* argv0, const std::string& given) {
  if (!given.empty()) return given;
  if (const char* from_environment = getenv("KOVSEA_STUB")) {
    if (*from_environment != '\0') return from_environment;
  }
  std::error_code error;
  fs::path self = fs::canonical(fs::path(argv0), error);
#ifndef _WIN32
  if (error || self.empty()) self = fs::read_symlink("/proc/self/exe", error);
#endif
  std::vector<fs::path> candidates;
  if (!self.empty()) {
    candidates.push_back(self.parent_path() / "kovsea-stub.exe");
    candidates.push_back(self.parent_path() / ".." / "share" / "kovsea" / "kovsea-stub.exe");
  }
#ifdef KOVSEA_DEVELOPMENT_STUB
  // Only a kovsea that runs from this tree's build directory takes the stub of its build.
  if (!self.empty() && self.parent_path() == fs::path(KOVSEA_BUILD_BIN_DIR)) {
    candidates.push_back(KOVSEA_DEVELOPMENT_STUB);
  }
#endif
  for (const auto& c : candidates) {
    if (fs::is_regular_file(c, error)) return fs::weakly_canonical(c, error);
  }
  return fs::path();
}

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The iconv name of a Windows code page given on the command line, refusing what the names
// in a self-extractor cannot be stored in.
std::string Codepage(const std::string& given) {
  const std::string name = CodepageName(given);
  std::string probe;
  if (name.empty() || !platform::host::ConvertEncoding(name.c_str(), "UTF-8", "A", &probe)) {
    throw UsageError("unknown code page '" + given + "' (give a Windows code page number such as 1252)");
  }
  if (!platform::host::SetCodepage(name.c_str())) {
    throw UsageError("code page '" + given + "' does not keep the ASCII characters as they are (an EBCDIC "
                     "code page?); names in a self-extractor need one that does, such as 1252");
  }
  return name;
}

std::map<std::string, std::string> VersionInfo(const std::vector<std::string>& pairs) {
  std::map<std::string, std::string> out;
  for (const std::string& pair : pairs) {
    const size_t eq = pair.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError("--version-info takes KEY=VALUE, not '" + pair + "'");
    out[pair.substr(0, eq)] = pair.substr(eq + 1);
  }
  return out;
}

void PrintErrors(const std::vector<std::string>& errors) {
  for (const auto& e : errors) PrintError(e);
}

// A command that reads a self-extractor: FILE and the code page its names are spelled in.
CLI::App* ReaderCommand(CLI::App* app, const char* name, const char* description, const char* footer,
                        fs::path* file, std::string* codepage) {
  CLI::App* command = app->add_subcommand(name, description);
  command->footer(footer);
  command->add_option("FILE", *file, "the self-extractor")->required();
  command->add_option("--codepage", *codepage, "Windows code page of the entry names (default 1252)");
  return command;
}

// The options `pack` and `check` share: the side files, the code page and the temporary
// directory the check assumes.
struct TreeOptions {
  std::string side_files[4];
  std::string codepage = "1252";
  uint32_t temp_length = kDefaultTempLength;

  void AddTo(CLI::App* command) {
    static const char* const kNames[4] = {"--admin", "--client", "--net", "--setup-ini"};
    static const char* const kWhat[4] = {"side file written as Disk1\\KOVadmin.dat",
                                         "side file written as Disk1\\KOVclient.dat",
                                         "side file written as Disk1\\KOVnet.dat",
                                         "side file written as Disk1\\setup.ini"};
    for (int i = 0; i < 4; ++i) command->add_option(kNames[i], side_files[i], kWhat[i]);
    command->add_option("--codepage", codepage, "Windows code page for entry names (default 1252)");
    command->add_option("--temp-length", temp_length,
                        "length of the user's temporary directory the paths must fit under "
                        "(default 49: C:\\Users\\ with a 20-character user name and "
                        "\\AppData\\Local\\Temp\\)");
  }
  void Into(PackOptions* options) const {
    for (int i = 0; i < 4; ++i) options->side_files[i] = side_files[i];
    options->codepage = Codepage(codepage);
    options->temp_length = temp_length;
  }
};

// The help of `command` (the whole tool's, or a command's with the tool's name in front).
std::string Help(CLI::App* app) {
  CLI::App* shown = app->get_subcommands().empty() ? app : app->get_subcommands().front();
  std::string text = shown->help();
  if (shown != app) {
    const std::string usage = "usage: " + shown->get_name();
    const size_t at = text.find(usage);
    if (at != std::string::npos) text.replace(at, usage.size(), "usage: kovsea " + shown->get_name());
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Builds, checks, lists, verifies and safely extracts KOV self-extracting archives.", "kovsea");
  app.get_formatter()->label("Usage", "usage");
  app.require_subcommand(1);
  app.set_version_flag("--version", "kovsea " KOVSEA_VERSION);

  PackOptions pack_options;
  TreeOptions pack_tree;
  std::string stub;
  std::string icon;
  std::vector<std::string> version_pairs;
  CLI::App* pack = app.add_subcommand("pack", "build a self-extractor from a directory tree");
  pack->footer(
      "Writes the stub, every directory and file below DIR (sorted, each directory before its\n"
      "contents), the side files and the trailer. The installer the stub starts is\n"
      "DIR/Disk1/Setup.exe. The tree is checked first, as `kovsea check` does; nothing is\n"
      "written when it has a problem.");
  pack->add_option("DIR", pack_options.input_dir, "the installer's tree")->required();
  pack->add_option("-o,--output", pack_options.output, "the file to write; nothing is left there if packing fails")
      ->required();
  pack->add_option("--stub", stub, "the stub program (default: the one installed with kovsea, or $KOVSEA_STUB)");
  pack->add_option("--icon", icon, "an .ico file whose images replace the program's icon");
  pack->add_option("--version-info", version_pairs,
                   "KEY=VALUE for the version resource (repeatable): ProductName, ProductVersion, "
                   "FileVersion, CompanyName, FileDescription, LegalCopyright, OriginalFilename, ...");
  pack_tree.AddTo(pack);

  PackOptions check_options;
  TreeOptions check_tree;
  bool check_json = false;
  CLI::App* check = app.add_subcommand("check", "check a tree before packing it");
  check->footer(
      "Lists every problem that would stop pack, or the stub at the user's site, each with its\n"
      "fix: names the code page cannot spell or Windows refuses, paths too long under the\n"
      "user's temporary directory, a missing Disk1/Setup.exe, sizes past what the format\n"
      "addresses or a signer can sign. Exit code 0 when there is none.");
  check->add_option("DIR", check_options.input_dir, "the installer's tree")->required();
  check->add_option("--stub", stub, "the stub whose size the layout is checked with");
  check->add_flag("--json", check_json, "print the result as JSON");
  check_tree.AddTo(check);

  fs::path file;
  std::string codepage = "1252";
  bool list_json = false;
  CLI::App* list = ReaderCommand(
      &app, "list", "show what a self-extractor holds",
      "Shows the trailer, one line per entry (type, size, name), the side files and the\n"
      "file's SHA-256 digest; with --json also the digest of every file entry, every side\n"
      "file and the stub part (everything before the archive).",
      &file, &codepage);
  list->add_flag("--json", list_json, "print JSON");

  uint32_t verify_temp_length = kDefaultTempLength;
  CLI::App* verify = ReaderCommand(
      &app, "verify", "check that a file is a well-formed self-extractor",
      "Exits 0 only when FILE is well formed and every entry extracts under the user's\n"
      "temporary directory; prints each problem with the byte offset it concerns.",
      &file, &codepage);
  verify->add_option("--temp-length", verify_temp_length, "as for check (default 49)");

  fs::path out_dir;
  bool force = false;
  CLI::App* extract = ReaderCommand(
      &app, "extract", "extract a self-extractor's files without running anything",
      "Extracts the entries into DIR and the side files into DIR/Disk1, as the stub would,\n"
      "never following a link out of DIR. DIR must be empty unless --force is given; on any\n"
      "error what this run created is removed again, and nothing that was there before.",
      &file, &codepage);
  extract->add_option("-o,--output", out_dir, "the directory to extract into")->required();
  extract->add_flag("--force", force, "extract into a directory that is not empty");

  try {
    app.parse(argc, argv);
    if (*pack) {
      pack_tree.Into(&pack_options);
      pack_options.stub = FindStub(argv[0], stub);
      if (pack_options.stub.empty()) {
        PrintErrors({"no stub found beside kovsea or in ../share/kovsea; give one with --stub or KOVSEA_STUB"});
        return 1;
      }
      pack_options.icon = icon;
      pack_options.version_info = VersionInfo(version_pairs);
      std::vector<std::string> errors;
      const int result = Pack(pack_options, &errors);
      PrintErrors(errors);
      return result;
    }
    if (*check) {
      check_tree.Into(&check_options);
      check_options.stub = FindStub(argv[0], stub);
      return CheckCommand(check_options, check_json);
    }
    const std::string iconv_codepage = Codepage(codepage);
    if (*list) return ListCommand(file, list_json, iconv_codepage);
    if (*verify) return VerifyCommand(file, iconv_codepage, verify_temp_length);
    return ExtractCommand(file, out_dir, force, iconv_codepage);
  } catch (const CLI::CallForHelp&) {
    fputs(Help(&app).c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion&) {
    printf("kovsea %s\n", KOVSEA_VERSION);
    return 0;
  } catch (const CLI::ParseError& e) {
    fprintf(stderr, "kovsea: error: %s\n\n%s", e.what(), Help(&app).c_str());
    return kExitUsage;
  } catch (const UsageError& e) {
    fprintf(stderr, "kovsea: error: %s\n\n%s", e.what(), Help(&app).c_str());
    return kExitUsage;
  }
}
