// What the shared port tests need to know about the platform they run on, in the few places
// where the ports' users name things of the system: helper programs, batch files and registry
// keys. contract_platform_linux.cc and contract_platform_win32.cc implement it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillet::contract {

// A registry key of this test run's own, not in use: the tests make their keys under it.
std::string ScratchKey();

// The command line of a program that ends at once with `code` (0 to 255).
std::string ExitWith(std::int32_t code);

// The command line of a program that ends with `code` (0 to 255) once the file `gate` exists.
// Without it, the program ends with another code after a minute or so, so that a test that
// waits for the program wrongly still comes to an end.
std::string ExitWhenExists(std::int32_t code, const std::string& gate);

// The command line of a program that writes its environment to the file `file`, one "NAME=value"
// entry per line, and ends with 0.
std::string WritingEnvironment(const std::string& file);

// "Zoë Ďurová, 5 €, 漢" in this system's narrow strings; nothing when the test cannot know them.
std::optional<std::string> NarrowSample();

// The text of a batch file that writes its first two parameters as one line to the file named
// `file` in the current directory, then appends the line "done". Its lines end with CR LF, as
// batch files do.
std::string BatchWriting(const std::string& file);

// Lets every user of the machine read and write in `folder` and what is made there.
void LetOthersIn(const std::string& folder);

// True when the file at `path` admits this test's user alone: mode 0600 and owned by the user,
// or on Windows an access list that allows the user (and the system itself) and no one else.
bool AdmitsUserAlone(const std::string& path);

}  // namespace quillet::contract
