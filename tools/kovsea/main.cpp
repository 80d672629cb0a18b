// kovsea: builds, lists, verifies and safely extracts KOV self-extracting archives.
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "encoding.h"
#include "host_files.h"
#include "pack.h"

#ifndef KOVSEA_VERSION
#define KOVSEA_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: kovsea <command> [options]\n"
    "\n"
    "Commands:\n"
    "  pack     build a self-extractor from a directory tree\n"
    "  list     show the trailer, the entries and the side files of a self-extractor\n"
    "  verify   check that a file is a well-formed self-extractor\n"
    "  extract  extract a self-extractor's files without running anything\n"
    "\n"
    "Run 'kovsea <command> --help' for a command's options; 'kovsea --version' for the version.\n";

const char kPackHelp[] =
    "usage: kovsea pack [--stub STUB] -o OUT.exe DIR [--admin FILE] [--client FILE]\n"
    "                   [--net FILE] [--setup-ini FILE] [--codepage CP]\n"
    "\n"
    "Writes STUB, then every directory and file below DIR as archive entries (names relative\n"
    "to DIR, sorted, each directory before its contents), then the side files and the trailer.\n"
    "The installer the stub starts is DIR/Disk1/Setup.exe.\n"
    "\n"
    "  --stub STUB      the stub program (default: the stub installed with kovsea)\n"
    "  -o, --output OUT the file to write; nothing is left there if packing fails\n"
    "  --admin FILE     side file written as Disk1\\KOVadmin.dat\n"
    "  --client FILE    side file written as Disk1\\KOVclient.dat\n"
    "  --net FILE       side file written as Disk1\\KOVnet.dat\n"
    "  --setup-ini FILE side file written as Disk1\\setup.ini\n"
    "  --codepage CP    Windows code page for entry names (default 1252)\n";

const char kListHelp[] =
    "usage: kovsea list [--json] [--codepage CP] FILE\n"
    "\n"
    "Shows the trailer, one line per entry (type, size, name) and the side-file slots.\n";

const char kVerifyHelp[] =
    "usage: kovsea verify [--codepage CP] FILE\n"
    "\n"
    "Exits 0 only when FILE is a well-formed self-extractor; prints each problem with the\n"
    "byte offset it concerns.\n";

const char kExtractHelp[] =
    "usage: kovsea extract [--force] [--codepage CP] FILE -o DIR\n"
    "\n"
    "Extracts the entries into DIR and the side files into DIR/Disk1, as the stub would,\n"
    "without running anything. Refuses names that would leave DIR. DIR must be empty unless\n"
    "--force is given. On any error everything extracted so far is removed again.\n";

int UsageError(const std::string& message, const char* help) {
  fprintf(stderr, "kovsea: error: %s\n\n%s", message.c_str(), help);
  return kExitUsage;
}

struct Args {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;  // name, value ("" for flags)
  bool help = false;
};

// Parses `--name value`, `--name=value`, `-o value` and flags; false on an unknown option.
bool ParseArgs(int argc, char** argv, const std::vector<std::string>& with_value,
               const std::vector<std::string>& flags, Args* args, std::string* error) {
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      args->help = true;
      continue;
    }
    if (a == "--" ) {
      for (++i; i < argc; ++i) args->positional.push_back(argv[i]);
      break;
    }
    if (a.size() > 1 && a[0] == '-') {
      std::string name = a;
      std::string value;
      bool inline_value = false;
      const size_t eq = a.find('=');
      if (eq != std::string::npos && a.compare(0, 2, "--") == 0) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        inline_value = true;
      }
      if (name == "-o") name = "--output";
      bool takes_value = false;
      for (const auto& w : with_value) takes_value = takes_value || w == name;
      bool is_flag = false;
      for (const auto& f : flags) is_flag = is_flag || f == name;
      if (!takes_value && !is_flag) {
        *error = "unknown option " + a;
        return false;
      }
      if (takes_value && !inline_value) {
        if (i + 1 >= argc) {
          *error = name + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      args->options.emplace_back(name, value);
      continue;
    }
    args->positional.push_back(a);
  }
  return true;
}

std::string Option(const Args& args, const std::string& name) {
  std::string value;
  for (const auto& o : args.options) {
    if (o.first == name) value = o.second;
  }
  return value;
}

bool HasOption(const Args& args, const std::string& name) {
  for (const auto& o : args.options) {
    if (o.first == name) return true;
  }
  return false;
}

// The stub that ships with the tool: beside it, in ../share/kovsea, or, during development,
// in the Windows build of this source tree.
fs::path DefaultStub(const char* argv0) {
  std::error_code error;
  fs::path self = fs::canonical(fs::path(argv0), error);
#ifndef _WIN32
  if (error) self = fs::read_symlink("/proc/self/exe", error);
#endif
  std::vector<fs::path> candidates;
  if (!self.empty()) {
    candidates.push_back(self.parent_path() / "kovsea-stub.exe");
    candidates.push_back(self.parent_path() / ".." / "share" / "kovsea" / "kovsea-stub.exe");
  }
#ifdef KOVSEA_DEVELOPMENT_STUB
  candidates.push_back(KOVSEA_DEVELOPMENT_STUB);
#endif
  for (const auto& c : candidates) {
    if (fs::is_regular_file(c, error)) return c;
  }
  return fs::path();
}

bool ResolveCodepage(const Args& args, std::string* codepage, std::string* error) {
  const std::string given = HasOption(args, "--codepage") ? Option(args, "--codepage") : "1252";
  *codepage = CodepageName(given);
  std::string probe;
  if (codepage->empty() || !platform::host::ConvertEncoding(codepage->c_str(), "UTF-8", "A", &probe)) {
    *error = "unknown code page '" + given + "' (give a Windows code page number such as 1252)";
    return false;
  }
  if (!platform::host::SetCodepage(codepage->c_str())) {
    *error = "code page '" + given + "' does not keep the ASCII characters as they are (an EBCDIC "
             "code page?); names in a self-extractor need one that does, such as 1252";
    return false;
  }
  return true;
}

int RunPack(int argc, char** argv) {
  Args args;
  std::string error;
  if (!ParseArgs(argc, argv,
                 {"--stub", "--output", "--admin", "--client", "--net", "--setup-ini", "--codepage"},
                 {}, &args, &error)) {
    return UsageError(error, kPackHelp);
  }
  if (args.help) {
    fputs(kPackHelp, stdout);
    return 0;
  }
  if (args.positional.size() != 1) return UsageError("pack takes one input directory", kPackHelp);
  if (Option(args, "--output").empty()) return UsageError("pack needs -o OUT.exe", kPackHelp);
  PackOptions options;
  if (!ResolveCodepage(args, &options.codepage, &error)) return UsageError(error, kPackHelp);
  options.input_dir = args.positional[0];
  options.output = Option(args, "--output");
  options.stub = HasOption(args, "--stub") ? fs::path(Option(args, "--stub")) : DefaultStub(argv[0]);
  if (options.stub.empty()) {
    fprintf(stderr, "kovsea: error: no stub found beside kovsea; give one with --stub\n");
    return 1;
  }
  const char* slots[4] = {"--admin", "--client", "--net", "--setup-ini"};
  for (int i = 0; i < 4; ++i) {
    if (HasOption(args, slots[i])) options.side_files[i] = Option(args, slots[i]);
  }
  std::error_code ec;
  if (!fs::exists(options.input_dir / "Disk1" / "Setup.exe", ec)) {
    fprintf(stderr, "kovsea: warning: %s has no Disk1/Setup.exe; the stub will find no installer to start\n",
            options.input_dir.string().c_str());
  }
  const int result = Pack(options, &error);
  if (result != 0) fprintf(stderr, "kovsea: error: %s\n", error.c_str());
  return result;
}

int RunReader(int argc, char** argv, const std::string& command) {
  Args args;
  std::string error;
  const char* help = command == "list" ? kListHelp : command == "verify" ? kVerifyHelp : kExtractHelp;
  std::vector<std::string> with_value = {"--codepage"};
  std::vector<std::string> flags;
  if (command == "list") flags.push_back("--json");
  if (command == "extract") {
    with_value.push_back("--output");
    flags.push_back("--force");
  }
  if (!ParseArgs(argc, argv, with_value, flags, &args, &error)) return UsageError(error, help);
  if (args.help) {
    fputs(help, stdout);
    return 0;
  }
  if (args.positional.size() != 1) return UsageError(command + " takes one file", help);
  std::string codepage;
  if (!ResolveCodepage(args, &codepage, &error)) return UsageError(error, help);
  const fs::path file = args.positional[0];
  if (command == "list") return ListCommand(file, HasOption(args, "--json"), codepage);
  if (command == "verify") return VerifyCommand(file, codepage);
  if (Option(args, "--output").empty()) return UsageError("extract needs -o DIR", help);
  return ExtractCommand(file, Option(args, "--output"), HasOption(args, "--force"), codepage);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs(kUsage, stderr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    printf("kovsea %s\n", KOVSEA_VERSION);
    return 0;
  }
  if (command == "pack") return RunPack(argc, argv);
  if (command == "list" || command == "verify" || command == "extract") {
    return RunReader(argc, argv, command);
  }
  fprintf(stderr, "kovsea: error: unknown command '%s'\n\n%s", command.c_str(), kUsage);
  return kExitUsage;
}
