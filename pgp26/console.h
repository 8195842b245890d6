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

// True when a person answers at the console: standard input is a console, the run is not in
// batch mode (+batchmode), and no program ran pgp for its own ends (one that names a file in
// QUILLET_NOTICE takes the outcome from there, and has asked its user what it needed). The
// questions that PGP 2.6 asked on the side, whose answer "no" leaves the run as it would be without
// them, are asked only then: no script and no calling program ever waits for them.
bool Interactive();

// Makes Interactive false for the rest of the run.
void AskNoSideQuestions();

// A notice for the person at the console (standard error), with a line end added.
void Notice(const std::string& text);

// `text` with every control character but TAB (bytes below 0x20, and 0x7F) written as "\x" and
// two upper-case hex digits. Whatever a message or a key brings along goes through it before it
// is shown, so that it stays on its own line and cannot pass for lines that pgp writes.
std::string Printable(std::string_view text);

}  // namespace pgp26

#endif  // QUILLET_PGP26_CONSOLE_H_
