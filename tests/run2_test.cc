// Starting programs and waiting for them with the user interface kept alive.
#include "pgp/run2.h"

#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/test_platform.h"

namespace quillet::pgp {
namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class RunAndWaitTest : public ::testing::Test {
 protected:
  std::int32_t Run(const std::string& line) { return RunAndWait(tp_.processes, tp_.gui, line, 5); }
  testing::TestPlatform tp_;
};

TEST_F(RunAndWaitTest, ExitCodesAndFailedStarts) {
  EXPECT_EQ(Run("/bin/sh -c \"exit 3\""), 3);
  EXPECT_EQ(Run("/bin/sh -c \"exit 0\""), 0);
  EXPECT_EQ(Run("/no/such/program -kg"), 2);
  EXPECT_EQ(Run("no-such-program-on-the-path"), 2);
  EXPECT_EQ(Run(""), 2);
}

TEST_F(RunAndWaitTest, ArgumentsArriveSplitByTheRuntimeRules) {
  const std::string out = (tp_.dir.path() / "args").string();
  Run("/bin/sh -c \"printf '%s|' \\\"$@\\\" > " + out + "\" sh \"two words\" x\\\"y \"\"");
  std::ifstream in(out);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "two words|x\"y||");
}

TEST_F(RunAndWaitTest, WaitingDoesNotSpinAndServesTheUserInterface) {
  const std::string marker = (tp_.dir.path() / "done").string();
  bool handled_while_running = false;
  tp_.gui.QueueStep([&] { handled_while_running = !std::filesystem::exists(marker); },
                    /*while_busy=*/true);
  const double cpu_before = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run("/bin/sh -c \"sleep 2; touch " + marker + "\""), 0);
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(elapsed, 1.9);
  EXPECT_LT(CpuSeconds() - cpu_before, 0.5);  // a spinning wait would use the whole two seconds
  EXPECT_TRUE(handled_while_running);
}

TEST(ShellOpen, ABatchFileRunsWithTheShellInItsDirectoryWithoutWaiting) {
  testing::TempDir dir;
  const std::string bat = (dir.path() / "list.bat").string();
  std::ofstream(bat, std::ios::binary)
      << "echo first > out.txt\r\nsleep 1\r\necho second >> out.txt\r\n";
  linux_platform::HeadlessGui gui;
  linux_platform::LinuxProcesses processes(gui.input_fd());
  auto text = [&dir] {
    std::ifstream in(dir.path() / "out.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  processes.ShellOpen(bat, "", dir.path().string() + "/", 5);
  EXPECT_EQ(text().find("second"), std::string::npos);  // returned while the batch runs
  processes.WaitForShellStarts();
  EXPECT_EQ(text(), "first\nsecond\n");
}

}  // namespace
}  // namespace quillet::pgp
