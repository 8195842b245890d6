// The access that the program asks for where an access list the installer sets must allow it:
// the installation's programs are read and run by everyone, and the run log is appended to by
// everyone but read by administrators alone. The installer's test program checks the lists
// against the same masks.
#pragma once

#include <windows.h>

namespace quillet::win32 {

// What System::AppendToLog asks for: append, and wait on the file handle.
inline constexpr DWORD kAppendAccess = FILE_APPEND_DATA | SYNCHRONIZE;

// What users may do with a program or a configuration file of the installation.
inline constexpr DWORD kReadAndExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

}  // namespace quillet::win32
