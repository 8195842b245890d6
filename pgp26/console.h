// Questions to the person at the console. Prompts go to standard error, so that listings on
// standard output stay clean; answers are read from standard input line by line, which is the
// terminal in normal use and a prepared text in scripts and tests.
#ifndef QUILLET_PGP26_CONSOLE_H_
#define QUILLET_PGP26_CONSOLE_H_

#include <optional>
#include <string>
#include <string_view>

namespace pgp26 {

// One answer line without its line end; nothing at the end of the input.
std::optional<std::string> AskLine(const std::string& prompt);

// Like AskLine, without echo when standard input is a terminal.
std::optional<std::string> AskSecret(const std::string& prompt);

// True only for an answer that starts with 'y' or 'Y'; no answer means no.
bool AskYesNo(const std::string& prompt);

// A notice for the person at the console (standard error), with a line end added.
void Notice(const std::string& text);

// `text` with every control character but TAB (bytes below 0x20, and 0x7F) written as "\x" and
// two upper-case hex digits. Whatever a message or a key brings along goes through it before it
// is shown, so that it stays on its own line and cannot pass for lines that pgp writes.
std::string Printable(std::string_view text);

}  // namespace pgp26

#endif  // QUILLET_PGP26_CONSOLE_H_
