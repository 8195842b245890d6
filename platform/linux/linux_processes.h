// Programs on Linux: started with posix_spawn, watched through a pidfd, and waited for in one
// poll together with the user interface's input descriptor. Where the system gives no pidfd, the
// poll wakes on a short tick to look whether the program has ended.
#pragma once

#include <vector>

#include "platform/process.h"

namespace quillet::linux_platform {

// Opens a descriptor that is readable once the program `pid` has ended, or returns -1 with errno
// set when the system cannot (a kernel without pidfd_open, no descriptors left).
using PidfdOpener = int (*)(int pid);
int OpenPidfd(int pid);

class LinuxProcesses : public Processes {
 public:
  // `input_fd` is readable while the user interface has input waiting. Tests stand in for
  // `open_pidfd` to make programs be watched without a pidfd.
  explicit LinuxProcesses(int input_fd, PidfdOpener open_pidfd = OpenPidfd)
      : input_fd_(input_fd), open_pidfd_(open_pidfd) {}

  std::int32_t Start(const std::string& command_line, int show_mode,
                     const EnvironmentAddition& environment,
                     std::unique_ptr<Process>* process) override;
  void WaitForExitOrInput(Process& process) override;
  void ShellOpen(const std::string& file, const std::string& parameters,
                 const std::string& directory, int show_mode) override;

  // Waits until every program started through the shell has ended, as a user waits for a
  // console window to close before saying it has.
  void WaitForShellStarts();

 private:
  int input_fd_;
  PidfdOpener open_pidfd_;
  std::vector<int> shell_starts_;
};

}  // namespace quillet::linux_platform
