// kovsea try's library on its own, without Wine: the tree Setup.exe found against the
// catalogue, the verdict's reasons and their order, the programs it asks for, the prefix
// copied whole from a template, the observer's channel and who writes into it, and the
// children it starts and ends.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "child_process.h"
#include "observer_channel.h"
#include "requirements.h"
#include "tree_snapshot.h"
#include "trial_report.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;
using namespace trial;

namespace {

const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";  // SHA-256 of "abc"

class ScratchDirectory {
 public:
  ScratchDirectory() {
    char name[] = "/tmp/kovsea-trial-test-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ScratchDirectory() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  void Write(const std::string& relative, const std::string& data) const {
    fs::create_directories((path_ / relative).parent_path());
    std::ofstream(path_ / relative, std::ios::binary) << data;
  }

 private:
  fs::path path_;
};

ExpectedTree Catalogue() {
  ExpectedTree e;
  e.known = true;
  e.entries = {{"Disk1", true, 0, ""},
               {"Disk1\\Setup.exe", false, 3, kAbc},
               {"Disk1\\data.cab", false, 3, kAbc},
               {"Disk1\\setup.ini", false, 3, kAbc}};
  e.side_files = {{"admin", "Disk1\\KOVadmin.dat", false, 0, ""}, {"setup", "Disk1\\setup.ini", true, 3, kAbc}};
  return e;
}

const TreeRow* Row(const TrialRun& run, const std::string& name) {
  for (const TreeRow& row : run.tree) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

TEST(CompareTree, EachDifferenceFromTheCatalogueIsNamed) {
  const std::string other = "0000000000000000000000000000000000000000000000000000000000000000";
  const struct {
    const char* what;
    std::vector<FoundEntry> found;
    const char* name;
    Listed listed;
  } cases[] = {
      {"as listed", {{"Disk1\\data.cab", false, 3, kAbc}}, "Disk1\\data.cab", Listed::kSame},
      {"other case", {{"DISK1\\DATA.CAB", false, 3, kAbc}}, "Disk1\\data.cab", Listed::kSame},
      {"other size", {{"Disk1\\data.cab", false, 4, kAbc}}, "Disk1\\data.cab", Listed::kDifferent},
      {"other bytes", {{"Disk1\\data.cab", false, 3, other}}, "Disk1\\data.cab", Listed::kDifferent},
      {"a directory", {{"Disk1\\data.cab", true, 0, ""}}, "Disk1\\data.cab", Listed::kDifferent},
      {"absent", {}, "Disk1\\data.cab", Listed::kMissing},
      {"extra", {{"Disk1\\stray.tmp", false, 3, kAbc}}, "Disk1\\stray.tmp", Listed::kNotListed},
  };
  for (const auto& c : cases) {
    TrialRun run;
    CompareTree(Catalogue(), c.found, &run);
    const TreeRow* row = Row(run, c.name);
    ASSERT_NE(row, nullptr) << c.what;
    EXPECT_EQ(row->listed, c.listed) << c.what;
    if (c.listed == Listed::kDifferent) {
      EXPECT_EQ(row->listed_size, 3u) << c.what;
    }
  }
}

TEST(CompareTree, ACarriedSideFileReplacesTheEntryOfItsNameAndAnAbsentOneIsNotReported) {
  TrialRun run;
  CompareTree(Catalogue(), {{"Disk1\\setup.ini", false, 3, kAbc}}, &run);
  EXPECT_EQ(Row(run, "Disk1\\setup.ini"), nullptr);
  ASSERT_EQ(run.side_files.size(), 1u);
  EXPECT_EQ(run.side_files[0].key, "setup");
  EXPECT_EQ(run.side_files[0].listed, Listed::kSame);

  TrialRun missing;
  CompareTree(Catalogue(), {{"Disk1\\KOVadmin.dat", false, 1, kAbc}}, &missing);
  ASSERT_EQ(missing.side_files.size(), 2u);
  EXPECT_EQ(missing.side_files[0].listed, Listed::kNotListed);  // admin: on disk, not carried
  EXPECT_EQ(missing.side_files[1].listed, Listed::kMissing);    // setup: carried, not on disk
}

TEST(ReadFoundTree, ListsSortedWindowsNamesWithDigests) {
  ScratchDirectory root;
  root.Write("Disk1/b.txt", "abc");
  root.Write("Disk1/a/c.txt", "");
  std::vector<FoundEntry> found;
  ASSERT_TRUE(ReadFoundTree(root.path(), &found));
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].name, "Disk1");
  EXPECT_EQ(found[1].name, "Disk1\\a");
  EXPECT_TRUE(found[1].is_directory);
  EXPECT_EQ(found[2].name, "Disk1\\a\\c.txt");
  EXPECT_EQ(found[3].name, "Disk1\\b.txt");
  EXPECT_EQ(found[3].size, 3u);
  EXPECT_EQ(found[3].sha256, kAbc);
  // What an installer plants is listed, never followed or waited on.
  fs::create_symlink("/etc/hostname", root.path() / "link");
  ASSERT_EQ(mkfifo((root.path() / "pipe").c_str(), 0600), 0);
  found.clear();
  ASSERT_TRUE(ReadFoundTree(root.path(), &found));
  for (const FoundEntry& e : found) {
    if (e.name == "link" || e.name == "pipe") {
      EXPECT_TRUE(e.sha256.empty()) << e.name;
    }
  }
  EXPECT_FALSE(ReadFoundTree(root.path() / "absent", &found));
}

TrialRun CleanRun() {
  TrialRun run;
  run.number = 1;
  run.setup_ms = 100;
  run.setup_exit_code = 0;
  run.stub_exit_code = 1;
  return run;
}

TEST(Verdict, NoReasonForACleanRunAndEachFaultGivesOne) {
  TrialReport report;
  report.runs.push_back(CleanRun());
  EXPECT_TRUE(Verdict(report).empty());

  TrialReport never;
  EXPECT_EQ(Verdict(never).at(0).what, "the self-extractor never ran");

  const struct {
    const char* what;
    void (*spoil)(TrialRun*);
    const char* reason;
  } cases[] = {
      {"no Setup.exe", [](TrialRun* r) { r->setup_ms.reset(); }, "Setup.exe never started"},
      {"a box", [](TrialRun* r) { r->boxes.push_back({}); }, "a message box appeared"},
      {"a tree row", [](TrialRun* r) { r->tree.push_back({"x", false, 1, "", Listed::kMissing, 1, ""}); },
       "1 entries Setup.exe found were not as `kovsea list` shows them"},
      {"a side file", [](TrialRun* r) { r->side_files.push_back({"setup", "Disk1\\setup.ini", true, 1, "", Listed::kDifferent}); },
       "1 entries Setup.exe found"},
      {"left", [](TrialRun* r) { r->left.push_back({"KOV1", true, 0, true}); },
       "1 entries were left under the temporary directory, first KOV1 (to be deleted at the next restart)"},
      {"a crash", [](TrialRun* r) { r->crashes.push_back("Setup.exe crashed"); }, "Setup.exe crashed"},
      {"not compared", [](TrialRun* r) { r->tree_problem = "the catalogue could not be read"; },
       "the tree Setup.exe found was not compared: the catalogue could not be read"},
      {"a failing exit code", [](TrialRun* r) { r->setup_exit_code = 1603; }, "Setup.exe exited with 1603"},
      {"no exit code", [](TrialRun* r) { r->setup_exit_code.reset(); }, "Setup.exe's exit code is unknown"},
      {"the stub killed", [](TrialRun* r) { r->stub_exit_code.reset(); }, "the stub did not end by itself"},
      {"a process outlived", [](TrialRun* r) { r->outlived.push_back({"Linux program /bin/sh", "sh -c x", {}}); },
       "1 process outlived the stub, first Linux program /bin/sh sh -c x"},
  };
  for (const auto& c : cases) {
    TrialReport spoiled;
    spoiled.runs.push_back(CleanRun());
    c.spoil(&spoiled.runs[0]);
    const Problems reasons = Verdict(spoiled);
    ASSERT_EQ(reasons.size(), 1u) << c.what;
    EXPECT_EQ(reasons[0].what.rfind(c.reason, 0), 0u) << c.what << ": " << reasons[0].what;
  }
}

TEST(Verdict, TheDeclaredSuccessCodesAndARecordWrittenByAnotherProcess) {
  TrialReport report;
  report.started = true;
  report.record_whole = true;
  report.runs.push_back(CleanRun());
  report.runs[0].setup_exit_code = 3010;
  EXPECT_EQ(Verdict(report).size(), 1u);
  report.success_exit_codes = {0, 3010};
  EXPECT_TRUE(Verdict(report).empty());
  report.foreign_writes.push_back({"pid 7 Setup.exe", "0\tend"});
  EXPECT_EQ(Verdict(report).at(0).what, "another process wrote into the observer's record: pid 7 Setup.exe");
  report.foreign_writes.clear();
  report.record_whole = false;
  EXPECT_EQ(Verdict(report).at(0).what, "the observer's record ended before the observer did");
}

TEST(Verdict, TheTimeoutComesFirstAndABoxBeforeWhatItExplains) {
  TrialReport report;
  report.file = "product.exe";
  report.timed_out = true;
  report.timeout_s = 5;
  report.running_at_timeout.push_back({"Setup.exe (pid 8)", "", {"#32770 \"Question\""}});
  TrialRun run;
  run.number = 1;
  MessageBox box;
  box.from_stub = true;
  box.caption = "KOV Error";
  box.text = "This is not a valid KOV SEA file!";
  run.boxes.push_back(box);
  report.runs.push_back(run);
  const Problems reasons = Verdict(report);
  ASSERT_EQ(reasons.size(), 4u);
  EXPECT_EQ(reasons[0].what, "timed out after 5 s; still running: Setup.exe (pid 8) with window #32770 \"Question\"");
  EXPECT_EQ(reasons[1].what, "the stub showed an error box: \"KOV Error\": This is not a valid KOV SEA file!");
  EXPECT_EQ(reasons[2].what, "Setup.exe never started");
  EXPECT_EQ(reasons[3].what, "the stub did not end by itself");
  EXPECT_EQ(reasons[1].where, "product.exe");
}

TEST(Verdict, WhatLeftAFileBehindIsTheFix) {
  TrialReport report;
  report.runs.push_back(CleanRun());
  report.runs[0].left.push_back({"KOV1\\Disk1\\data.cab", false, 3, false});
  report.runs[0].still_running.push_back({"Setup.exe (pid 9)", "Setup.exe --hold", {}});
  EXPECT_EQ(Verdict(report).at(0).fix, "still running when the stub ended: Setup.exe (pid 9) Setup.exe --hold");
}

class EmptyPath : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = getenv("PATH");
    setenv("PATH", dir_.path().c_str(), 1);
  }
  void TearDown() override { setenv("PATH", saved_.c_str(), 1); }
  void Provide(const std::string& program) {
    dir_.Write(program, "#!/bin/sh\n");
    chmod((dir_.path() / program).c_str(), 0755);
  }
  ScratchDirectory dir_;
  std::string saved_;
};

TEST_F(EmptyPath, MissingProgramsNameTheirPackagesOnce) {
  const Problems wine_only = MissingPrograms(false, false);
  ASSERT_EQ(wine_only.size(), 1u);
  EXPECT_NE(wine_only[0].what.find("wine (Debian package wine wine32:i386)"), std::string::npos);
  EXPECT_EQ(wine_only[0].what.find("Xvfb"), std::string::npos);
  EXPECT_EQ(wine_only[0].fix,
            "install them with `sudo apt install wine wine32:i386` (after `sudo dpkg --add-architecture i386`)");
  const Problems all = MissingPrograms(true, true);
  EXPECT_NE(all[0].fix.find("`sudo apt install wine wine32:i386 xvfb openbox imagemagick`"), std::string::npos);
  for (const char* program : {"wine", "wineserver", "wineboot", "Xvfb", "openbox"}) Provide(program);
  EXPECT_TRUE(MissingPrograms(true, false).empty());
  EXPECT_EQ(MissingPrograms(true, true).at(0).fix, "install them with `sudo apt install imagemagick`");
}

// A template as wineboot leaves it: system files, the registry, a drive link.
void FakeTemplate(const ScratchDirectory& t) {
  t.Write("system.reg", "WINE REGISTRY");
  t.Write("drive_c/windows/system32/kernel32.dll", "MZ kernel32");
  t.Write("drive_c/users/root/Temp/.keep", "");
  fs::create_directories(t.path() / "dosdevices");
  fs::create_directory_symlink("../drive_c", t.path() / "dosdevices" / "c:");
  t.Write("wineserver", "lock");
}

TEST(WinePrefix, EveryFileIsCopiedSoThatWritingThePrefixLeavesTheTemplate) {
  ScratchDirectory t;
  FakeTemplate(t);
  ScratchDirectory sandbox;
  WinePrefix prefix;
  Problems problems;
  ASSERT_TRUE(prefix.CreateFrom(WineTemplate(t.path()), sandbox.path() / "prefix", &problems));
  const fs::path p = sandbox.path() / "prefix";
  for (const char* file : {"drive_c/windows/system32/kernel32.dll", "system.reg"}) {
    struct stat a, b;
    ASSERT_EQ(stat((p / file).c_str(), &a), 0);
    ASSERT_EQ(stat((t.path() / file).c_str(), &b), 0);
    EXPECT_NE(a.st_ino, b.st_ino) << file;
  }
  std::ofstream(p / "drive_c/windows/system32/kernel32.dll", std::ios::binary | std::ios::in) << "XX";
  std::ifstream original(t.path() / "drive_c/windows/system32/kernel32.dll", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(original), {}), "MZ kernel32");
  EXPECT_EQ(fs::read_symlink(p / "dosdevices" / "c:"), "../drive_c");
  EXPECT_FALSE(fs::exists(p / "wineserver"));
}

TEST(ChildProcess, OutputIsCapturedAndAChildPastItsTimeIsEnded) {
  std::string output;
  EXPECT_EQ(RunProgram({"sh", "-c", "echo $KOVSEA_TRIAL_TEST; exit 3"}, EnvironmentWith({"KOVSEA_TRIAL_TEST=seen"}),
                       10000, &output),
            3);
  EXPECT_EQ(output, "seen\n");
  // A child that would end by itself, with status 0, after 5 s is ended at 200 ms.
  EXPECT_EQ(RunProgram({"sh", "-c", "sleep 5"}, EnvironmentWith({}), 200), -1);
  EXPECT_EQ(RunProgram({"kovsea-no-such-program"}, EnvironmentWith({}), 1000), -1);
}

TEST(ChildProcess, EnvironmentWithReplacesAndRemoves) {
  setenv("KOVSEA_TRIAL_A", "old", 1);
  setenv("KOVSEA_TRIAL_B", "gone", 1);
  const Environment e = EnvironmentWith({"KOVSEA_TRIAL_A=new"}, {"KOVSEA_TRIAL_B"});
  int a = 0;
  for (const std::string& entry : e) {
    a += entry.rfind("KOVSEA_TRIAL_A=", 0) == 0;
    EXPECT_NE(entry.rfind("KOVSEA_TRIAL_B=", 0), 0u);
  }
  EXPECT_EQ(a, 1);
  EXPECT_NE(std::find(e.begin(), e.end(), "KOVSEA_TRIAL_A=new"), e.end());
}

}  // namespace

TEST(ObserverChannel, OnlyTheFirstWritersLinesAreReadAndAnotherWriterIsNamed) {
  ObserverChannel channel;
  int end = -1;
  ASSERT_TRUE(channel.Open(&end));
  const auto write_from_child = [end](const char* text) {
    const pid_t child = fork();
    if (child == 0) _exit(write(end, text, strlen(text)) > 0 ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
  };
  const pid_t observer = write_from_child("1\thello\n");
  const pid_t forger = write_from_child("2\tend\n");
  ASSERT_EQ(write(end, "3\tnot-the-observer\n", 19), 19);  // this process is not the observer either
  close(end);
  std::string line;
  ASSERT_TRUE(channel.ReadLine(&line, MonotonicMs() + 5000, nullptr));
  EXPECT_EQ(line, "1\thello");
  EXPECT_FALSE(channel.ReadLine(&line, MonotonicMs() + 5000, nullptr));
  EXPECT_EQ(channel.writer(), observer);
  ASSERT_EQ(channel.foreign_writes().size(), 2u);
  EXPECT_EQ(channel.foreign_writes()[0].pid, forger);
  EXPECT_EQ(channel.foreign_writes()[0].text, "2\tend\n");
  EXPECT_EQ(channel.foreign_writes()[1].pid, getpid());
}
