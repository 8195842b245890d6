// What only POSIX systems have, tried as the other tests are: core dumps and the file-size
// limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "pgp26/tests/test_home.h"

namespace pgp26_test {
namespace {

namespace fs = std::filesystem;

// pgp in `home`, started by the shell after `prelude`.
RunResult PgpAfter(const TestHome& home, const std::string& prelude,
                   const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/bin/sh", "-c", prelude + "; exec \"$0\" \"$@\"",
                                   PgpProgram().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, "", {"PGPPATH=" + home.path().string()});
}

// The soft and hard limits of the process's core file size, as "0 0".
std::string CoreLimits(long pid) {
  std::istringstream limits(ReadFile("/proc/" + std::to_string(pid) + "/limits"));
  std::string line;
  while (std::getline(limits, line) && !line.starts_with("Max core file size")) {
  }
  std::istringstream sizes(line.substr(std::string("Max core file size").size()));
  std::string soft, hard;
  sizes >> soft >> hard;
  return soft + " " + hard;
}

// The process holds pass phrases, so it leaves no core dump.
TEST(Process, LeavesNoCoreDump) {
  const TestHome home;
  const std::unique_ptr<Child> pgp = home.StartPgp({"+force", LetterToBob(home, "letter")});
  ASSERT_TRUE(pgp->AwaitError("Enter pass phrase:"));
  EXPECT_EQ(CoreLimits(pgp->pid()), "0 0");
}

TEST(OutputFiles, AFileSizeLimitIsAnErrorAndLeavesNothing) {
  const TestHome home;
  const LongReport report(home);
  const RunResult limited =
      PgpAfter(home, "ulimit -f 1000", {"+force", "-z", "bob pass", report.plain});
  EXPECT_EQ(limited.exit_code, 1) << limited.err;
  EXPECT_EQ(report.Beside(), std::vector<std::string>{});
}

}  // namespace
}  // namespace pgp26_test
