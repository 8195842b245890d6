// Port: starting programs (CreateProcessA), waiting for them while the user interface stays
// alive (MsgWaitForMultipleObjects), and handing a file to the shell (ShellExecuteA).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillet {

// Variables one started program gets on top of this process's environment, replacing any of the
// same name (names compare as the system compares them). This process's own environment stays
// as it is.
using EnvironmentAddition = std::vector<std::pair<std::string, std::string>>;

// A started program; destroying the object closes its handles without stopping the program.
class Process {
 public:
  virtual ~Process() = default;
  // True once the program has ended, with its exit code. A program that ends with the code 259
  // has ended all the same.
  virtual bool Exited(std::int32_t* exit_code) = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;
  static Processes& Default();

  // Starts a command line as one string: its first argument names the program, and it is split
  // into arguments by the Windows C runtime's rules on every platform. The program's first window
  // gets `show_mode`, and its environment is this process's with `environment` added. Returns 0,
  // or the system's error code for the failed start (2 for a missing file).
  virtual std::int32_t Start(const std::string& command_line, int show_mode,
                             const EnvironmentAddition& environment,
                             std::unique_ptr<Process>* process) = 0;
  // Blocks until the program has ended or a user-interface event is waiting, without using the
  // processor meanwhile.
  virtual void WaitForExitOrInput(Process& process) = 0;
  // Opens a file with its type's default action, in `directory`, without waiting. The result is
  // not reported.
  virtual void ShellOpen(const std::string& file, const std::string& parameters,
                         const std::string& directory, int show_mode) = 0;
};

}  // namespace quillet
