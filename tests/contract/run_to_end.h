// Runs a program to its end the way the core does: waiting for it, and handling the user
// interface's messages between waits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/gui.h"
#include "platform/process.h"

namespace quillet::contract {

// The exit code of a started program.
inline std::int32_t WaitToEnd(Process& process) {
  std::int32_t exit_code = 0;
  while (!process.Exited(&exit_code)) {
    Processes::Default().WaitForExitOrInput(process);
    gui::Gui::Default().ProcessMessages();
  }
  return exit_code;
}

// The program's exit code; a failed start is a test failure.
inline std::int32_t RunToEnd(const std::string& command_line,
                             int show_mode = gui::kShowMinNoActive) {
  std::unique_ptr<Process> process;
  EXPECT_EQ(Processes::Default().Start(command_line, show_mode, {}, &process), 0) << command_line;
  return process ? WaitToEnd(*process) : -1;
}

}  // namespace quillet::contract
