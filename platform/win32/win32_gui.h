// The user interface on Windows: forms rendered as real windows and controls, the system's
// message boxes and open-file dialog, and the thread's message loop.
#pragma once

#include <windows.h>

#include <memory>

#include "platform/gui.h"

namespace quillet::win32 {

// The control made from FormSpec::controls[i] has the child-window ID kFirstControlId + i; the
// buttons of a radio group are children of its group box, item j with the ID kFirstControlId + j.
inline constexpr int kFirstControlId = 100;

// The class name of the top-level windows made from forms.
inline constexpr char kFormClassName[] = "QuilletForm";

// A user interface of its own on the calling thread, apart from Gui::Default(); Terminate is
// final for each.
std::unique_ptr<gui::Gui> NewGui();

// The window that `gui`, a user interface of this platform, has as its main window; none while it
// has none. The program names it as the owner when it hands a file to the shell.
HWND MainWindowOf(gui::Gui& gui);

// The system's window made from a form by a user interface of this platform.
HWND WindowHandle(gui::Window& window);

}  // namespace quillet::win32
