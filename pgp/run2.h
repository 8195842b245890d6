// Starting a program and waiting for it while the user interface stays alive.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gui.h"
#include "platform/process.h"

namespace quillet::pgp {

// Runs the command line with `environment` added to this process's and returns the program's exit
// code, or the system's error code when it could not be started. While it runs, windows repaint
// and calls from the mail client are served.
std::int32_t RunAndWait(Processes& processes, gui::Gui& gui, const std::string& command_line,
                        int show_mode, const EnvironmentAddition& environment = {});

}  // namespace quillet::pgp
