#include "ui/operation.h"

namespace quillet::ui {

OperationGuard::OperationGuard(bool& running, gui::Gui& gui) : running_(running), taken_(!running) {
  if (taken_)
    running_ = true;
  else
    gui.Confirm(kAnotherOperation, gui::Buttons::kOk);
}

OperationGuard::~OperationGuard() {
  if (taken_) running_ = false;
}

}  // namespace quillet::ui
