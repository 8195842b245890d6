#include "pgp26/process.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "pgp26/failure.h"
#include "pgp26/system.h"

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

[[noreturn]] void StopAfterInterrupt(const std::string& notice) {
  // Held until the process ends, so that the main thread cannot dismantle what a clean-up uses.
  CleanupMutex().lock();
  for (auto it = Cleanups().rbegin(); it != Cleanups().rend(); ++it) (*it)();
  // The interrupt may have come in the middle of a prompt's line.
  std::fprintf(stderr, "\n%s\n", notice.c_str());
  std::fflush(stderr);
  std::_Exit(kInterrupted);
}

}  // namespace

void ProtectProcess() {
  system::KeepProcessPrivate();
  system::OnStopRequest(StopAfterInterrupt);
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
