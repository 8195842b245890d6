// Questions to the person at the console. Prompts go to standard error, so that listings on
// standard output stay clean; answers are read from standard input line by line, which is the
// terminal in normal use and a prepared text in scripts and tests.
#ifndef QUILLET_PGP26_CONSOLE_H_
#define QUILLET_PGP26_CONSOLE_H_

#include <optional>
#include <string>

namespace pgp26 {

// One answer line without its line end; nothing at the end of the input.
std::optional<std::string> AskLine(const std::string& prompt);

// Like AskLine, without echo when standard input is a terminal.
std::optional<std::string> AskSecret(const std::string& prompt);

// True only for an answer that starts with 'y' or 'Y'; no answer means no.
bool AskYesNo(const std::string& prompt);

// A notice for the person at the console (standard error), with a line end added.
void Notice(const std::string& text);

}  // namespace pgp26

#endif  // QUILLET_PGP26_CONSOLE_H_
