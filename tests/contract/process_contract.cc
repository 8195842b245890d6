// The process port: programs started from one command line, their exit codes, waiting for them
// while the user interface stays alive, and files handed to the shell.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/gui.h"
#include "platform/process.h"
#include "tests/contract/contract_platform.h"
#include "tests/contract/run_to_end.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using contract::RunToEnd;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ProcessContract : public ::testing::Test {
 protected:
  ProcessContract() {
    fs::create_directories(dir_);
    // Nothing left over from earlier tests may end a wait.
    gui_.ProcessMessages();
  }
  ~ProcessContract() override {
    // A program still waiting, in a test that failed, ends with it.
    OpenGate();
    // A command interpreter the shell started keeps its directory until it has ended.
    std::error_code error;
    for (int tries = 0; tries < 100; ++tries) {
      if (fs::remove_all(dir_, error) != static_cast<std::uintmax_t>(-1) && !error) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  // Lets a program started with contract::ExitWhenExists end.
  void OpenGate() { std::ofstream(gate_) << "open"; }

  Processes& processes_ = Processes::Default();
  gui::Gui& gui_ = gui::Gui::Default();
  const fs::path dir_ =
      fs::temp_directory_path() / ("quillet-contract-" + contract::ScratchKey() + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  const std::string gate_ = (dir_ / "gate").string();
};

TEST_F(ProcessContract, TheExitCodeIsTheProgramsOwn) {
  EXPECT_EQ(RunToEnd(contract::ExitWith(0)), 0);
  EXPECT_EQ(RunToEnd(contract::ExitWith(3)), 3);
  EXPECT_EQ(RunToEnd(contract::ExitWith(42)), 42);
}

TEST_F(ProcessContract, AMissingProgramIsAMissingFile) {
  std::unique_ptr<Process> process;
  EXPECT_EQ(processes_.Start("quillet_no_such_program_7f3a", gui::kShowNormal, {}, &process), 2);
  EXPECT_EQ(process, nullptr);
  EXPECT_EQ(processes_.Start("quillet_no_such_program_7f3a -kg file", gui::kShowNormal, {}, &process),
            2);
  EXPECT_EQ(process, nullptr);
}

TEST_F(ProcessContract, WaitingEndsWhenTheProgramEnds) {
  std::unique_ptr<Process> process;
  ASSERT_EQ(processes_.Start(contract::ExitWhenExists(7, gate_), gui::kShowMinNoActive, {}, &process),
            0);
  ASSERT_NE(process, nullptr);
  std::int32_t exit_code = -1;
  EXPECT_FALSE(process->Exited(&exit_code));
  OpenGate();
  // With no input waiting, only the end of the program ends the wait.
  processes_.WaitForExitOrInput(*process);
  EXPECT_TRUE(process->Exited(&exit_code));
  EXPECT_EQ(exit_code, 7);
}

TEST_F(ProcessContract, WaitingEndsWhenTheUserInterfaceHasInput) {
  std::unique_ptr<Process> process;
  ASSERT_EQ(processes_.Start(contract::ExitWhenExists(5, gate_), gui::kShowMinNoActive, {}, &process),
            0);
  ASSERT_NE(process, nullptr);
  bool handled = false;
  gui_.Post([&handled] { handled = true; });
  processes_.WaitForExitOrInput(*process);
  std::int32_t exit_code = -1;
  // The gate is shut: the program cannot have ended.
  EXPECT_FALSE(process->Exited(&exit_code));
  EXPECT_FALSE(handled);
  gui_.ProcessMessages();
  EXPECT_TRUE(handled);

  OpenGate();
  EXPECT_EQ(contract::WaitToEnd(*process), 5);
}

// What a program started with `addition` finds in its environment, one entry per line.
std::multiset<std::string> EnvironmentSeen(const EnvironmentAddition& addition,
                                           const fs::path& file) {
  std::unique_ptr<Process> process;
  EXPECT_EQ(Processes::Default().Start(contract::WritingEnvironment(file.string()),
                                       gui::kShowMinNoActive, addition, &process),
            0);
  if (!process || contract::WaitToEnd(*process) != 0) return {};
  std::multiset<std::string> entries;
  std::ifstream in(file, std::ios::binary);
  for (std::string line; std::getline(in, line);) entries.insert(line);
  return entries;
}

// Variables added for one start reach that program over this process's own, and no other.
TEST_F(ProcessContract, AnEnvironmentAdditionReachesOnlyTheProgramStartedWithIt) {
  const fs::path file = dir_ / "environment.txt";
  const std::multiset<std::string> plain = EnvironmentSeen({}, file);
  // A variable of this process that the command interpreter does not set itself.
  std::string inherited;
  for (const std::string& entry : plain) {
    const std::string name = entry.substr(0, entry.find('='));
    if (!name.empty() && name != "PWD" && name != "OLDPWD" && name != "SHLVL" && name != "_") {
      inherited = name;
      break;
    }
  }
  ASSERT_FALSE(inherited.empty()) << "the test program saw no environment";

  const std::string record = (dir_ / "PGP dir" / "temppgp.sig").string();
  std::multiset<std::string> expected;
  for (const std::string& entry : plain)
    if (!entry.starts_with(inherited + "=")) expected.insert(entry);
  expected.insert("QUILLET_CONTRACT_RECORD=" + record);
  expected.insert(inherited + "=replaced for one start");
  EXPECT_EQ(EnvironmentSeen({{"QUILLET_CONTRACT_RECORD", record},
                             {inherited, "replaced for one start"}},
                            file),
            expected);
  EXPECT_EQ(EnvironmentSeen({}, file), plain);
}

// A batch file runs in the directory given, with the parameters given, line by line.
TEST_F(ProcessContract, TheShellRunsABatchFileInItsDirectory) {
  const fs::path batch = dir_ / "write.bat";
  std::ofstream(batch, std::ios::binary) << contract::BatchWriting("result.txt");
  processes_.ShellOpen(batch.string(), "shell opened", dir_.string(), gui::kShowMinNoActive);

  // The shell does not say when the batch file has ended; its last line does.
  std::string text;
  for (int tries = 0; tries < 600; ++tries) {
    text = ReadFile(dir_ / "result.txt");
    if (text.ends_with("done\r\n") || text.ends_with("done\n")) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::erase(text, '\r');
  EXPECT_EQ(text, "shell opened\ndone\n");
}

}  // namespace
}  // namespace quillet
