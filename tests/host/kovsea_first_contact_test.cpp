// The packer as a newcomer meets it: usage errors that say what to type instead, messages
// that say what is wrong in plain words, side files that would replace an entry at the
// user's site, and an extraction stopped by a signal.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "kovsea_fixture.h"

extern char** environ;

namespace {

using test::Kovsea;
using test::Result;
using test::WriteAll;

TEST_F(Kovsea, UsageErrorsSayWhatToTypeInstead) {
  const fs::path tree = MakeTree();
  WriteAll(dir / "ordinary.exe", "MZ" + test::Pattern(4000));
  const struct {
    std::string args;
    int code;
    std::string says;
    std::string never;  // what the message must not hold, if anything
  } cases[] = {
      {"lst x.exe", 2, "kovsea: error: unknown command 'lst': did you mean 'list'?", "Subcommands:"},
      {"extact x.exe -o out", 2, "did you mean 'extract'?", "Subcommands:"},
      {"install x.exe -S", 2, "the installer's own switches go after --", ""},
      {"install x.exe /S", 2, "install takes the installer's switches only after --", "takes Windows"},
      {"check " + Q(dir / "nonexist"), 1, "nonexist: does not exist", "not a directory"},
      {"check " + Q(tree / "Disk1" / "Setup.exe"), 1, "Setup.exe: not a directory", "does not exist"},
      {"check " + Q(dir / "nonexist"), 1, "nonexist: 1 problem\n", "1 problems"},
      {"list " + Q(dir / "ordinary.exe"), 1, "not a KOV self-extractor: it does not end in a KOVSEA trailer",
       "trailer magic"},
      {"verify " + Q(tree / "Disk1" / "Setup.exe"), 1, "not a KOV self-extractor: too short to hold a trailer", ""},
  };
  for (const auto& c : cases) {
    Result r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args;
    const std::string all = r.out + r.err;
    EXPECT_NE(all.find(c.says), std::string::npos) << c.args << ":\n" << all;
    if (!c.never.empty()) {
      EXPECT_EQ(all.find(c.never), std::string::npos) << c.args << ":\n" << all;
    }
  }
}

// At the user's site the stub writes each side file into Disk1 after the entries: an entry of
// that name, in any case, would be replaced by it without a word.
TEST_F(Kovsea, CheckAndPackRefuseAnEntryThatASideFileReplaces) {
  const struct {
    const char* option;
    const char* entry;  // in Disk1, as the vendor's tree spells it
  } cases[] = {
      {"--setup-ini", "SETUP.INI"},
      {"--admin", "kovadmin.dat"},
      {"--client", "KOVclient.DAT"},
      {"--net", "KOVnet.dat"},
  };
  WriteAll(dir / "side", "side file");
  for (const auto& c : cases) {
    fs::remove_all(dir / "tree");
    const fs::path tree = MakeTree();
    fs::remove(tree / "Disk1" / "SETUP.INI");
    WriteAll(tree / "Disk1" / c.entry, "vendor's");
    const std::string side = std::string(" ") + c.option + " " + Q(dir / "side") + " ";
    for (const std::string& command : {"check" + side, "pack --stub " + Q(stub) + " -o " + Q(dir / "out.exe") + side}) {
      Result r = Run(command + Q(tree));
      EXPECT_EQ(r.code, 1) << command;
      const std::string says = std::string(c.entry) + ": would be replaced at the user's site by the side file " +
                               c.option + " writes as Disk1\\";
      EXPECT_NE((r.out + r.err).find(says), std::string::npos) << command << ":\n" << r.out << r.err;
      EXPECT_NE((r.out + r.err).find(std::string("leave out ") + c.option), std::string::npos) << r.out << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "out.exe")) << c.option;
  }
}

// Starts `kovsea ARGS...`, its output in the work directory.
pid_t Start(const fs::path& dir, const std::vector<std::string>& args) {
  std::vector<std::string> words = {KOVSEA_BINARY};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits until `ready` holds, then sends `signal_number`; the exit status of the process.
int SignalWhen(pid_t pid, const std::function<bool()>& ready, int signal_number) {
  int status = 0;
  for (;;) {
    if (ready()) break;
    if (waitpid(pid, &status, WNOHANG) == pid) return status;  // ended before it was ready
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(pid, signal_number);
  waitpid(pid, &status, 0);
  return status;
}

bool HoldsTemporaryFile(const fs::path& root) {
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() > 11 && name.compare(name.size() - 11, 11, ".kovsea-new") == 0) return true;
  }
  return false;
}

TEST_F(Kovsea, ExtractStoppedBySigintOrSigtermRemovesWhatItWrote) {
  // Large enough (1,000 files of 64 KiB) that the run is caught halfway.
  std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ");
  for (int i = 0; i < 1000; ++i) {
    char name[32];
    snprintf(name, sizeof name, "Disk1\\f%04d.cab", i);
    stream += test::FileEntry(name, test::Pattern(64 << 10, static_cast<uint32_t>(i)));
  }
  const fs::path sea = WriteSea("big.exe", stream, {{}, {}, {}, {}}, "", 1002);
  const std::string quoted = Q(sea);

  // Into a new directory: interrupted once its first file is there, it leaves no directory.
  const fs::path fresh = dir / "fresh";
  const int interrupted = SignalWhen(
      Start(dir, {"extract", sea.string(), "-o", fresh.string()}),
      [&] { return fs::exists(fresh / "Disk1" / "f0000.cab"); }, SIGINT);
  ASSERT_TRUE(WIFSIGNALED(interrupted) && WTERMSIG(interrupted) == SIGINT)
      << "status " << interrupted << ": " << test::ReadAll(dir / "stderr");
  EXPECT_NE(test::ReadAll(dir / "stderr").find("interrupted (signal 2)"), std::string::npos);
  EXPECT_FALSE(fs::exists(fresh));

  // Into the user's directory with --force: terminated while new files stand beside the user's,
  // it leaves every file as it was and no temporary file.
  const fs::path mine = dir / "mine";
  ASSERT_EQ(Run("extract " + quoted + " -o " + Q(mine)).code, 0);
  WriteAll(mine / "Disk1" / "f0001.cab", "the user's own");
  WriteAll(mine / "notes.txt", "the user's notes");
  const auto before = Snapshot(mine);
  const int terminated = SignalWhen(
      Start(dir, {"extract", "--force", sea.string(), "-o", mine.string()}), [&] { return HoldsTemporaryFile(mine); },
      SIGTERM);
  ASSERT_TRUE(WIFSIGNALED(terminated) && WTERMSIG(terminated) == SIGTERM)
      << "status " << terminated << ": " << test::ReadAll(dir / "stderr");
  EXPECT_TRUE(Snapshot(mine) == before) << "the user's directory changed";

  // And a later run that completes leaves none either.
  ASSERT_EQ(Run("extract --force " + quoted + " -o " + Q(mine)).code, 0);
  EXPECT_FALSE(HoldsTemporaryFile(mine));
  EXPECT_EQ(test::ReadAll(mine / "Disk1" / "f0001.cab"), test::Pattern(64 << 10, 1));
}

}  // namespace
