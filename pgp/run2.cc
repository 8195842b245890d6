#include "pgp/run2.h"

#include <memory>

namespace quillet::pgp {

std::int32_t RunAndWait(Processes& processes, gui::Gui& gui, const std::string& command_line,
                        int show_mode, const EnvironmentAddition& environment) {
  std::unique_ptr<Process> process;
  if (const std::int32_t error = processes.Start(command_line, show_mode, environment, &process))
    return error;
  std::int32_t exit_code = 0;
  while (!process->Exited(&exit_code)) {
    processes.WaitForExitOrInput(*process);
    gui.ProcessMessages();
  }
  return exit_code;
}

}  // namespace quillet::pgp
