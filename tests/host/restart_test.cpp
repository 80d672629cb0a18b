#include "restart.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace {

const std::string kProduct = "SOFTWARE\\ORVANE\\KOV";
const std::string kRun = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN";
const std::string kRunOnce = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE";
const char kRunValue[] = "Run KOV SEA Installer on Reboot";

class RestartProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::world().registry[kRun];
    fake::world().registry[kRunOnce];
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
    const bool reset = SetRebootRequest(0);
    ASSERT_TRUE(reset);
    InstallerAnswers(raw_bytes);
    RestartStep(reset);
  }
};

TEST_F(RestartProtocol, HandOffResetStoresAFourByteZero) {
  InstallerAnswers(Dword(2));
  EXPECT_TRUE(SetRebootRequest(0));
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
      {std::string("\x01\x00", 2), 0},                // shorter than 4 bytes: no request
      {std::string("\x01\0\0\0\0\0\0\0", 8), 0},     // longer than 4 bytes: no request
  };
  for (const Case& c : cases) {
    SetUp();
    RunWithAnswer(c.raw);
    EXPECT_EQ(fake::world().restart_requests, c.restarts) << "answer of " << c.raw.size() << " bytes";
  }
}

TEST_F(RestartProtocol, OnlyAFourByteDwordIsARequest) {
  // Values of another type with the bytes of a request: none restarts, none deletes the key.
  for (const std::string& raw : {Dword(1), Dword(3), std::string("\x03", 1), std::string("\x01", 1)}) {
    SetUp();
    ASSERT_TRUE(SetRebootRequest(0));
    fake::world().registry[kProduct]["Reboot"] = fake::RegistryValue{fake::RegistryValue::kBinary, raw};
    RestartStep(true);
    EXPECT_EQ(fake::world().restart_requests, 0) << raw.size() << " binary bytes";
    EXPECT_EQ(fake::world().registry.count(kProduct), 1u) << "the product key stays";
    EXPECT_EQ(GetRebootRequest(), 0u);
  }
}

TEST_F(RestartProtocol, MissingKeyValueOrAccessMeansNoRestart) {
  ASSERT_TRUE(SetRebootRequest(0));
  fake::world().registry[kProduct].erase("Reboot");
  RestartStep(true);
  EXPECT_EQ(fake::world().restart_requests, 0);

  fake::world().registry.erase(kProduct);
  RestartStep(true);
  EXPECT_EQ(fake::world().restart_requests, 0);

  fake::world().registry_denied = true;
  EXPECT_FALSE(SetRebootRequest(0));
  EXPECT_EQ(GetRebootRequest(), 0u);
  RestartStep(true);
  EXPECT_EQ(fake::world().restart_requests, 0);
}

TEST_F(RestartProtocol, RequestTwoRegistersTheQuotedOwnPathToRunOnceThenRestarts) {
  fake::world().own_path = "C:\\Users\\admin\\Downloads\\product sea.exe";
  RunWithAnswer(Dword(2));
  const auto& value = fake::world().registry[kRunOnce][kRunValue];
  EXPECT_EQ(value.type, fake::RegistryValue::kString);
  EXPECT_EQ(value.bytes, "\"" + fake::world().own_path + "\"" + std::string(1, '\0'));
  EXPECT_EQ(fake::world().registry[kRun].count(kRunValue), 0u) << "Run skips elevated programs";
  EXPECT_EQ(fake::world().restart_requests, 1);
  EXPECT_LT(fake::EventIndex("set Run KOV SEA"), fake::EventIndex("restart"));
  // The request stays until the next run's hand-off.
  EXPECT_EQ(GetRebootRequest(), 2u);
}

TEST_F(RestartProtocol, NextRunRemovesTheValueFromRunAndRunOnceWhateverItsOwnAnswer) {
  // One left by an older build in Run, one by a run started by hand since the request.
  for (const std::string& key : {kRun, kRunOnce}) {
    fake::world().registry[key][kRunValue] =
        fake::RegistryValue{fake::RegistryValue::kString, std::string("C:\\x.exe\0", 9)};
  }
  RunWithAnswer(Dword(0));
  EXPECT_EQ(fake::world().registry[kRun].count(kRunValue), 0u);
  EXPECT_EQ(fake::world().registry[kRunOnce].count(kRunValue), 0u);
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
  ASSERT_TRUE(SetRebootRequest(0));
  InstallerAnswers(Dword(3));
  fake::world().registry.erase("SOFTWARE\\ORVANE");
  RestartStep(true);
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
    fake::world().registry[kRunOnce][kRunValue] =
        fake::RegistryValue{fake::RegistryValue::kString, std::string("C:\\x.exe\0", 9)};
    RestartStep(false);
    EXPECT_EQ(fake::world().restart_requests, 0) << leftover;
    EXPECT_EQ(fake::world().registry[kRunOnce].count(kRunValue), 0u);
    EXPECT_EQ(fake::world().registry.count(kProduct), 1u) << "the leftover is left alone";
  }
}

}  // namespace
