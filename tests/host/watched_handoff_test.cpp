// The hand-off on behalf of a deployment system (kovsea install) and its restart step: the
// installer's arguments, the reports of each step, the time running out, and a restart
// request that is read but never acted on.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "fake_platform.h"
#include "handoff.h"
#include "restart.h"

namespace {

constexpr char kRoot[] = "C:\\Temp\\KOV1a2b3\\";
constexpr char kDisk[] = "C:\\Temp\\KOV1a2b3\\Disk1\\";

// What the hooks saw, one line per report, and when the time is to run out.
struct Seen {
  std::vector<std::string> reports;
  int waits_allowed = 1000;  // the wait after these many ends with the time run out
  int pauses_allowed = 1000;
};

void Report(void* context, HandOffStep step, const char* text, uint32_t number, bool ok) {
  static const char* const kNames[] = {"reset",   "side file", "started",   "window",
                                       "no window", "deleted", "gone already", "scheduled",
                                       "not deleted"};
  std::string line = kNames[static_cast<int>(step)];
  if (text != nullptr) line += std::string(" ") + text;
  if (number != 0) line += " " + std::to_string(number);
  if (!ok) line += " (failed)";
  static_cast<Seen*>(context)->reports.push_back(line);
}

bool Wait(void* context, platform::Process* process) {
  platform::WaitForProcess(process);
  return --static_cast<Seen*>(context)->waits_allowed >= 0;
}

void Ended(void* context, platform::Process*) { static_cast<Seen*>(context)->reports.push_back("ended"); }

bool Pause(void* context, uint32_t milliseconds) {
  platform::Pause(milliseconds);
  return --static_cast<Seen*>(context)->pauses_allowed >= 0;
}

class WatchedHandOff : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    memset(&state, 0, sizeof state);
    memset(&trailer, 0, sizeof trailer);
    strcpy(state.extraction_root, kRoot);
    state.trailer = &trailer;
    trailer.admin = {4, 5};
    for (const std::string& path : {std::string(kRoot), std::string(kRoot) + "Disk1", std::string(kDisk) + "Setup.exe"}) {
      const bool directory = path.find(".exe") == std::string::npos;
      if (directory) {
        fake::PutDirectory(path);
      } else {
        fake::PutFile(path, "MZ");
      }
      PushCleanup(&state.cleanup_list, path.c_str(), directory ? CleanupKind::kDirectory : CleanupKind::kFile);
    }
    fake::PutFile("C:\\Downloads\\sea.exe", "....ADMIN....");
    state.archive_file = platform::OpenForReading("C:\\Downloads\\sea.exe");
  }

  HandOffOutcome Run(const char* arguments) {
    const HandOffWatch watch = {arguments, &seen, Report, Wait, Ended, Pause, nullptr};
    return HandOffToInstaller(state.archive_file, &state, watch);
  }

  ExtractionState state;
  ArchiveTrailer trailer;
  Seen seen;
};

TEST_F(WatchedHandOff, ReportsEveryStepAndStartsSetupWithTheArgumentsAfterItsQuotedPath) {
  fake::world().windows["InstallShield_Win"] = {4242};
  const HandOffOutcome outcome = Run("/s \"two words\"");
  EXPECT_TRUE(outcome.request_reset);
  EXPECT_EQ(outcome.end, HandOffEnd::kCompleted);
  const std::string command_line = std::string("\"") + kDisk + "Setup.exe\" /s \"two words\"";
  EXPECT_EQ(fake::world().started_command_lines, std::vector<std::string>{command_line});
  EXPECT_EQ(seen.reports,
            (std::vector<std::string>{"reset", "side file KOVadmin.dat 5", "started " + command_line, "ended",
                                      "window InstallShield_Win 4242", "no window",
                                      std::string("deleted ") + kDisk + "KOVadmin.dat",
                                      std::string("deleted ") + kDisk + "Setup.exe",
                                      std::string("deleted ") + kRoot + "Disk1", std::string("deleted ") + kRoot}));
  EXPECT_TRUE(fake::world().boxes.empty());
  EXPECT_EQ(state.cleanup_list.head, nullptr);
}

TEST_F(WatchedHandOff, TimeRunningOutStopsTheWaitsAndLeavesEveryPathToTheNextStart) {
  struct Case {
    const char* name;
    int waits_allowed;
    int pauses_allowed;
    std::vector<uint32_t> unopenable;
    std::vector<uint32_t> waited;
  };
  const Case cases[] = {
      {"while Setup.exe runs", 0, 1000, {}, {1000}},
      {"while the engine runs", 1, 1000, {}, {1000, 4242}},
      {"while an unopenable engine's window stays", 1000, 1, {4242}, {1000, 4343}},
  };
  for (const Case& c : cases) {
    SetUp();
    seen = Seen();
    seen.waits_allowed = c.waits_allowed;
    seen.pauses_allowed = c.pauses_allowed;
    fake::world().windows["InstallShield_Win"] = {4242, 4242, 4242};
    fake::world().windows["isdelete"] = {4343};
    fake::world().unopenable_processes.insert(c.unopenable.begin(), c.unopenable.end());
    const HandOffOutcome outcome = Run("/s");
    EXPECT_EQ(outcome.end, HandOffEnd::kRanOut) << c.name;
    EXPECT_EQ(fake::world().waited_processes, c.waited) << c.name;
    EXPECT_TRUE(fake::Exists(std::string(kDisk) + "Setup.exe") && fake::Exists(kRoot)) << c.name << ": deleted under it";
    EXPECT_EQ(fake::world().deletions_at_restart,
              (std::vector<std::string>{std::string(kDisk) + "KOVadmin.dat", std::string(kDisk) + "Setup.exe",
                                        std::string(kRoot) + "Disk1", kRoot}))
        << c.name;
    EXPECT_EQ(std::count(seen.reports.begin(), seen.reports.end(), "no window"), 0) << c.name;
    EXPECT_EQ(std::count(seen.reports.begin(), seen.reports.end(), "ended"), c.waits_allowed > 0 ? 1 : 0) << c.name;
  }
}

// Where the run cannot reset the request (no full access), an answer found is not its own.
TEST(TakeRestartRequestTest, ReadsTheAnswerDeletesTheKeyForThreeAndNeverRestartsOrRegisters) {
  const std::string run = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN";
  const std::tuple<uint32_t, bool, uint32_t> cases[] = {{2, true, 2}, {3, true, 3}, {7, true, 7}, {1, false, 0}};
  for (const auto& [answer, reset, expected] : cases) {
    fake::Reset();
    fake::world().registry[run]["Run KOV SEA Installer on Reboot"] = {fake::RegistryValue::kString, "C:\\old.exe"};
    SetRebootRequest(answer);  // as the installer answers, its key made on the way
    EXPECT_EQ(TakeRestartRequest(reset), expected) << answer;
    EXPECT_EQ(fake::world().registry.count("SOFTWARE\\ORVANE\\KOV"), answer == 3 ? 0u : 1u) << answer;
    EXPECT_TRUE(fake::world().registry[run].empty() && fake::world().registry[run + "ONCE"].empty()) << answer;
    EXPECT_EQ(fake::world().restart_requests, 0) << answer;
  }
}

}  // namespace
