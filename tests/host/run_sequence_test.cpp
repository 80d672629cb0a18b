#include "run_sequence.h"

#include <gtest/gtest.h>

#include "messages.h"
#include "resource_ids.h"
#include "fake_platform.h"
#include "restart.h"
#include "stream_builder.h"

namespace {

class RunSequence : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::world().registry["SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN"];
  }
  static std::string Dword(uint32_t v) { return std::string(reinterpret_cast<char*>(&v), 4); }
};

TEST_F(RunSequence, RestartStepFollowsTheDialogAndTheExitCodeIsAlwaysOne) {
  std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ");
  fake::PutFile(fake::world().own_path,
                std::string(64, 'M') + stream +
                    test::Trailer(64, static_cast<uint32_t>(stream.size()), 2, {{}, {}, {}, {}}));
  fake::world().on_program_run = [](const std::string&) {
    fake::world().registry["SOFTWARE\\ORVANE\\KOV"]["Reboot"] =
        fake::RegistryValue{fake::RegistryValue::kDword, Dword(1)};
  };
  EXPECT_EQ(RunStub(reinterpret_cast<platform::Window>(0x4D)), 1);
  EXPECT_EQ(fake::world().restart_requests, 1);
  EXPECT_LT(fake::EventIndex("dialog end"), fake::EventIndex("delete value Run KOV SEA"));
}

TEST_F(RunSequence, FailedRunStillReachesTheRestartStepAndExitsWithOne) {
  fake::world().registry["SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN"]
                        ["Run KOV SEA Installer on Reboot"] =
      fake::RegistryValue{fake::RegistryValue::kString, std::string("x\0", 2)};
  fake::PutFile(fake::world().own_path, "not an archive at all, just some bytes ........................");
  EXPECT_EQ(RunStub(nullptr), 1);
  ASSERT_EQ(fake::world().boxes.size(), 1u);
  EXPECT_EQ(fake::world().boxes[0].text, MessageText(IDS_ERR_NOT_SEA));
  EXPECT_TRUE(fake::HasEvent("delete value Run KOV SEA Installer on Reboot"));
  EXPECT_EQ(fake::world().restart_requests, 0);
}

TEST_F(RunSequence, RunExtractionPassesTheWorkersResultOrOutOfMemory) {
  fake::PutFile(fake::world().own_path, "short");
  RunOutcome outcome = {false};
  EXPECT_EQ(RunExtraction(nullptr, &outcome), -11987);
  fake::world().allocations_left = 0;
  fake::world().boxes.clear();
  EXPECT_EQ(RunExtraction(nullptr, &outcome), -11999);
  EXPECT_TRUE(fake::world().boxes.empty()) << "the worker never ran";
}

TEST_F(RunSequence, AProductKeyThatCannotBeWrittenNeverLetsALeftoverRestart) {
  // The user may read the product key but not write it: the hand-off cannot reset the
  // leftover request 2, so it is not this run's answer.
  std::string stream = test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ");
  fake::PutFile(fake::world().own_path,
                std::string(64, 'M') + stream +
                    test::Trailer(64, static_cast<uint32_t>(stream.size()), 2, {{}, {}, {}, {}}));
  fake::world().registry["SOFTWARE\\ORVANE\\KOV"]["Reboot"] =
      fake::RegistryValue{fake::RegistryValue::kDword, Dword(2)};
  fake::world().read_only_keys = {"SOFTWARE\\ORVANE\\KOV"};
  EXPECT_EQ(RunStub(nullptr), 1);
  EXPECT_EQ(fake::world().started_programs.size(), 1u);
  EXPECT_EQ(fake::world().restart_requests, 0);
  for (const char* key : {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN",
                          "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE"}) {
    EXPECT_EQ(fake::world().registry[key].count("Run KOV SEA Installer on Reboot"), 0u) << key;
  }
}

}  // namespace
