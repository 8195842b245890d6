// The helper program exit_with.exe (exit_with.cc), which lies next to the test program.
#pragma once

#include <string>

namespace quillet::contract {

// Its path, quoted for the start of a command line.
std::string ExitWithProgram();

}  // namespace quillet::contract
