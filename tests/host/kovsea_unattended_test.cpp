// kovsea install's portable parts, which the Linux build compiles too: what the exit codes
// say, the log file it refuses, the notes it gives, and the result line every run ends with.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "install_checks.h"
#include "install_result.h"
#include "run_log.h"

namespace fs = std::filesystem;

namespace {

TEST(InstallResult, SetupsOwn1460IsNotTheTimeout) {
  const std::string own = ResultLine(kInstallRanOut, true);
  const std::string timeout = ResultLine(kInstallRanOut, false);
  EXPECT_NE(own, timeout);
  EXPECT_NE(own.find("Setup.exe's own exit code 1460"), std::string::npos) << own;
  EXPECT_EQ(own.find("still runs"), std::string::npos) << own;
  EXPECT_NE(timeout.find("--timeout"), std::string::npos) << timeout;
  EXPECT_EQ(ResultLine(kInstallRestartRequired, false), "exit code 3010: success, restart required");
}

class InstallLog : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/kovsea-install-XXXXXX";
    dir = mkdtemp(name);
    std::ofstream(dir / "product.exe") << "MZ";
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(InstallLog, LogNamingTheSelfExtractorUnderAnyNameIsRefused) {
  fs::create_directories(dir / "sub");
  fs::create_hard_link(dir / "product.exe", dir / "linked.exe");
  const struct {
    fs::path log;
    const char* says;  // empty when the log is fine
  } cases[] = {
      {dir / "product.exe", "the self-extractor itself"},
      {dir / "sub" / ".." / "product.exe", "the self-extractor itself"},
      {dir / "linked.exe", "the self-extractor itself"},
      {dir / "sub", "a directory"},
      {dir / "install.log", ""},
      {fs::path(), ""},
  };
  for (const auto& c : cases) {
    const std::string problem = LogFileProblem(c.log, dir / "product.exe");
    if (*c.says == '\0') {
      EXPECT_EQ(problem, "") << c.log;
    } else {
      EXPECT_NE(problem.find(c.says), std::string::npos) << c.log << ": " << problem;
    }
  }
}

TEST(InstallNotes, WithoutSwitchesTheInstallerMayWaitForAUser) {
  const std::vector<std::string> none = InstallNotes({});
  ASSERT_EQ(none.size(), 1u);
  EXPECT_NE(none[0].find("may wait for a user"), std::string::npos) << none[0];
  EXPECT_TRUE(InstallNotes({"/S"}).empty());
}

TEST_F(InstallLog, ResultLineReachesStderrWithoutVerbose) {
  RunLog log;
  ASSERT_TRUE(log.Open((dir / "install.log").string(), false));
  testing::internal::CaptureStderr();
  log.Line("a step");
  log.Line("exit code 0: success", true);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("a step"), std::string::npos) << err;
  EXPECT_NE(err.find("exit code 0: success\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("exit code 0"), err.rfind("exit code 0")) << "written once: " << err;
}

}  // namespace
