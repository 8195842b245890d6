// The test user of the Windows test programs: finds windows and message boxes (of this process or
// another), reads them, and clicks, types and answers through window messages, always from a
// thread other than the one that owns the windows. Every wait is bounded.
#pragma once

#include <windows.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/gui.h"
#include "platform/win32/win32_gui.h"

namespace quillet::wintest {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Polls until `condition` holds, for at most `seconds`.
inline bool WaitFor(const std::function<bool()>& condition, double seconds = 5) {
  const Clock::time_point start = Clock::now();
  while (!condition()) {
    if (SecondsSince(start) > seconds) return false;
    Sleep(10);
  }
  return true;
}

// --- Reading windows from the user's thread ---

inline std::string Text(HWND window) {
  char text[1024] = {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, 3000, &length))
    return "(no answer)";
  return std::string(text, length);
}

inline std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

inline LRESULT Send(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 3000, &result);
  return static_cast<LRESULT>(result);
}

inline BOOL CALLBACK CollectChild(HWND child, LPARAM found) {
  reinterpret_cast<std::vector<HWND>*>(found)->push_back(child);
  return TRUE;
}

inline std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(parent, &CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

// A visible top-level window of this class and caption, waited for.
inline HWND Await(const char* class_name, const std::string& caption, double seconds = 5) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        found = FindWindowA(class_name, caption.c_str());
        return found && IsWindowVisible(found);
      },
      seconds);
  return found && IsWindowVisible(found) ? found : nullptr;
}

constexpr char kBoxClass[] = "#32770";

inline HWND AwaitBox(const std::string& caption) {
  return Await(kBoxClass, caption);
}

inline bool AwaitGone(HWND window) {
  return WaitFor([window] { return !IsWindow(window) || !IsWindowVisible(window); });
}

inline HWND Control(HWND form, int index) {
  return GetDlgItem(form, win32::kFirstControlId + index);
}

inline int IndexOf(const gui::FormSpec& spec, const std::string& name) {
  for (std::size_t i = 0; i < spec.controls.size(); ++i)
    if (spec.controls[i].name == name) return static_cast<int>(i);
  return -1;
}

// A press of a button, as a click does; posted, so that the user is not held up by what the
// click opens.
inline void Press(HWND button) {
  PostMessageA(button, BM_CLICK, 0, 0);
}

// A mouse click on an item of a list box, with the keys held (MK_CONTROL, MK_SHIFT).
inline void ClickItem(HWND list, int index, WPARAM keys = 0) {
  RECT item = {};
  Send(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item));
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
  PostMessageA(list, WM_LBUTTONUP, keys, at);
}

// The window with the keyboard focus on the thread of the user interface.
inline HWND Focus(DWORD thread) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// Runs the user's part on a thread of its own for as long as the object lives. The checks that
// fail on that thread are kept there and reported when it has ended, on the thread that made the
// object: GoogleTest adds a failure to the current test without a lock, so two threads must not
// report at once.
class User {
 public:
  explicit User(std::function<void()> act)
      : thread_([this, act = std::move(act)] {
          const testing::ScopedFakeTestPartResultReporter keep(
              testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures_);
          act();
        }) {}
  ~User() {
    thread_.join();
    for (int i = 0; i < failures_.size(); ++i) {
      const testing::TestPartResult& failure = failures_.GetTestPartResult(i);
      ADD_FAILURE_AT(failure.file_name(), failure.line_number())
          << "(the user's thread) " << failure.message();
    }
  }
  User(const User&) = delete;
  User& operator=(const User&) = delete;

 private:
  testing::TestPartResultArray failures_;
  std::thread thread_;
};

// What a message box showed.
struct SeenBox {
  std::string text;
  std::vector<int> buttons;
  HWND owner = nullptr;
  HICON icon = nullptr;
};

// What the user sees in the box of this caption; then presses the button `press`.
inline SeenBox AnswerBox(const std::string& caption, int press) {
  SeenBox seen;
  const HWND box = AwaitBox(caption);
  EXPECT_NE(box, nullptr) << "no box \"" << caption << "\"";
  if (!box) return seen;
  seen.owner = GetWindow(box, GW_OWNER);
  for (const int id : {IDOK, IDCANCEL, IDYES, IDNO})
    if (const HWND b = GetDlgItem(box, id); b && IsWindowVisible(b)) seen.buttons.push_back(id);
  for (const HWND child : Children(box)) {
    if (ClassOf(child) != "Static") continue;
    if (const LRESULT icon = Send(child, STM_GETICON))
      seen.icon = reinterpret_cast<HICON>(icon);
    else if (const std::string text = Text(child); !text.empty())
      seen.text = text;
  }
  Press(GetDlgItem(box, press));
  EXPECT_TRUE(AwaitGone(box)) << "the box \"" << caption << "\" stayed";
  return seen;
}

}  // namespace quillet::wintest
