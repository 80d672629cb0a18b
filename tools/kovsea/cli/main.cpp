// kovsea: builds, checks, lists, verifies and safely extracts KOV self-extracting archives,
// and (on Windows) runs their installer unattended.
// This file only parses the command line (with CLI11) and dispatches to the commands; usage
// errors exit with 2, refused input with 1.
#include <stdio.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "commands.h"
#include "problem.h"
#include "side_files.h"
#include "stub_location.h"
#include "usage.h"

#ifndef KOVSEA_VERSION
#define KOVSEA_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kExitUsage = 2;

const std::string kSetupInTree = std::string("DIR/") + kDiskDirectory + "/" + kSetupProgram;

// A code page option: checked as it is parsed, so that a bad one is a usage error.
void AddCodepage(CLI::App* command, Codepage* codepage, const char* what) {
  command
      ->add_option_function<std::string>(
          "--codepage",
          [codepage](const std::string& given) {
            std::string error;
            if (!Codepage::Parse(given, codepage, &error)) throw CLI::ValidationError("--codepage", error);
          },
          what)
      ->type_name("CP");
}

// A command that reads a self-extractor: FILE and the code page its names are spelled in.
CLI::App* ReaderCommand(CLI::App* app, const char* name, const char* description, const std::string& footer,
                        fs::path* file, Codepage* codepage) {
  CLI::App* command = app->add_subcommand(name, description);
  command->footer(footer);
  command->add_option("FILE", *file, "the self-extractor")->required();
  AddCodepage(command, codepage, "Windows code page of the entry names (default 1252)");
  return command;
}

// Translations: the .po files and whether English may stand in for what they leave out.
void AddTextsOptions(CLI::App* command, PackOptions* options) {
  command->add_option("--texts", options->texts,
                      "a translation (.po, from kovsea texts --template) whose language the "
                      "stub's texts are also given in (repeatable)")
      ->type_name("FILE.po")
      ->check(CLI::ExistingFile);
  command->add_flag("--allow-untranslated", options->allow_untranslated,
                    "keep the English text where a translation is fuzzy or empty");
}

// The options `pack` and `check` share: the tree, the side files, the code page and the
// temporary directory the check assumes.
void AddTreeOptions(CLI::App* command, PackOptions* options) {
  command->add_option("DIR", options->input_dir, "the installer's tree")->required();
  for (int i = 0; i < kSideFileCount; ++i) {
    command->add_option(kSideFiles[i].option, options->side_files[i],
                        "side file written as " + InDiskDirectory(kSideFiles[i].file))
        ->type_name("FILE");
  }
  AddCodepage(command, &options->codepage, "Windows code page for entry names (default 1252)");
  command->add_option("--temp-length", options->temp_length,
                      "length of the user's temporary directory the paths must fit under "
                      "(default 49: C:\\Users\\ with a 20-character user name and "
                      "\\AppData\\Local\\Temp\\)");
  AddTextsOptions(command, options);
}

void AddVersionInfo(CLI::App* command, std::map<std::string, std::string>* version_info) {
  command->add_option_function<std::vector<std::string>>(
      "--version-info",
      [version_info](const std::vector<std::string>& pairs) {
        for (const std::string& pair : pairs) {
          const size_t eq = pair.find('=');
          if (eq == std::string::npos || eq == 0) {
            throw CLI::ValidationError("--version-info", "takes KEY=VALUE, not '" + pair + "'");
          }
          (*version_info)[pair.substr(0, eq)] = pair.substr(eq + 1);
        }
      },
      "KEY=VALUE for the version resource (repeatable): ProductName, ProductVersion, "
      "FileVersion, CompanyName, FileDescription, LegalCopyright, OriginalFilename, ...")
      ->type_name("KEY=VALUE");
}

// A pin checked as it is parsed: an empty or malformed one is a usage error, never no pin.
CLI::Validator PinCheck(std::string (*problem)(const std::string&)) {
  return CLI::Validator([problem](std::string& given) { return problem(given); }, "");
}

// The pins of the signer (verify and install), and whether a content digest is required.
void AddPinOptions(CLI::App* command, TrustPins* pins, bool* require_digest) {
  command->add_option("--signer-sha256", pins->signer_sha256,
                      "fail unless the signing certificate's SHA-256 is HEX (as verify prints it)")
      ->type_name("HEX")
      ->check(PinCheck(SignerSha256Problem));
  command->add_option("--signer-subject", pins->signer_subject,
                      "fail unless the signer's subject is exactly TEXT (as verify prints it)")
      ->type_name("TEXT")
      ->check(PinCheck(SignerSubjectProblem));
  command->add_option("--ca", pins->ca, "fail unless the signer's chain ends in a root of this PEM file")
      ->type_name("FILE")
      ->check(CLI::ExistingFile);
  command->add_flag("--require-digest", *require_digest,
                    "fail for a file without a content digest (one packed by an earlier kovsea)");
}

// verify's pins of the signer, and --against with the options pack would have been given.
void AddTrustOptions(CLI::App* verify, VerifyOptions* options, PackOptions* against, std::string* stub) {
  AddPinOptions(verify, &options->pins, &options->require_digest);
  CLI::Option* dir = verify->add_option("--against", against->input_dir,
                                        "fail unless FILE (less its signature) is DIR packed again, byte for byte");
  dir->type_name("DIR")->check(CLI::ExistingDirectory);
  for (int i = 0; i < kSideFileCount; ++i) {
    verify->add_option(kSideFiles[i].option, against->side_files[i], "with --against: as for pack")
        ->type_name("FILE")
        ->needs(dir);
  }
  verify->add_option("--stub", *stub, "with --against: as for pack")->type_name("FILE")->needs(dir);
  verify->add_option("--icon", against->icon, "with --against: as for pack")->type_name("FILE.ico")->needs(dir);
  verify->add_option("--texts", against->texts, "with --against: as for pack")->type_name("FILE.po")->needs(dir);
  verify->add_flag("--allow-untranslated", against->allow_untranslated, "with --against: as for pack")->needs(dir);
  AddVersionInfo(verify, &against->version_info);
}

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
  CLI::App app("Builds, checks, lists, verifies and safely extracts KOV self-extracting archives, and runs their installer unattended (Windows).", "kovsea");
  // Set before the commands are added: each takes its formatter from the tool.
  app.formatter(std::make_shared<HelpFormatter>());
  app.get_formatter()->label("Usage", "usage");
  app.require_subcommand(1);
  // Every option is spelled with dashes; a word beginning with a slash is a path (/tmp/x.exe
  // under Wine) or one of the installer's switches, never an option of kovsea's.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", "kovsea " KOVSEA_VERSION);

  PackOptions pack_options;
  std::string stub;
  bool pack_json = false;
  CLI::App* pack = app.add_subcommand("pack", "build a self-extractor from a directory tree");
  pack->footer(
      "Writes the stub, every directory and file below DIR (sorted, each directory before its\n"
      "contents), the side files and the trailer. The installer the stub starts is\n" +
      kSetupInTree + ". The tree is checked first, as `kovsea check` does; nothing is\n"
      "written when it has a problem.");
  AddTreeOptions(pack, &pack_options);
  pack->add_option("-o,--output", pack_options.output, "the file to write; nothing is left there if packing fails")
      ->type_name("FILE")
      ->required();
  pack->add_option("--stub", stub, "the stub program (default: the one installed with kovsea, or $KOVSEA_STUB)")
      ->type_name("FILE");
  pack->add_option("--icon", pack_options.icon, "an .ico file whose images replace the program's icon")
      ->type_name("FILE.ico");
  AddVersionInfo(pack, &pack_options.version_info);
  pack->add_flag("--json", pack_json, "print the result as JSON");

  PackOptions check_options;
  bool check_json = false;
  CLI::App* check = app.add_subcommand("check", "check a tree before packing it");
  check->footer(
      "Lists every problem that would stop pack, or the stub at the user's site, each with its\n"
      "fix: names the code page cannot spell or Windows refuses, paths too long under the\n"
      "user's temporary directory, a missing " + kSetupInTree.substr(4) + ", sizes past what the format\n"
      "addresses or a signer can sign. Exit code 0 when there is none.");
  AddTreeOptions(check, &check_options);
  check->add_option("--stub", stub, "the stub whose size the layout is checked with")->type_name("FILE");
  check->add_flag("--json", check_json, "print the result as JSON");

  fs::path file;
  Codepage codepage;
  bool list_json = false;
  CLI::App* list = ReaderCommand(
      &app, "list", "show what a self-extractor holds",
      "Shows the trailer, one line per entry (type, size, name), the side files and the\n"
      "file's SHA-256 digest; with --json also the digest of every file entry, every side\n"
      "file and the stub part (everything before the archive).",
      &file, &codepage);
  list->add_flag("--json", list_json, "print JSON");

  uint32_t verify_temp_length = kDefaultTempLength;
  bool verify_json = false;
  CLI::App* verify = ReaderCommand(
      &app, "verify", "check that a file is a well-formed self-extractor",
      "Exits 0 only when FILE is well formed and every entry extracts under the user's\n"
      "temporary directory; prints each problem with the byte offset it concerns. A signed\n"
      "FILE must match its signature: the signer, the digest and the countersignature's time\n"
      "are shown; the chain is checked only against the roots given with --ca.",
      &file, &codepage);
  verify->add_option("--temp-length", verify_temp_length, "as for check (default 49)");
  verify->add_flag("--json", verify_json, "print the result as JSON");
  VerifyOptions verify_options;
  PackOptions against;
  AddTrustOptions(verify, &verify_options, &against, &stub);

  fs::path out_dir;
  bool force = false;
  CLI::App* extract = ReaderCommand(
      &app, "extract", "extract a self-extractor's files without running anything",
      "Extracts the entries into DIR and the side files into DIR/" + std::string(kDiskDirectory) +
          ", as the stub would,\n"
          "never following a link out of DIR. DIR must be empty unless --force is given; on any\n"
          "error what this run created is removed again, and nothing that was there before.",
      &file, &codepage);
  extract->add_option("-o,--output", out_dir, "the directory to extract into")->type_name("DIR")->required();
  extract->add_flag("--force", force, "extract into a directory that is not empty");

  fs::path diff_old, diff_new;
  bool diff_json = false;
  Codepage diff_codepage;
  CLI::App* diff = app.add_subcommand("diff", "show what changed between two self-extractors");
  diff->footer(
      "Lists the entries added, removed and changed (by size and SHA-256), the side files that\n"
      "differ, whether the stub part is the same (its program, version strings and icon), and\n"
      "who signed each file. Exit code 0 when nothing the user runs differs (entries, side\n"
      "files, the stub's program, resources and texts), 1 when something does or one cannot\n"
      "be read.");
  diff->add_option("OLD", diff_old, "the earlier self-extractor")->required();
  diff->add_option("NEW", diff_new, "the later self-extractor")->required();
  AddCodepage(diff, &diff_codepage, "Windows code page of the entry names (default 1252)");
  diff->add_flag("--json", diff_json, "print the result as JSON");
  bool texts_template = false;
  fs::path texts_output;
  CLI::App* texts = app.add_subcommand("texts", "write the template translators start from");
  texts->footer(
      "With --template, writes a gettext template (.pot) of every text the self-extractor can\n"
      "show: its messages, the progress dialog's caption, text and button, each with a comment\n"
      "saying when it appears. Translate it with the usual tools (msginit -i kovsea.pot -l de,\n"
      "then an editor), and give each translation to pack with --texts: users whose Windows\n"
      "shows that language see it, everyone else English.");
  texts->add_flag("--template", texts_template, "write the template")->required();
  texts->add_option("-o,--output", texts_output, "the file to write (default: standard output)")->type_name("FILE");
#ifndef _WIN32
  TryOptions try_options;
  CLI::App* try_command = app.add_subcommand("try", "run a self-extractor in a sandbox with a throwaway Wine prefix and report");
  try_command->footer(
      "Runs FILE as a user would, unchanged, in a private 32-bit Wine prefix copied from a\n"
      "template in ~/.cache/kovsea (made once with wineboot) and removed afterwards, on your\n"
      "display or a virtual one with a window manager (Xvfb and openbox). Everything runs in\n"
      "a bubblewrap sandbox: the host read-only, home and /tmp private, no network, and every\n"
      "process ended with kovsea, whatever ends it. Reports whether the progress dialog\n"
      "appeared and when Setup.exe started, the extraction root, the tree Setup.exe found\n"
      "compared with `kovsea list`, the side files, every message box, the exit codes, the\n"
      "wait for the installer engine, what was left under the temporary directory, the\n"
      "registry values the installer set and what the stub did with them. A restart is\n"
      "reported, and performed only with --restart. Exit code 0 only when the stub ended by\n"
      "itself, Setup.exe exited with 0 (or a --success-exit code), no message box appeared,\n"
      "the tree was compared and matched, nothing was left, no process outlived the stub and\n"
      "the observer's record is whole. Needs Wine (wine, wine32:i386) and bubblewrap.");
  try_command->add_option("FILE", try_options.file, "the self-extractor")->required();
  try_command->add_flag("--headless", try_options.headless,
                        "run on a virtual display even when there is one (the default without DISPLAY)");
  try_command->add_option("--keep", try_options.keep, "keep the Wine prefix in DIR (new or empty) instead of removing it")
      ->type_name("DIR");
  try_command->add_option("--timeout", try_options.timeout_s,
                          "seconds before every process of the sandbox is ended (default 600)")
      ->check(CLI::Range(1u, 86400u))
      ->type_name("S");
  try_command->add_flag("--restart", try_options.restart,
                        "perform the restart the installer asks for and report the run after it");
  try_command->add_option("--screenshots", try_options.screenshots,
                          "keep a picture of every window that appeared in DIR")
      ->type_name("DIR");
  try_command->add_option("--success-exit", try_options.success_exit_codes,
                          "Setup.exe exit codes that count as success besides 0, comma-separated (for example 3010)")
      ->delimiter(',')
      ->type_name("CODES");
  AddCodepage(try_command, &try_options.codepage, "Windows code page of the entry names, as packed (default 1252)");
  try_command->add_flag("--no-isolation", try_options.no_isolation,
                        "run without a sandbox, as you, where none can be made (the report says so first)");
  try_command->add_flag("--json", try_options.json, "print the report as JSON");
#endif

  InstallOptions install_options;
  install_options.version = KOVSEA_VERSION;
  CLI::App* install = ReaderCommand(
      &app, "install", "run a self-extractor's installer unattended, as a deployment system does (Windows)",
      "Does what the self-extractor does, without a window and without restarting: checks FILE\n"
      "as verify does, extracts it into a private directory under %TEMP%, writes the side files,\n"
      "sets the restart request \"Reboot\" to 0, starts " + InDiskDirectory(kSetupProgram) + " with ARGS (the installer's\n"
      "own switches, each passed on exactly), waits for it and for every installer-engine\n"
      "process, deletes what it extracted (what is still in use, at the next restart) and reads\n"
      "\"Reboot\". It never restarts Windows, and for a request to run again after the restart (2)\n"
      "it registers nothing: the deployment system owns restarts, and runs the install again.\n"
      "Exit codes: 0 success; 3010 success, restart required (\"Reboot\" 1, 2 or 3; for 3 the\n"
      "product key is deleted first); Setup.exe's own code when it is not 0 (1641, 3010 and any\n"
      "failure); 1460 --timeout passed, the installer left running; 1 FILE is not a valid\n"
      "self-extractor, the directory cannot be made or Setup.exe cannot start; 2 usage. The\n"
      "Linux build refuses install with 2.",
      &install_options.file, &install_options.codepage);
  install->add_option("ARGS", install_options.arguments, "after --: the installer's own switches for Setup.exe");
  install->add_option("--log", install_options.log_file, "append a timestamped record of every step to FILE")
      ->type_name("FILE");
  install->add_flag("--verbose", install_options.verbose, "write the record to standard error as well");
  install->add_option("--timeout", install_options.timeout_seconds,
                      "stop waiting after S seconds and exit with 1460, leaving the installer running")
      ->type_name("S")
      ->check(CLI::Range(1u, 4000000000u).description(""));
  AddPinOptions(install, &install_options.pins, &install_options.require_digest);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    fputs(Help(&app).c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion&) {
    printf("kovsea %s\n", KOVSEA_VERSION);
    return 0;
  } catch (const CLI::ParseError& e) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string message = UsageErrorMessage(app, args, e);
    // For a mistyped command the whole tool's help would bury the one line that matters.
    if (IsUnknownCommand(app, args)) {
      fprintf(stderr, "kovsea: error: %s\n", message.c_str());
    } else {
      fprintf(stderr, "kovsea: error: %s\n\n%s", message.c_str(), Help(&app).c_str());
    }
    return kExitUsage;
  }
  if (*pack) {
    pack_options.stub = FindStub(argv[0], stub);
    if (pack_options.stub.empty()) {
      PrintErrors({Problem{"kovsea", std::nullopt, "no stub found beside kovsea or in ../share/kovsea",
                           "give one with --stub or KOVSEA_STUB"}});
      return 1;
    }
    return PackCommand(pack_options, pack_json);
  }
  if (*check) {
    check_options.stub = FindStub(argv[0], stub);
    return CheckCommand(check_options, check_json);
  }
  if (*list) return ListCommand(file, list_json, codepage);
  if (*verify) {
    verify_options.file = file;
    verify_options.json = verify_json;
    verify_options.codepage = codepage;
    verify_options.temp_length = verify_temp_length;
    if (!against.input_dir.empty()) {
      against.codepage = codepage;
      against.temp_length = verify_temp_length;
      against.stub = FindStub(argv[0], stub);
      if (against.stub.empty()) {
        PrintErrors({Problem{"kovsea", std::nullopt, "no stub found beside kovsea or in ../share/kovsea",
                             "give one with --stub or KOVSEA_STUB"}});
        return 1;
      }
      verify_options.against = against;
    }
    return VerifyCommand(verify_options);
  }
  if (*extract) return ExtractCommand(file, out_dir, force, codepage);
  if (*diff) return DiffCommand(diff_old, diff_new, diff_json, diff_codepage);
  if (*texts) return TextsTemplateCommand(texts_output, KOVSEA_VERSION);
#ifndef _WIN32
  if (*try_command) return TryCommand(try_options, FindObserver(argv[0]));
#endif
  if (*install) {
    const std::string misplaced = InstallSwitchesProblem(std::vector<std::string>(argv + 1, argv + argc),
                                                         install_options.arguments.size());
    if (!misplaced.empty()) {
      fprintf(stderr, "kovsea: error: %s\n", misplaced.c_str());
      return kExitUsage;
    }
    return InstallCommand(install_options);
  }
  return kExitUsage;
}
