// What the pgp process does for its own safety: it leaves no core dump or other memory image (it
// holds pass phrases and plain text), a file-size limit ends a write with an error rather than
// killing the process, and an interrupt (Ctrl-C, a closed console, a termination request) runs
// the registered clean-ups before the process exits with kInterrupted, as PGP 2.6 did.
#ifndef QUILLET_PGP26_PROCESS_H_
#define QUILLET_PGP26_PROCESS_H_

#include <functional>
#include <list>

namespace pgp26 {

// Called once, first thing in main.
void ProtectProcess();

// Registers `cleanup` for its lifetime. On an interrupt the registered clean-ups run, newest
// first, on a thread of their own while the main thread may be anywhere; each must therefore
// touch only what it owns and be safe to run twice.
class OnInterrupt {
 public:
  explicit OnInterrupt(std::function<void()> cleanup);
  ~OnInterrupt();
  OnInterrupt(const OnInterrupt&) = delete;
  OnInterrupt& operator=(const OnInterrupt&) = delete;

 private:
  std::list<std::function<void()>>::iterator entry_;
};

}  // namespace pgp26

#endif  // QUILLET_PGP26_PROCESS_H_
