#include "ui/operation.h"

#include "ui/encryption.h"

namespace quillet::ui {

OperationGuard::OperationGuard(OperationLock& lock, gui::Gui& gui, const std::string& pgp_path)
    : lock_(lock), taken_(lock.TryTake()) {
  if (!taken_) {
    gui.Confirm(kAnotherOperation, gui::Buttons::kOk);
    return;
  }
  RemoveLeftovers(pgp_path);
}

OperationGuard::~OperationGuard() {
  if (taken_) lock_.Give();
}

}  // namespace quillet::ui
