// Programs on Linux: started with posix_spawn, watched through a pidfd, and waited for in one
// poll together with the user interface's input descriptor.
#pragma once

#include <vector>

#include "platform/process.h"

namespace quillet::linux_platform {

class LinuxProcesses : public Processes {
 public:
  // `input_fd` is readable while the user interface has input waiting.
  explicit LinuxProcesses(int input_fd) : input_fd_(input_fd) {}

  std::int32_t Start(const std::string& command_line, int show_mode,
                     std::unique_ptr<Process>* process) override;
  void WaitForExitOrInput(Process& process) override;
  void ShellOpen(const std::string& file, const std::string& parameters,
                 const std::string& directory, int show_mode) override;

  // Waits until every program started through the shell has ended, as a user waits for a
  // console window to close before saying it has.
  void WaitForShellStarts();

 private:
  int input_fd_;
  std::vector<int> shell_starts_;
};

}  // namespace quillet::linux_platform
