// What the windows of the user operations need from the program that runs them. host::Program
// provides it; ui/ sees nothing else of start-up, registration or the automation objects, so the
// windows can be built and tested on any program that offers these few things.
#pragma once

#include <utility>

#include "channel/gwapi.h"
#include "platform/platform.h"

namespace quillet::ui {

class Form;

// The program's one operation at a time: encryption, decryption and key mailing share the
// temporary files in the PGP directory (OperationGuard takes it).
class OperationLock {
 public:
  // False when the operation is already taken.
  bool TryTake() { return !std::exchange(taken_, true); }
  void Give() { taken_ = false; }
  bool taken() const { return taken_; }

 private:
  bool taken_ = false;
};

class App {
 public:
  virtual ~App() = default;
  virtual Platform& platform() = 0;
  gui::Gui& gui() { return platform().gui; }
  // The mail client's object API, shared by all windows.
  virtual channel::ObjectApi& object_api() = 0;
  virtual OperationLock& operation_lock() = 0;
  // Brings the program's resident window, if it has one, to the foreground, so that a dialog
  // shown next comes up in front of the mail client.
  virtual void ShowResidentWindow() = 0;
  // Destroys the window once control is back in the event loop.
  virtual void Release(Form& form) = 0;
};

}  // namespace quillet::ui
