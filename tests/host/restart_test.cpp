#include "handoff/restart.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace {

const std::string kProduct = "SOFTWARE\\ORVANE\\KOV";
const std::string kRun = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN";

class RestartProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    ForgetRebootRequestResetForTesting();
    fake::world().registry[kRun];
  }
  void TearDown() override { EXPECT_EQ(fake::world().open_keys, 0) << "a key was left open"; }

  // The installer's answer, written as it would write it.
  void InstallerAnswers(const std::string& raw_bytes) {
    fake::world().registry[kProduct]["Reboot"] =
        fake::RegistryValue{fake::RegistryValue::kDword, raw_bytes};
  }
  static std::string Dword(uint32_t v) { return std::string(reinterpret_cast<char*>(&v), 4); }

  // A run whose hand-off reset the request, then the installer answered.
  void RunWithAnswer(const std::string& raw_bytes) {
    ASSERT_EQ(SetRebootRequest(0), 1);
    InstallerAnswers(raw_bytes);
    RestartStep();
  }
};

TEST_F(RestartProtocol, HandOffResetStoresAFourByteZero) {
  InstallerAnswers(Dword(2));
  EXPECT_EQ(SetRebootRequest(0), 1);
  const auto& value = fake::world().registry[kProduct]["Reboot"];
  EXPECT_EQ(value.type, fake::RegistryValue::kDword);
  EXPECT_EQ(value.bytes, Dword(0));
  EXPECT_EQ(GetRebootRequest(), 0u);
}

TEST_F(RestartProtocol, OnlyRequestsOneTwoAndThreeRestart) {
  struct Case {
    std::string raw;
    int restarts;
  } cases[] = {
      {Dword(0), 0}, {Dword(1), 1}, {Dword(2), 1}, {Dword(3), 1}, {Dword(4), 0},
      {Dword(0xFFFFFFFFu), 0},
      {std::string("\x01\x00", 2), 1},                // 2 bytes fill the low bytes only
      {std::string("\x01\0\0\0\0\0\0\0", 8), 0},     // longer than 4 bytes: no request
  };
  for (const Case& c : cases) {
    SetUp();
    RunWithAnswer(c.raw);
    EXPECT_EQ(fake::world().restart_requests, c.restarts) << "answer of " << c.raw.size() << " bytes";
  }
}

TEST_F(RestartProtocol, MissingKeyValueOrAccessMeansNoRestart) {
  ASSERT_EQ(SetRebootRequest(0), 1);
  fake::world().registry[kProduct].erase("Reboot");
  RestartStep();
  EXPECT_EQ(fake::world().restart_requests, 0);

  fake::world().registry.erase(kProduct);
  RestartStep();
  EXPECT_EQ(fake::world().restart_requests, 0);

  fake::world().registry_denied = true;
  EXPECT_EQ(SetRebootRequest(0), 0);
  EXPECT_EQ(GetRebootRequest(), 0u);
  RestartStep();
  EXPECT_EQ(fake::world().restart_requests, 0);
}

TEST_F(RestartProtocol, RequestTwoRegistersExactlyTheOwnPathThenRestarts) {
  fake::world().own_path = "C:\\Users\\admin\\Downloads\\product sea.exe";
  RunWithAnswer(Dword(2));
  const auto& value = fake::world().registry[kRun]["Run KOV SEA Installer on Reboot"];
  EXPECT_EQ(value.type, fake::RegistryValue::kString);
  EXPECT_EQ(value.bytes, fake::world().own_path + std::string(1, '\0'));
  EXPECT_EQ(fake::world().restart_requests, 1);
  EXPECT_LT(fake::EventIndex("set Run KOV SEA"), fake::EventIndex("restart"));
  // The request stays until the next run's hand-off.
  EXPECT_EQ(GetRebootRequest(), 2u);
}

TEST_F(RestartProtocol, NextRunRemovesTheRunValueWhateverItsOwnAnswer) {
  fake::world().registry[kRun]["Run KOV SEA Installer on Reboot"] =
      fake::RegistryValue{fake::RegistryValue::kString, std::string("C:\\x.exe\0", 9)};
  RunWithAnswer(Dword(0));
  EXPECT_EQ(fake::world().registry[kRun].count("Run KOV SEA Installer on Reboot"), 0u);
  EXPECT_EQ(fake::world().restart_requests, 0);
}

TEST_F(RestartProtocol, RequestThreeDeletesTheProductKeyOnceAndRestartsEvenIfThatFails) {
  RunWithAnswer(Dword(3));
  EXPECT_EQ(fake::world().registry.count(kProduct), 0u);
  EXPECT_EQ(std::count(fake::world().events.begin(), fake::world().events.end(),
                       "delete key KOV"),
            1);
  EXPECT_EQ(fake::world().restart_requests, 1);

  // Without the parent key the deletion cannot even be asked for; the restart still is.
  SetUp();
  ASSERT_EQ(SetRebootRequest(0), 1);
  InstallerAnswers(Dword(3));
  fake::world().registry.erase("SOFTWARE\\ORVANE");
  RestartStep();
  EXPECT_FALSE(fake::HasEvent("delete key KOV"));
  EXPECT_EQ(fake::world().restart_requests, 1);
}

TEST_F(RestartProtocol, ShutdownPrivilegeOnlyOnTheNtFamily) {
  RunWithAnswer(Dword(1));
  EXPECT_EQ(fake::world().privileges_enabled, 1);
  EXPECT_LT(fake::EventIndex("privilege"), fake::EventIndex("restart"));

  for (uint32_t id : {0u, 1u, 3u}) {
    SetUp();
    fake::world().platform_id = id;
    RunWithAnswer(Dword(1));
    EXPECT_EQ(fake::world().privileges_enabled, 0) << id;
    EXPECT_EQ(fake::world().restart_requests, 1) << id;
  }
}

TEST_F(RestartProtocol, RunThatNeverReachedTheHandOffRestartsNothing) {
  // An older installer left a request; this run stopped before its hand-off.
  for (uint32_t leftover : {1u, 2u, 3u}) {
    SetUp();
    InstallerAnswers(Dword(leftover));
    fake::world().registry[kRun]["Run KOV SEA Installer on Reboot"] =
        fake::RegistryValue{fake::RegistryValue::kString, std::string("C:\\x.exe\0", 9)};
    RestartStep();
    EXPECT_EQ(fake::world().restart_requests, 0) << leftover;
    EXPECT_EQ(fake::world().registry[kRun].count("Run KOV SEA Installer on Reboot"), 0u);
    EXPECT_EQ(fake::world().registry.count(kProduct), 1u) << "the leftover is left alone";
  }
}

}  // namespace
