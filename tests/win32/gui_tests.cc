// Tests of the Windows user interface against the real system (or Wine). The program's forms are
// made into windows on the main thread, which runs the event loop; a second thread plays the user:
// it finds the windows and boxes, reads them, and clicks, types and closes through messages.
// Every wait is bounded, and a timer on the main thread ends any loop that runs too long.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "host/tempform.h"
#include "platform/gui.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_gui.h"
#include "tests/win32/user.h"
#include "ui/encrypt.h"
#include "ui/pgp2.h"

namespace quillet {
namespace {

using namespace wintest;

// --- The time limit ---

gui::Gui* limited_gui = nullptr;
bool time_ran_out = false;

// Ends the event loop, and any box or dialog of this thread, after `milliseconds`.
class TimeLimit {
 public:
  TimeLimit(gui::Gui& gui, UINT milliseconds)
      : timer_(SetTimer(nullptr, 0, milliseconds, &TimeLimit::Expired)) {
    limited_gui = &gui;
    time_ran_out = false;
  }
  ~TimeLimit() {
    KillTimer(nullptr, timer_);
    limited_gui = nullptr;
    if (time_ran_out) ADD_FAILURE() << "the time limit ended the event loop";
  }

 private:
  static void CALLBACK Expired(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    time_ran_out = true;
    EnumThreadWindows(GetCurrentThreadId(), &EndBox, 0);
    if (limited_gui) limited_gui->Terminate();
  }

  static BOOL CALLBACK EndBox(HWND window, LPARAM) {
    if (ClassOf(window) == kBoxClass) EndDialog(window, IDCANCEL);
    return TRUE;
  }

  UINT_PTR timer_;
};

int ScreenDpi() {
  return GetDeviceCaps(win32::UniqueDc(nullptr).get(), LOGPIXELSY);
}

RECT ClientRectOf(HWND child) {
  RECT rect = {};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Where a control of `spec` is designed to be, in the form's client pixels.
RECT DesignedRect(const gui::FormSpec& spec, const gui::ControlSpec& c) {
  auto scale = [&](int v) {
    return spec.scaled ? MulDiv(v, ScreenDpi(), spec.pixels_per_inch) : v;
  };
  const int left = scale(c.bounds.left), top = scale(c.bounds.top);
  return {left, top, left + scale(c.bounds.width), top + scale(c.bounds.height)};
}

bool Overlap(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// The size of `text` in the font of `control`: on one line (DT_SINGLELINE), or wrapped at
// `width` (DT_WORDBREAK).
SIZE TextSize(HWND control, const std::string& text, UINT format, int width = 0) {
  const win32::UniqueDc dc(control);
  const HGDIOBJ old =
      SelectObject(dc.get(), reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  RECT rect = {0, 0, width, 0};
  DrawTextA(dc.get(), text.c_str(), -1, &rect, DT_CALCRECT | DT_LEFT | DT_EXPANDTABS | format);
  SelectObject(dc.get(), old);
  return {rect.right, rect.bottom};
}

// The label made from spec.controls[index] shows its whole text in its font: on one line, or
// wrapped at its width (always wrapped when the form design asks for it). It keeps its designed
// corner, is no smaller than designed, lies inside the form, and overlaps no control but those that
// share its designed place with it.
void CheckLabelFits(HWND form, const gui::FormSpec& spec, int index) {
  const gui::ControlSpec& c = spec.controls[index];
  const HWND label = Control(form, index);
  const RECT designed = DesignedRect(spec, c), at = ClientRectOf(label);
  const LONG width = at.right - at.left, height = at.bottom - at.top;
  SCOPED_TRACE(spec.name + "." + c.name);
  EXPECT_TRUE(at.left == designed.left && at.top == designed.top) << "moved";
  EXPECT_TRUE(width >= designed.right - designed.left && height >= designed.bottom - designed.top)
      << "smaller than designed";
  const LONG_PTR type = GetWindowLongPtrA(label, GWL_STYLE) & SS_TYPEMASK;
  EXPECT_TRUE(type == SS_LEFT || (type == SS_LEFTNOWORDWRAP && !c.word_wrap))
      << "of style " << type;
  if (type == SS_LEFTNOWORDWRAP) {
    const SIZE line = TextSize(label, c.text, DT_SINGLELINE);
    EXPECT_TRUE(line.cx <= width && line.cy <= height)
        << "its line is " << line.cx << " x " << line.cy << ", the label " << width << " x "
        << height;
  } else {
    const LONG needed = TextSize(label, c.text, DT_WORDBREAK, width).cy;
    EXPECT_LE(needed, height) << "its text is higher than the label";
  }
  RECT client = {};
  GetClientRect(form, &client);
  EXPECT_TRUE(at.right <= client.right && at.bottom <= client.bottom) << "outside the form";
  for (std::size_t j = 0; j < spec.controls.size(); ++j) {
    const RECT other = ClientRectOf(Control(form, static_cast<int>(j)));
    if (static_cast<int>(j) != index && !Overlap(other, designed)) {
      EXPECT_FALSE(Overlap(other, at)) << "overlaps " << spec.controls[j].name;
    }
  }
}

// --- Forms as windows ---

// Checks the window made from `spec` against it: frame, size, every control's class, text,
// place, font and style, and the order Tab goes through them.
void CheckForm(const gui::FormSpec& spec) {
  SCOPED_TRACE("form " + spec.name + " \"" + spec.caption + "\"");
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
  window->Show();
  gui->ProcessMessages();
  EXPECT_TRUE(window->Visible());
  const HWND form = FindWindowA(win32::kFormClassName, spec.caption.c_str());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(Text(form), spec.caption);
  const int dpi = ScreenDpi();
  auto scale = [&](int v) { return spec.scaled ? MulDiv(v, dpi, spec.pixels_per_inch) : v; };
  const LONG_PTR style = GetWindowLongPtrA(form, GWL_STYLE);
  EXPECT_EQ((style & WS_THICKFRAME) != 0, spec.border == gui::Border::kSizeable);
  EXPECT_EQ((style & WS_MAXIMIZEBOX) != 0, spec.border == gui::Border::kSizeable);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  RECT client = {}, outer = {};
  GetClientRect(form, &client);
  GetWindowRect(form, &outer);
  if (spec.client_size) {
    EXPECT_EQ(client.right, scale(spec.bounds.width));
    EXPECT_EQ(client.bottom, scale(spec.bounds.height));
  } else {
    EXPECT_EQ(outer.right - outer.left, scale(spec.bounds.width));
    EXPECT_EQ(outer.bottom - outer.top, scale(spec.bounds.height));
  }
  if (spec.placement == gui::Placement::kScreenCenter) {
    EXPECT_LE(std::abs((outer.left + outer.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2), 1);
    EXPECT_LE(std::abs((outer.top + outer.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2), 1);
  } else {
    EXPECT_EQ(outer.left, spec.bounds.left);
    EXPECT_EQ(outer.top, spec.bounds.top);
  }

  for (std::size_t i = 0; i < spec.controls.size(); ++i) {
    const gui::ControlSpec& c = spec.controls[i];
    const HWND h = Control(form, static_cast<int>(i));
    EXPECT_NE(h, nullptr);
    if (!h) continue;
    const LONG_PTR s = GetWindowLongPtrA(h, GWL_STYLE);
    const char* expected_class = "Static";
    switch (c.kind) {
      case gui::ControlKind::kButton:
      case gui::ControlKind::kRadioGroup:
        expected_class = "Button";
        break;
      case gui::ControlKind::kEdit:
        expected_class = "Edit";
        break;
      case gui::ControlKind::kListBox:
        expected_class = "ListBox";
        break;
      default:
        break;
    }
    EXPECT_EQ(ClassOf(h), expected_class);
    if (c.kind != gui::ControlKind::kListBox) {
      EXPECT_EQ(Text(h), c.text);
    }
    EXPECT_EQ((s & WS_VISIBLE) != 0, c.visible);
    EXPECT_EQ((s & WS_TABSTOP) != 0, c.tab_order >= 0 && c.kind != gui::ControlKind::kRadioGroup);
    const RECT at = ClientRectOf(h);
    if (c.kind == gui::ControlKind::kLabel) {
      CheckLabelFits(form, spec, static_cast<int>(i));
    } else {
      EXPECT_EQ(at.left, scale(c.bounds.left));
      EXPECT_EQ(at.top, scale(c.bounds.top));
      EXPECT_EQ(at.right - at.left, scale(c.bounds.width));
      EXPECT_EQ(at.bottom - at.top, scale(c.bounds.height));
    }
    // A bevel shows no text and keeps no font.
    LOGFONTA font = {};
    const HFONT handle = reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0));
    EXPECT_TRUE(handle != nullptr || c.kind == gui::ControlKind::kBevel);
    if (handle && GetObjectA(handle, sizeof font, &font)) {
      const gui::Font& f = c.font.value_or(spec.font);
      EXPECT_EQ(std::string(font.lfFaceName), f.name);
      EXPECT_EQ(font.lfHeight, scale(f.height));
      EXPECT_EQ(font.lfWeight, f.bold ? FW_BOLD : FW_NORMAL);
      EXPECT_EQ(font.lfItalic != 0, f.italic);
    }
    switch (c.kind) {
      case gui::ControlKind::kLabel:
        EXPECT_EQ(window->label(c.name).Text(), c.text);
        break;
      case gui::ControlKind::kButton:
        EXPECT_EQ(s & BS_TYPEMASK, c.is_default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        break;
      case gui::ControlKind::kEdit:
        EXPECT_EQ((s & ES_PASSWORD) != 0, c.password_char != 0);
        if (c.password_char) {
          EXPECT_EQ(SendMessageA(h, EM_GETPASSWORDCHAR, 0, 0), c.password_char);
        }
        EXPECT_EQ(window->edit(c.name).Text(), c.text);
        window->edit(c.name).SetText("typed text");
        EXPECT_EQ(Text(h), "typed text");
        EXPECT_EQ(window->edit(c.name).Text(), "typed text");
        break;
      case gui::ControlKind::kListBox:
        EXPECT_EQ((s & LBS_NOTIFY) != 0, true);
        EXPECT_EQ((s & LBS_EXTENDEDSEL) != 0, c.multi_select);
        if (c.item_height) {
          EXPECT_EQ(SendMessageA(h, LB_GETITEMHEIGHT, 0, 0), scale(c.item_height));
        }
        EXPECT_EQ(window->list_box(c.name).Count(), 0);
        break;
      case gui::ControlKind::kRadioGroup: {
        EXPECT_EQ(s & BS_TYPEMASK, BS_GROUPBOX);
        EXPECT_EQ(window->radio_group(c.name).ItemIndex(), c.item_index);
        std::vector<std::string> items;
        for (std::size_t j = 0; j < c.items.size(); ++j) {
          const HWND item = GetDlgItem(h, win32::kFirstControlId + static_cast<int>(j));
          EXPECT_NE(item, nullptr);
          if (!item) continue;
          items.push_back(Text(item));
          EXPECT_EQ(GetWindowLongPtrA(item, GWL_STYLE) & BS_TYPEMASK, BS_AUTORADIOBUTTON);
          EXPECT_EQ(SendMessageA(item, BM_GETCHECK, 0, 0) == BST_CHECKED,
                    static_cast<int>(j) == c.item_index);
        }
        EXPECT_EQ(items, c.items);
        break;
      }
      case gui::ControlKind::kBevel:
        EXPECT_EQ(s & SS_TYPEMASK, SS_ETCHEDFRAME);
        break;
    }
  }

  // Inside a group box or a frame, between its lines and what it holds, the form's background
  // shows.
  UpdateWindow(form);
  {
    const win32::UniqueDc dc(form);
    for (const gui::ControlSpec& c : spec.controls) {
      if (!c.visible ||
          (c.kind != gui::ControlKind::kRadioGroup && c.kind != gui::ControlKind::kBevel))
        continue;
      const RECT frame = DesignedRect(spec, c);
      EXPECT_EQ(GetPixel(dc.get(), frame.left + 3, (frame.top + frame.bottom) / 2),
                GetSysColor(COLOR_BTNFACE));
    }
  }

  // Tab goes through the visible controls that take the focus, in tab order; a radio group is
  // entered at its checked button.
  std::vector<std::pair<int, int>> stops;
  for (std::size_t i = 0; i < spec.controls.size(); ++i)
    if (spec.controls[i].tab_order >= 0 && spec.controls[i].visible)
      stops.emplace_back(spec.controls[i].tab_order, static_cast<int>(i));
  std::sort(stops.begin(), stops.end());
  std::vector<HWND> expected, visited;
  for (const auto& [order, i] : stops) {
    HWND h = Control(form, i);
    if (spec.controls[i].kind == gui::ControlKind::kRadioGroup)
      h = GetDlgItem(h, win32::kFirstControlId + std::max(spec.controls[i].item_index, 0));
    expected.push_back(h);
  }
  HWND at = nullptr;
  for (std::size_t n = 0; n < expected.size(); ++n) {
    at = GetNextDlgTabItem(form, at, FALSE);
    visited.push_back(at);
  }
  EXPECT_EQ(visited, expected) << [&] {
    std::string stops;
    for (HWND h : visited) stops += "\ntab stop: " + ClassOf(h) + " " + Text(h);
    return stops;
  }();

  bool threw = false;
  try {
    window->label("NoSuchControl");
  } catch (const Error&) {
    threw = true;
  }
  EXPECT_TRUE(threw);
  window.reset();
  EXPECT_TRUE(!IsWindow(form));
}

TEST(Gui, FormsAsWindows) {
  CheckForm(host::TForm2::Spec());
  CheckForm(ui::TForm1::Spec());
  CheckForm(ui::TEncryptForm::Spec());
}

// A form designed at half the screen's resolution comes out twice its designed size, fonts too;
// unscaled, it keeps its sizes.
TEST(Gui, Scaling) {
  gui::FormSpec spec = ui::TEncryptForm::Spec();
  spec.pixels_per_inch = ScreenDpi() / 2;
  spec.caption = "Scaled";
  CheckForm(spec);
  spec.scaled = false;
  spec.caption = "Unscaled";
  spec.client_size = false;
  spec.placement = gui::Placement::kDesigned;
  spec.bounds = {30, 40, 400, 300};
  CheckForm(spec);
}

// --- Labels that fit their text ---

// A label of kFitText placed where the text does not fit, other controls around it, and what the
// label comes out as. The text needs several lines at 100 pixels and one line at 300.
enum Designed { kOneLine = 0, kWordWrap = 1, kHidden = 2 };
enum Made { kWraps = 1, kWider = 2, kTaller = 4 };

struct FitCase {
  const char* name;
  gui::Rect label;
  int designed;  // Designed flags
  std::vector<gui::Rect> others;
  int made;  // Made flags
};

constexpr char kFitText[] = "A text that needs two lines here.";
constexpr gui::Rect kPlace = {10, 10, 100, 20}, kNarrow = {10, 10, 60, 20};
constexpr gui::Rect kBelow = {10, 32, 100, 20}, kBeside = {80, 10, 100, 20};

const FitCase kFitCases[] = {
    {"grows down", {10, 10, 100, 14}, kWordWrap, {}, kWraps | kTaller},
    {"widens above a control", kPlace, kWordWrap, {kBelow}, kWraps | kWider},
    {"one line widens", kNarrow, kOneLine, {}, kWider},
    {"one line wraps beside a control", kNarrow, kOneLine, {kBeside}, kWraps | kTaller},
    {"in place of a control", kPlace, kWordWrap | kHidden, {kPlace, kBelow}, kWraps | kWider},
};

TEST(Gui, LabelsFit) {
  for (const FitCase& fit : kFitCases) {
    SCOPED_TRACE(fit.name);
    gui::FormSpec spec;
    spec.name = "Fit";
    spec.caption = std::string("Fit: ") + fit.name;
    spec.bounds = {40, 40, 400, 300};
    spec.client_size = true;
    spec.scaled = false;
    spec.font = {"MS Sans Serif", -11};
    for (const gui::Rect& bounds : fit.others) {
      gui::ControlSpec other;
      other.name = "Other" + std::to_string(spec.controls.size());
      other.kind = gui::ControlKind::kButton;
      other.text = "Other";
      other.bounds = bounds;
      spec.controls.push_back(other);
    }
    gui::ControlSpec label;
    label.name = "Label";
    label.text = kFitText;
    label.bounds = fit.label;
    label.word_wrap = (fit.designed & kWordWrap) != 0;
    label.visible = (fit.designed & kHidden) == 0;
    spec.controls.push_back(label);
    std::unique_ptr<gui::Gui> gui = win32::NewGui();
    std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
    const HWND form = win32::WindowHandle(*window);
    const int index = static_cast<int>(spec.controls.size()) - 1;
    CheckLabelFits(form, spec, index);
    const HWND made = Control(form, index);
    const RECT at = ClientRectOf(made);
    EXPECT_EQ((GetWindowLongPtrA(made, GWL_STYLE) & SS_TYPEMASK) == SS_LEFT,
              (fit.made & kWraps) != 0);
    EXPECT_EQ(at.right - at.left > fit.label.width, (fit.made & kWider) != 0);
    EXPECT_EQ(at.bottom - at.top > fit.label.height, (fit.made & kTaller) != 0);
  }
}

// --- Clicks ---

TEST(Gui, Clicks) {
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  const gui::FormSpec spec = ui::TEncryptForm::Spec();
  std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
  std::atomic<int> ok{0}, cancel{0}, options{0};
  DWORD handler_thread = 0;
  int chosen = -1;
  window->button("OKBtn").SetOnClick([&] {
    handler_thread = GetCurrentThreadId();
    ++ok;
  });
  window->button("CancelBtn").SetOnClick([&] { ++cancel; });
  window->radio_group("EOption").SetOnClick([&] {
    chosen = window->radio_group("EOption").ItemIndex();
    ++options;
  });
  bool closed = false;
  window->SetOnClose([&] {
    closed = true;
    gui->Terminate();
  });
  // The program's own choice raises no click.
  window->radio_group("EOption").SetItemIndex(2);
  EXPECT_EQ(window->radio_group("EOption").ItemIndex(), 2);
  window->Show();
  gui->ProcessMessages();
  EXPECT_EQ(options.load(), 0);

  const DWORD ui_thread = GetCurrentThreadId();
  User user([&] {
    const HWND form = Await(win32::kFormClassName, "Encrypt");
    ASSERT_NE(form, nullptr);
    // The focus starts at the first control in tab order; Tab and Shift+Tab move it.
    const HWND ok_button = Control(form, IndexOf(spec, "OKBtn"));
    const HWND cancel_button = Control(form, IndexOf(spec, "CancelBtn"));
    EXPECT_EQ(Focus(ui_thread), ok_button);
    PostMessageA(ok_button, WM_KEYDOWN, VK_TAB, 0x000F0001);
    EXPECT_TRUE(WaitFor([&] { return Focus(ui_thread) == cancel_button; }));
    Press(ok_button);
    EXPECT_TRUE(WaitFor([&] { return ok == 1; }));
    // Enter in the password edit presses the default button, Esc the cancel button.
    const HWND password = Control(form, IndexOf(spec, "Password"));
    PostMessageA(password, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    EXPECT_TRUE(WaitFor([&] { return ok == 2; }));
    PostMessageA(password, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    EXPECT_TRUE(WaitFor([&] { return cancel == 1; }));
    const HWND group = Control(form, IndexOf(spec, "EOption"));
    Press(GetDlgItem(group, win32::kFirstControlId + 3));
    EXPECT_TRUE(WaitFor([&] { return options == 1; }));
    EXPECT_EQ(Send(GetDlgItem(group, win32::kFirstControlId + 2), BM_GETCHECK), BST_UNCHECKED);
    EXPECT_EQ(ok.load(), 2);
    PostMessageA(form, WM_CLOSE, 0, 0);
  });
  {
    TimeLimit limit(*gui, 8000);
    gui->Run();
  }
  EXPECT_EQ(handler_thread, GetCurrentThreadId());
  EXPECT_EQ(chosen, 3);
  EXPECT_EQ(window->radio_group("EOption").ItemIndex(), 3);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(!window->Visible());
}

// --- List boxes ---

struct ListState {
  std::string list;
  int item_index;
  std::vector<bool> selected;
  bool operator==(const ListState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ListState& s) {
  out << s.list << " index " << s.item_index << " selected";
  for (bool b : s.selected) out << ' ' << b;
  return out;
}

ListState StateOf(const std::string& name, gui::ListBox& list) {
  ListState state{name, list.ItemIndex(), {}};
  for (int i = 0; i < list.Count(); ++i) state.selected.push_back(list.Selected(i));
  return state;
}

std::string ThrownBy(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

TEST(Gui, ListBoxes) {
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  const gui::FormSpec spec = ui::TForm1::Spec();
  std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
  gui::ListBox& recipients = window->list_box("RecipList");
  gui::ListBox& senders = window->list_box("SendList");
  std::vector<ListState> clicks;
  recipients.SetOnClick([&] { clicks.push_back(StateOf("RecipList", recipients)); });
  senders.SetOnClick([&] { clicks.push_back(StateOf("SendList", senders)); });
  window->SetOnClose([&] { gui->Terminate(); });
  const std::vector<std::string> keys = {"alice", "bob", "carol", "dave", "erin"};
  recipients.SetItems(keys);
  senders.SetItems({"alice", "bob"});
  EXPECT_EQ(recipients.Items(), keys);
  EXPECT_EQ(recipients.Count(), 5);
  EXPECT_EQ(recipients.Item(2), "carol");
  EXPECT_EQ(ThrownBy([&] { recipients.Item(5); }), "List index out of bounds (5)");
  EXPECT_EQ(ThrownBy([&] { recipients.Selected(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(ThrownBy([&] { senders.SetSelected(2, true); }), "List index out of bounds (2)");
  // The caret of a multi-select list is at the first item; a single-select list has none.
  EXPECT_EQ(recipients.ItemIndex(), 0);
  EXPECT_EQ(senders.ItemIndex(), -1);

  // The program's selections raise no click, and leave the caret where it was.
  recipients.SetSelected(1, true);
  recipients.SetSelected(2, true);
  recipients.SetSelected(2, false);
  senders.SetSelected(1, true);
  gui->ProcessMessages();
  EXPECT_TRUE(clicks.empty());
  EXPECT_EQ(StateOf("RecipList", recipients), (ListState{"RecipList", 0, {0, 1, 0, 0, 0}}));
  EXPECT_EQ(StateOf("SendList", senders), (ListState{"SendList", 1, {0, 1}}));
  recipients.SetItemIndex(3);
  EXPECT_EQ(recipients.ItemIndex(), 3);
  recipients.SetItemIndex(-1);
  EXPECT_EQ(recipients.ItemIndex(), 0);
  senders.SetSelected(1, false);
  EXPECT_EQ(senders.ItemIndex(), -1);
  senders.SetItemIndex(0);
  EXPECT_EQ(StateOf("SendList", senders), (ListState{"SendList", 0, {1, 0}}));
  gui->ProcessMessages();
  EXPECT_TRUE(clicks.empty());
  window->Show();

  std::atomic<bool> done{false};
  User user([&] {
    const HWND form = Await(win32::kFormClassName, "QUILLET");
    ASSERT_NE(form, nullptr);
    const HWND recip = Control(form, IndexOf(spec, "RecipList"));
    const HWND send = Control(form, IndexOf(spec, "SendList"));
    ClickItem(recip, 3);
    ClickItem(recip, 0, MK_CONTROL);
    ClickItem(send, 1);
    // A click on the item already selected changes nothing, but is the user's click all the same.
    ClickItem(send, 1);
    PostMessageA(form, WM_CLOSE, 0, 0);
    done = true;
  });
  {
    TimeLimit limit(*gui, 8000);
    gui->Run();
  }
  EXPECT_TRUE(done);
  const std::vector<ListState> expected = {
      {"RecipList", 3, {0, 0, 0, 1, 0}},
      {"RecipList", 0, {1, 0, 0, 1, 0}},
      {"SendList", 1, {0, 1}},
      {"SendList", 1, {0, 1}},
  };
  EXPECT_EQ(clicks, expected);
  // Replacing the items clears the selection.
  recipients.SetItems({"frank"});
  EXPECT_EQ(StateOf("RecipList", recipients), (ListState{"RecipList", 0, {0}}));
}

bool HorizontalBarShown(HWND list) {
  SCROLLBARINFO info = {};
  info.cbSize = sizeof info;
  return GetScrollBarInfo(list, OBJID_HSCROLL, &info) &&
         !(info.rgstate[0] & STATE_SYSTEM_INVISIBLE);
}

// Every list of user IDs scrolls as far as its widest item reaches, wherever that item stands,
// and shows no horizontal scroll bar when every item fits.
TEST(Gui, ListsScrollToTheWidestItem) {
  const std::string widest =
      " Carolina Castellane-Whitmore (work key, signing and encryption) "
      "<carolina.castellane-whitmore@engineering.example.com>";
  const std::pair<gui::FormSpec, const char*> lists[] = {
      {ui::TForm1::Spec(), "RecipList"},
      {ui::TForm1::Spec(), "SendList"},
      {ui::TEncryptForm::Spec(), "RecipList"},
  };
  for (const auto& [spec, name] : lists) {
    SCOPED_TRACE(spec.name + "." + name);
    std::unique_ptr<gui::Gui> gui = win32::NewGui();
    std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
    gui::ListBox& list = window->list_box(name);
    const HWND h = Control(win32::WindowHandle(*window), IndexOf(spec, name));
    list.SetItems({" Alice <alice@x>", widest, " Bob <bob@x>", ""});
    EXPECT_TRUE(Send(h, LB_GETHORIZONTALEXTENT) >= TextSize(h, widest, DT_SINGLELINE).cx);
    EXPECT_TRUE(HorizontalBarShown(h));
    list.SetItems({" Alice <alice@x>", " Bob <bob@x>"});
    EXPECT_TRUE(!HorizontalBarShown(h));
  }
}

// --- Message boxes ---

HICON SystemIcon(LPCSTR name) {
  return LoadIconA(nullptr, name);
}

TEST(Gui, MessageBoxes) {
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  gui::FormSpec spec = host::TForm2::Spec();
  spec.caption = "Owner of the boxes";
  std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
  EXPECT_EQ(win32::MainWindowOf(*gui), nullptr);
  gui->SetMainWindow(window.get());
  window->Show();
  gui->SetTitleFromPath("C:\\Program Files\\Quillet\\QUILLET.EXE");
  EXPECT_EQ(gui->Title(), "Quillet");
  const HWND form = FindWindowA(win32::kFormClassName, spec.caption.c_str());
  // The owner the program names when it hands a file to the shell.
  EXPECT_NE(form, nullptr);
  EXPECT_EQ(win32::MainWindowOf(*gui), form);

  std::vector<SeenBox> seen;
  {
    User user([&] {
      seen.push_back(AnswerBox("Three buttons", IDNO));
      seen.push_back(AnswerBox("Confirm", IDCANCEL));
      seen.push_back(AnswerBox("Confirm", IDOK));
      seen.push_back(AnswerBox("Quillet", IDOK));
      seen.push_back(AnswerBox("Plain", IDYES));
    });
    TimeLimit limit(*gui, 15000);
    EXPECT_EQ(gui->ShowMessage({"Keep the draft?", "Three buttons", gui::Icon::kWarning,
                                gui::Buttons::kYesNoCancel}),
              gui::Answer::kNo);
    EXPECT_EQ(gui->Confirm("Remove the key?", gui::Buttons::kOkCancel), gui::Answer::kCancel);
    EXPECT_EQ(gui->Confirm("Remove the key?", gui::Buttons::kOkCancel), gui::Answer::kOk);
    gui->ReportError("Cannot write c:\\pgp\\temppgp");
    window->Hide();  // with no active window, the main window owns the box
    EXPECT_EQ(gui->ShowMessage({"Go on?", "Plain", gui::Icon::kNone, gui::Buttons::kYesNo}),
              gui::Answer::kYes);
  }
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].text, "Keep the draft?");
  EXPECT_EQ(seen[0].buttons, (std::vector<int>{IDCANCEL, IDYES, IDNO}));
  EXPECT_EQ(seen[0].icon, SystemIcon(IDI_WARNING));
  EXPECT_EQ(seen[1].text, "Remove the key?");
  EXPECT_EQ(seen[1].buttons, (std::vector<int>{IDOK, IDCANCEL}));
  EXPECT_EQ(seen[1].icon, SystemIcon(IDI_QUESTION));
  EXPECT_EQ(seen[3].text, "Cannot write c:\\pgp\\temppgp.");
  EXPECT_EQ(seen[3].buttons, (std::vector<int>{IDOK}));
  EXPECT_EQ(seen[3].icon, SystemIcon(IDI_ERROR));
  EXPECT_EQ(seen[4].buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(seen[4].icon, nullptr);
  for (const SeenBox& box : seen) EXPECT_EQ(box.owner, form);
}

// --- Closing ---

TEST(Gui, CloseBox) {
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  const gui::FormSpec spec = host::TForm2::Spec();
  std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
  std::atomic<int> queries{0}, closes{0};
  window->SetOnCloseQuery([&] {
    ++queries;
    return gui->Confirm("Quit?", gui::Buttons::kOkCancel) != gui::Answer::kCancel;
  });
  window->SetOnClose([&] {
    ++closes;
    gui->Terminate();
  });
  gui->SetMainWindow(window.get());
  window->Show();
  User user([&] {
    const HWND form = Await(win32::kFormClassName, spec.caption);
    ASSERT_NE(form, nullptr);
    // The close box, refused.
    PostMessageA(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(AnswerBox("Confirm", IDCANCEL).text, "Quit?");
    EXPECT_TRUE(WaitFor([&] { return queries == 1; }));
    Sleep(50);
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_EQ(closes.load(), 0);
    // The end of the session asks the main window, refused and then allowed; the window stays.
    for (const int answer : {IDCANCEL, IDOK}) {
      LRESULT may_end = -1;
      std::thread session([&] {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(form, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &result))
          may_end = static_cast<LRESULT>(result);
      });
      AnswerBox("Confirm", answer);
      session.join();
      EXPECT_EQ(may_end, answer == IDOK ? TRUE : FALSE);
    }
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_EQ(closes.load(), 0);
    // The close box, allowed: the close handler runs and the window is hidden, not destroyed.
    PostMessageA(form, WM_CLOSE, 0, 0);
    AnswerBox("Confirm", IDOK);
    EXPECT_TRUE(WaitFor([&] { return closes == 1; }));
    EXPECT_TRUE(AwaitGone(form));
    EXPECT_TRUE(IsWindow(form));
  });
  {
    TimeLimit limit(*gui, 15000);
    gui->Run();
  }
  EXPECT_EQ(queries.load(), 4);
  EXPECT_EQ(closes.load(), 1);
  EXPECT_TRUE(!window->Visible());
  EXPECT_TRUE(gui->Terminated());
}

// --- The event loop ---

TEST(Gui, PostOrder) {
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  gui::FormSpec spec = host::TForm2::Spec();
  spec.caption = "Posting";
  std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
  std::vector<std::string> ran;
  window->SetOnClose([&] { ran.emplace_back("close"); });
  gui->Post([&] { ran.emplace_back("a"); });
  PostMessageA(FindWindowA(win32::kFormClassName, "Posting"), WM_CLOSE, 0, 0);
  gui->Post([&] {
    ran.emplace_back("b");
    gui->Post([&] {
      ran.emplace_back("c");
      gui->Terminate();
    });
  });
  gui->Post([&] { ran.emplace_back("d"); });
  EXPECT_TRUE(ran.empty());
  {
    TimeLimit limit(*gui, 5000);
    gui->Run();
  }
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "close", "b", "d", "c"}));
  EXPECT_TRUE(gui->Terminated());
}

TEST(Gui, IdleTasks) {
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  gui::FormSpec spec = host::TForm2::Spec();
  spec.caption = "Idle";
  std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
  window->Show();
  std::vector<std::string> ran;
  gui->PostToIdle([&] { ran.emplace_back("idle 1"); });
  gui->ProcessMessages();
  gui->Post([&] { ran.emplace_back("posted"); });
  gui->ProcessMessages();
  EXPECT_EQ(ran, (std::vector<std::string>{"posted"}));
  // Neither a modal box nor ProcessMessages inside a task runs them.
  gui->Post([&] {
    ran.emplace_back("task");
    gui->PostToIdle([&] {
      ran.emplace_back("idle 2");
      gui->Terminate();
    });
    gui->ProcessMessages();
    gui->ShowMessage({"Waiting", "Idle box", gui::Icon::kInformation, gui::Buttons::kOk});
    gui->ProcessMessages();
    ran.emplace_back("task done");
  });
  User user([] {
    const HWND box = AwaitBox("Idle box");
    Sleep(200);  // the box's own loop goes idle meanwhile
    if (box) Press(GetDlgItem(box, IDOK));
  });
  {
    TimeLimit limit(*gui, 8000);
    gui->Run();
  }
  EXPECT_EQ(ran, (std::vector<std::string>{"posted", "task", "task done", "idle 1", "idle 2"}));
}

// A task left for the idle loop by a message sent from another thread, while Run waits for
// messages, still runs at once.
TEST(Gui, IdleTaskWakesRun) {
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  gui::FormSpec spec = ui::TEncryptForm::Spec();
  spec.caption = "Wake";
  std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
  window->button("OKBtn").SetOnClick([&] { gui->PostToIdle([&] { gui->Terminate(); }); });
  window->Show();
  gui->ProcessMessages();
  const HWND ok = Control(FindWindowA(win32::kFormClassName, "Wake"), IndexOf(spec, "OKBtn"));
  User user([ok] {
    Sleep(100);
    Send(ok, BM_CLICK);
  });
  const Clock::time_point start = Clock::now();
  {
    TimeLimit limit(*gui, 5000);
    gui->Run();
  }
  EXPECT_TRUE(SecondsSince(start) < 2);
}

TEST(Gui, Terminate) {
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  EXPECT_TRUE(!gui->Terminated());
  bool ran = false;
  gui->Post([&] { gui->Terminate(); });
  {
    TimeLimit limit(*gui, 5000);
    gui->Run();
  }
  EXPECT_TRUE(gui->Terminated());
  // Once terminated, Run returns at once and stays terminated.
  gui->Post([&] { ran = true; });
  const Clock::time_point start = Clock::now();
  {
    TimeLimit limit(*gui, 5000);
    gui->Run();
  }
  EXPECT_TRUE(SecondsSince(start) < 1);
  EXPECT_TRUE(!ran);
  EXPECT_TRUE(gui->Terminated());
  gui->ProcessMessages();
  EXPECT_TRUE(ran);
}

TEST(Gui, Minimize) {
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  gui::FormSpec spec = host::TForm2::Spec();
  spec.caption = "Minimized";
  std::unique_ptr<gui::Window> window = gui->NewWindow(spec);
  const HWND form = FindWindowA(win32::kFormClassName, "Minimized");
  gui->Minimize();  // no main window: nothing happens
  EXPECT_TRUE(!IsIconic(form));
  gui->SetMainWindow(window.get());
  window->Show();
  gui->Minimize();
  gui->ProcessMessages();
  EXPECT_TRUE(IsIconic(form));
  window->BringToForeground();
  gui->ProcessMessages();
  EXPECT_TRUE(!IsIconic(form));
  EXPECT_TRUE(window->Visible());
  window->ShowMaximized();
  EXPECT_TRUE(IsZoomed(form));
  window.reset();
  gui->Minimize();  // the main window is gone with its object
}

// --- The process's show command ---

std::string ThisProgram() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

// The show command a copy of this program reports when started with `show` (none: no flag).
int ShowCommandOfChild(std::optional<WORD> show) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (show) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = *show;
  }
  PROCESS_INFORMATION process = {};
  std::string command = "\"";
  command.append(ThisProgram()).append("\" --show-command");
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return -1;
  const win32::UniqueHandle child(process.hProcess), thread(process.hThread);
  DWORD code = static_cast<DWORD>(-2);
  if (WaitForSingleObject(child.get(), 20000) == WAIT_OBJECT_0)
    GetExitCodeProcess(child.get(), &code);
  return static_cast<int>(code);
}

TEST(Gui, ShowCommand) {
  const struct {
    std::optional<WORD> given;
    int reported;
  } cases[] = {
      {SW_SHOWMINNOACTIVE, gui::kShowMinNoActive},
      {SW_SHOWMAXIMIZED, gui::kShowMaximized},
      {std::nullopt, gui::kShowNormal},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ShowCommandOfChild(c.given), c.reported) << "started with " << c.given.value_or(-1);
}

// --- The open-file dialog ---

// Types `path` into the open-file dialog of this title and presses `press`; gives the first
// entry of its file-type list.
std::string AnswerFileDialog(const std::string& title, const std::string& path, int press) {
  const HWND dialog = Await(kBoxClass, title, 10);
  EXPECT_NE(dialog, nullptr) << "no dialog \"" << title << "\"";
  if (!dialog) return "(no dialog)";
  std::string first_type;
  if (const HWND types = GetDlgItem(dialog, 0x470)) {  // cmb1
    char text[256] = {};
    if (Send(types, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text)) > 0) first_type = text;
  }
  HWND name = GetDlgItem(dialog, 0x47c);        // cmb13
  if (!name) name = GetDlgItem(dialog, 0x480);  // edt1
  EXPECT_NE(name, nullptr);
  if (name) Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  Press(GetDlgItem(dialog, press));
  EXPECT_TRUE(AwaitGone(dialog));
  return first_type;
}

TEST(Gui, OpenFileDialog) {
  std::unique_ptr<gui::Gui> gui = win32::NewGui();
  const std::string program = ThisProgram();
  const std::string dir = program.substr(0, program.find_last_of('\\') + 1);
  gui::OpenFileSettings settings{
      "Please select the PGP program", "Executables|*.exe|All|*.*", "exe", dir, "", true};
  std::string first_type;
  std::optional<std::string> chosen, cancelled = "(not asked)";
  {
    User user([&] {
      first_type = AnswerFileDialog(settings.title, program, IDOK);
      AnswerFileDialog(settings.title, program, IDCANCEL);
    });
    TimeLimit limit(*gui, 30000);
    chosen = gui->OpenFileDialog(settings);
    cancelled = gui->OpenFileDialog(settings);
  }
  EXPECT_TRUE(chosen.has_value());
  if (chosen) {
    EXPECT_EQ(AsciiLower(*chosen), AsciiLower(program));
  }
  EXPECT_EQ(cancelled, std::optional<std::string>());
  EXPECT_EQ(first_type, "Executables");
}

}  // namespace
}  // namespace quillet

int main(int argc, char** argv) {
  using namespace quillet;
  if (argc == 2 && std::strcmp(argv[1], "--show-command") == 0)
    return win32::NewGui()->ShowCommand();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
