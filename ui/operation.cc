#include "ui/operation.h"

#include "ui/encryption.h"

namespace quillet::ui {

OperationGuard::OperationGuard(bool& running, gui::Gui& gui, const std::string& pgp_path)
    : running_(running), taken_(!running) {
  if (!taken_) {
    gui.Confirm(kAnotherOperation, gui::Buttons::kOk);
    return;
  }
  running_ = true;
  RemoveLeftovers(pgp_path);
}

OperationGuard::~OperationGuard() {
  if (taken_) running_ = false;
}

}  // namespace quillet::ui
