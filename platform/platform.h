// The ports the program runs on, handed to the core as one bundle so that tests can put their
// own implementations in place of the system's.
#pragma once

#include "platform/com.h"
#include "platform/gui.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace quillet {

struct Platform {
  ole::Com& com;
  Registry& registry;
  System& system;
  gui::Gui& gui;
  Processes& processes;

  // The implementations of the platform this program was built for.
  static Platform Default() {
    return {ole::Com::Default(), Registry::Default(), System::Default(), gui::Gui::Default(),
            Processes::Default()};
  }
};

}  // namespace quillet
