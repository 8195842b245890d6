// One PGP operation at a time: encryption, decryption and key mailing share the temporary files
// in the PGP directory, and a second one could start while the first waits for PGP.
#pragma once

#include "platform/gui.h"

namespace quillet::ui {

inline constexpr char kAnotherOperation[] = "Another PGP operation is still running.";

class OperationGuard {
 public:
  // Takes the program's one operation, or tells the user that another one is running.
  OperationGuard(bool& running, gui::Gui& gui);
  ~OperationGuard();
  OperationGuard(const OperationGuard&) = delete;
  OperationGuard& operator=(const OperationGuard&) = delete;

  // True when this operation may run.
  explicit operator bool() const { return taken_; }

 private:
  bool& running_;
  bool taken_;
};

}  // namespace quillet::ui
