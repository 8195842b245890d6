#include "pgp26/console.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

#include "base/text.h"
#include "pgp26/process.h"
#include "pgp26/system.h"

namespace pgp26 {

namespace {

using quillet::WithoutCr;

// Turns the echo of the console off for its lifetime, and back on when the run is interrupted
// at the prompt; does nothing when standard input is no console.
class EchoOff {
 public:
  EchoOff() : restore_(system::TurnEchoOff()) {
    if (restore_) on_interrupt_.emplace(restore_);
  }
  ~EchoOff() {
    if (!restore_) return;
    restore_();
    std::fputs("\n", stderr);  // the Enter that ended the answer was not echoed
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  std::function<void()> restore_;
  std::optional<OnInterrupt> on_interrupt_;
};

std::optional<std::string> ReadLine() {
  std::optional<std::string> line = system::ReadLine();
  if (line) line = std::string(WithoutCr(*line));
  return line;
}

}  // namespace

std::optional<std::string> AskLine(const std::string& prompt) {
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  return ReadLine();
}

std::optional<std::string> AskSecret(const std::string& prompt) {
  // Off before the question shows, so that no answer is shown, however soon it is typed.
  const EchoOff echo_off;
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  return ReadLine();
}

bool AskYesNo(const std::string& prompt) {
  const std::optional<std::string> answer = AskLine(prompt);
  const std::size_t start = answer ? answer->find_first_not_of(" \t") : std::string::npos;
  return start != std::string::npos && ((*answer)[start] == 'y' || (*answer)[start] == 'Y');
}

namespace {

// Set once, while the arguments are read, before any question.
bool batch_mode = false;

}  // namespace

bool Interactive() {
  const char* notice = std::getenv("QUILLET_NOTICE");
  return !batch_mode && system::InputIsConsole() && !(notice && *notice);
}

void AskNoSideQuestions() {
  batch_mode = true;
}

void Notice(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

std::string Printable(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 0x20 || c == '\t') && byte != 0x7F) {
      shown += c;
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += escape;
    }
  }
  return shown;
}

}  // namespace pgp26
