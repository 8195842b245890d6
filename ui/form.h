// A window of the user operations, owned by the program from its creation until it is released.
#pragma once

#include <functional>

#include "platform/gui.h"

namespace quillet::ui {

class Form {
 public:
  virtual ~Form() = default;
  virtual gui::Window& window() = 0;
};

// An event handler whose escaping errors go to the application's general error report.
inline std::function<void()> Reporting(gui::Gui& gui, std::function<void()> handler) {
  return [&gui, handler = std::move(handler)] { gui.RunHandler(handler); };
}

}  // namespace quillet::ui
