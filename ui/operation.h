// One PGP operation at a time: encryption, decryption and key mailing share the temporary files
// in the PGP directory, and a second one could start while the first waits for PGP. An operation
// starts by removing the plain text that a run killed before its end may have left there.
#pragma once

#include <string>

#include "platform/gui.h"
#include "ui/app.h"

namespace quillet::ui {

inline constexpr char kAnotherOperation[] = "Another PGP operation is still running.";

class OperationGuard {
 public:
  // Takes the program's one operation and clears `pgp_path` of leftovers, or tells the user that
  // another operation is running.
  OperationGuard(OperationLock& lock, gui::Gui& gui, const std::string& pgp_path);
  ~OperationGuard();
  OperationGuard(const OperationGuard&) = delete;
  OperationGuard& operator=(const OperationGuard&) = delete;

  // True when this operation may run.
  explicit operator bool() const { return taken_; }

 private:
  OperationLock& lock_;
  bool taken_;
};

}  // namespace quillet::ui
