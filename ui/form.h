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

}  // namespace quillet::ui
