// kovsea install's plain parts on their own: the installer's arguments on a Windows command
// line, the exit codes a deployment system reads, and the log's timestamps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "install_result.h"
#include "run_log.h"

namespace {

// A command line split as the Windows C runtime splits it (and CommandLineToArgvW outside
// the program name): 2n backslashes before a quote give n and toggle quoting, 2n+1 give n and
// a literal quote, other backslashes stand for themselves; outside quotes blanks separate.
std::vector<std::string> SplitAsWindowsDoes(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) break;
    std::string argument;
    bool quoted = false;
    for (; i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')); ++i) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument += '"';
        } else {
          quoted = !quoted;
        }
      } else {
        argument.append(backslashes, '\\');
        if (i == line.size()) break;
        if (!quoted && (line[i] == ' ' || line[i] == '\t')) break;
        argument += line[i];
      }
    }
    out.push_back(argument);
  }
  return out;
}

TEST(CommandLine, EveryArgumentComesBackAsGiven) {
  const std::vector<std::string> arguments = {"/s", "/v/qn", "two words", "", "say \"hi\"", "\"", "\\", "back\\slash\\",
                                              "\\\\server\\share\\", "tail\\\"quote", "a\\\\\"b", "tab\there",
                                              "caf\xe9", "-x=\"1 2\""};
  const std::string line = JoinArguments(arguments);
  EXPECT_EQ(SplitAsWindowsDoes(line), arguments) << line;
  for (const std::string& argument : arguments) {
    EXPECT_EQ(SplitAsWindowsDoes(QuoteArgument(argument)), std::vector<std::string>{argument}) << argument;
  }
}

TEST(CommandLine, PlainArgumentsStayAsTheyAre) {
  EXPECT_EQ(JoinArguments({"/s", "/v/qn", "C:\\dir\\"}), "/s /v/qn C:\\dir\\");
  EXPECT_EQ(QuoteArgument(""), "\"\"");
  EXPECT_EQ(QuoteArgument("a b\\"), "\"a b\\\\\"") << "the backslash before the closing quote is doubled";
}

TEST(InstallExitCode, SetupsOwnCodeWinsThenTheRestartRequest) {
  struct Case {
    uint32_t setup, request, expected;
  };
  for (const Case c : {Case{0, 0, 0}, Case{0, 1, 3010}, Case{0, 2, 3010}, Case{0, 3, 3010}, Case{0, 4, 0},
                       Case{0, 0xFFFFFFFF, 0}, Case{1641, 0, 1641}, Case{3010, 0, 3010}, Case{1603, 1, 1603},
                       Case{1, 0, 1}}) {
    EXPECT_EQ(InstallExitCode(c.setup, c.request), c.expected) << c.setup << " " << c.request;
  }
}

TEST(RunLog, TimestampsAreUtcWithMilliseconds) {
  const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000123LL));
  EXPECT_EQ(Timestamp(at), "2023-11-14T22:13:20.123Z");
}

}  // namespace
