#include "pgp26/process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>
#include <string>
#include <thread>

#include "pgp26/failure.h"

namespace pgp26 {

namespace {

std::mutex& CleanupMutex() {
  static std::mutex mutex;
  return mutex;
}

std::list<std::function<void()>>& Cleanups() {
  static std::list<std::function<void()>> cleanups;
  return cleanups;
}

// The signal handler may only write; the clean-ups run on the watcher thread that reads.
int interrupt_pipe[2] = {-1, -1};

void NoteInterrupt(int signal_number) {
  const char byte = static_cast<char>(signal_number);
  [[maybe_unused]] const ssize_t written = write(interrupt_pipe[1], &byte, 1);
}

void WatchForInterrupts() {
  char byte = 0;
  while (read(interrupt_pipe[0], &byte, 1) < 0 && errno == EINTR) {
  }
  // Held until the process ends, so that the main thread cannot dismantle what a clean-up uses.
  CleanupMutex().lock();
  for (auto it = Cleanups().rbegin(); it != Cleanups().rend(); ++it) (*it)();
  // The interrupt may have come in the middle of a prompt's line.
  const std::string notice = byte == SIGINT ? "\nStopped at user request.\n"
                                            : "\nStopped by signal " + std::to_string(byte) + ".\n";
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, notice.data(), notice.size());
  _exit(kInterrupted);
}

}  // namespace

void ProtectProcess() {
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  std::signal(SIGXFSZ, SIG_IGN);

  if (pipe2(interrupt_pipe, O_CLOEXEC) != 0) return;
  std::thread(WatchForInterrupts).detach();
  struct sigaction action {};
  action.sa_handler = NoteInterrupt;
  action.sa_flags = SA_RESTART;  // a console read in progress simply goes on
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal_number, &action, nullptr);
}

OnInterrupt::OnInterrupt(std::function<void()> cleanup) {
  const std::lock_guard lock(CleanupMutex());
  entry_ = Cleanups().insert(Cleanups().end(), std::move(cleanup));
}

OnInterrupt::~OnInterrupt() {
  const std::lock_guard lock(CleanupMutex());
  Cleanups().erase(entry_);
}

}  // namespace pgp26
