// What only the Linux process port promises: waiting keeps its promises whether or not the system
// gives a pidfd to watch the program through. The ports' shared promises are tested in
// tests/contract/, built into the same program.
#include "platform/linux/linux_processes.h"

#include <errno.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "platform/gui.h"
#include "tests/contract/contract_platform.h"
#include "tests/test_platform.h"

namespace quillet::linux_platform {
namespace {

using namespace std::chrono_literals;

// The user interface's input, played by a timer: input is waiting once the timer has run out.
class TimedInput {
 public:
  TimedInput() : fd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "timerfd_create");
  }
  ~TimedInput() { close(fd_); }
  TimedInput(const TimedInput&) = delete;
  TimedInput& operator=(const TimedInput&) = delete;

  int fd() const { return fd_; }

  // Takes back any input waiting; new input arrives after `delay`.
  void ArriveAfter(std::chrono::nanoseconds delay) {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t taken = read(fd_, &expirations, sizeof expirations);
    itimerspec when{};
    when.it_value.tv_sec = std::chrono::duration_cast<std::chrono::seconds>(delay).count();
    when.it_value.tv_nsec = (delay % 1s).count();
    if (timerfd_settime(fd_, 0, &when, nullptr) != 0)
      throw std::system_error(errno, std::generic_category(), "timerfd_settime");
  }

  bool Waiting() const {
    pollfd input{fd_, POLLIN, 0};
    return poll(&input, 1, 0) == 1;
  }

 private:
  int fd_;
};

int SystemWithoutPidfd(int) {
  errno = ENOSYS;
  return -1;
}

// How the port watches the programs it starts.
struct Watching {
  const char* name;
  PidfdOpener open_pidfd;
};

void PrintTo(const Watching& watching, std::ostream* out) {
  *out << watching.name;
}

class LinuxProcessesWaiting : public ::testing::TestWithParam<Watching> {
 protected:
  // A wait that the program's end does not end is ended by input after this, far longer than
  // the programs here take, so that such a test fails rather than hangs.
  static constexpr std::chrono::nanoseconds kBound = 30s;

  // Lets a program started with contract::ExitWhenExists end.
  void OpenGate() { std::ofstream(gate_) << "open"; }

  quillet::testing::TempDir dir_;
  const std::string gate_ = (dir_.path() / "gate").string();
  TimedInput input_;
  LinuxProcesses processes_{input_.fd(), GetParam().open_pidfd};
};

// As the core waits: input while the program runs ends a wait and leaves the program running;
// the program's end ends the next wait, with the program's exit code.
TEST_P(LinuxProcessesWaiting, EndsOnInputAndWhenTheProgramEnds) {
  std::unique_ptr<Process> process;
  ASSERT_EQ(processes_.Start(contract::ExitWhenExists(5, gate_), gui::kShowMinNoActive, {}, &process),
            0);
  ASSERT_NE(process, nullptr);
  std::int32_t exit_code = -1;

  input_.ArriveAfter(1ns);
  processes_.WaitForExitOrInput(*process);
  // The gate is shut: only the input can have ended the wait.
  EXPECT_FALSE(process->Exited(&exit_code));

  input_.ArriveAfter(kBound);
  OpenGate();
  processes_.WaitForExitOrInput(*process);
  EXPECT_FALSE(input_.Waiting()) << "the wait went on after the program had ended";
  ASSERT_TRUE(process->Exited(&exit_code));
  EXPECT_EQ(exit_code, 5);
}

INSTANTIATE_TEST_SUITE_P(Watching, LinuxProcessesWaiting,
                         ::testing::Values(Watching{"ThroughAPidfd", OpenPidfd},
                                           Watching{"WithoutAPidfd", SystemWithoutPidfd}),
                         [](const ::testing::TestParamInfo<Watching>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace quillet::linux_platform
