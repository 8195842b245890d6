#include "pgp26/console.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <optional>

#include "pgp26/process.h"

namespace pgp26 {

namespace {

// Turns terminal echo off for its lifetime, and back on when the run is interrupted at the
// prompt; does nothing when standard input is no terminal.
class EchoOff {
 public:
  EchoOff() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    restore_.emplace([this] { tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_); });
    active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (!active_) return;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    std::fputs("\n", stderr);  // the Enter that ended the answer was not echoed
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
  std::optional<OnInterrupt> restore_;
};

std::optional<std::string> ReadLine() {
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> AskLine(const std::string& prompt) {
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  return ReadLine();
}

std::optional<std::string> AskSecret(const std::string& prompt) {
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  const EchoOff echo_off;
  return ReadLine();
}

bool AskYesNo(const std::string& prompt) {
  const std::optional<std::string> answer = AskLine(prompt);
  const std::size_t start = answer ? answer->find_first_not_of(" \t") : std::string::npos;
  return start != std::string::npos && ((*answer)[start] == 'y' || (*answer)[start] == 'Y');
}

void Notice(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace pgp26
