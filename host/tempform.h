// The resident window: the program's main window, shown while the program runs. Its closing,
// once the user confirms it, ends the program.
#pragma once

#include <memory>

#include "platform/gui.h"

namespace quillet::host {

class TForm2 {
 public:
  explicit TForm2(gui::Gui& gui);

  static gui::FormSpec Spec();

  void FormCreate();
  // Asks whether the user really wants to quit; false keeps the program running.
  bool FormCloseQuery();

  void Show() { window_->Show(); }
  void Hide() { window_->Hide(); }
  // Shown and made the foreground window before the program asks or refuses something.
  void ShowInForeground();
  gui::Window& window() { return *window_; }

 private:
  gui::Gui& gui_;
  std::unique_ptr<gui::Window> window_;
};

}  // namespace quillet::host
