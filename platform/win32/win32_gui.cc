// The user interface on Windows: a thin translation of the port to Win32. Forms become windows of
// a registered class with the system's controls as children, message boxes and the open-file
// dialog are the system's own, and the event loop is the thread's message loop. Posted tasks are
// messages to a hidden message-only window; tasks for the idle loop wait in a queue that only
// Run's own loop drains.
#include <windows.h>
// After windows.h, which leaves the common dialogs out when lean.
#include <commctrl.h>
#include <commdlg.h>

#include "platform/win32/win32_gui.h"

#include <algorithm>
#include <climits>
#include <deque>
#include <exception>
#include <map>
#include <utility>
#include <vector>

#include "base/error.h"
#include "platform/automation.h"
#include "platform/win32/unique_handle.h"

namespace quillet::win32 {

namespace {

// Text measured on the screen in a font, as the controls draw it.
class TextMetrics {
 public:
  explicit TextMetrics(HFONT font) : dc_(nullptr), old_(SelectObject(dc_.get(), font)) {}
  ~TextMetrics() { SelectObject(dc_.get(), old_); }
  TextMetrics(const TextMetrics&) = delete;
  TextMetrics& operator=(const TextMetrics&) = delete;

  int LineHeight() const {
    TEXTMETRICA metrics = {};
    return GetTextMetricsA(dc_.get(), &metrics) ? metrics.tmHeight : 16;
  }
  // The size of `text` on one line.
  SIZE Line(const std::string& text) const { return Measure(text, DT_SINGLELINE, 0); }
  // The size of `text` wrapped at `width`, as a label wraps it.
  SIZE Wrapped(const std::string& text, int width) const {
    return Measure(text, DT_WORDBREAK, width);
  }

 private:
  SIZE Measure(const std::string& text, UINT format, int width) const {
    RECT rect = {0, 0, width, 0};
    DrawTextA(dc_.get(), text.c_str(), static_cast<int>(text.size()), &rect,
              DT_CALCRECT | DT_LEFT | DT_EXPANDTABS | format);
    return {rect.right, rect.bottom};
  }

  UniqueDc dc_;  // the screen's
  HGDIOBJ old_;
};

// Messages to the hidden window of the event loop.
constexpr UINT kRunPosted = WM_APP + 1;  // runs the oldest posted task
constexpr UINT kWakeUp = WM_APP + 2;     // lets the loop look at its state again

constexpr char kMessageClassName[] = "QuilletMessages";

// The space, in the form's design pixels, that a label widened to fit its text leaves before the
// control or the edge that stops it.
constexpr int kLabelMargin = 8;

bool Overlap(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

std::string WindowText(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Counts a level of nested message handling for as long as it lives.
class Nesting {
 public:
  explicit Nesting(int& depth) : depth_(depth) { ++depth_; }
  ~Nesting() { --depth_; }
  Nesting(const Nesting&) = delete;
  Nesting& operator=(const Nesting&) = delete;

 private:
  int& depth_;
};

// --- Controls ---

class Win32Control : public virtual gui::Control {
 public:
  Win32Control(gui::Gui& gui, const gui::ControlSpec& spec, UniqueWindow window)
      : gui_(gui), spec_(spec), window_(std::move(window)) {}
  HWND hwnd() const { return window_.get(); }
  const gui::ControlSpec& spec() const { return spec_; }
  bool Visible() const override { return (GetWindowLongPtrA(hwnd(), GWL_STYLE) & WS_VISIBLE) != 0; }
  void SetVisible(bool visible) override { ShowWindow(hwnd(), visible ? SW_SHOW : SW_HIDE); }
  // A notification the control sent its form (WM_COMMAND).
  virtual void Notify(int /*code*/) {}

 protected:
  gui::Gui& gui_;

 private:
  gui::ControlSpec spec_;
  UniqueWindow window_;
};

class Win32Label : public Win32Control, public gui::Label {
 public:
  using Win32Control::Win32Control;
  std::string Text() const override { return WindowText(hwnd()); }
  void SetText(const std::string& text) override { SetWindowTextA(hwnd(), text.c_str()); }
};

class Win32Button : public Win32Control, public gui::Button {
 public:
  using Win32Control::Win32Control;
  void SetOnClick(std::function<void()> handler) override { on_click_ = std::move(handler); }
  void Notify(int code) override {
    if (code == BN_CLICKED) Click();
  }
  void Click() {
    if (on_click_) gui_.RunHandler(on_click_);
  }

 private:
  std::function<void()> on_click_;
};

class Win32Edit : public Win32Control, public gui::Edit {
 public:
  using Win32Control::Win32Control;
  std::string Text() const override { return WindowText(hwnd()); }
  void SetText(const std::string& text) override { SetWindowTextA(hwnd(), text.c_str()); }
};

// In a multi-select list the item index is the caret (0 until moved, also with nothing selected);
// in a single-select list it is the selected item. The system notifies only the user's changes.
class Win32ListBox : public Win32Control, public gui::ListBox {
 public:
  using Win32Control::Win32Control;

  std::vector<std::string> Items() const override {
    std::vector<std::string> items;
    for (int i = 0, count = Count(); i < count; ++i) items.push_back(Text(i));
    return items;
  }

  void SetItems(const std::vector<std::string>& items) override {
    Send(WM_SETREDRAW, FALSE, 0);
    Send(LB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
      Send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    if (multi()) Send(LB_SETCARETINDEX, 0, FALSE);
    // User IDs are often wider than the list: the user scrolls to read the widest item whole.
    const TextMetrics metrics(reinterpret_cast<HFONT>(Send(WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (const std::string& item : items) widest = std::max(widest, metrics.Line(item).cx);
    Send(LB_SETHORIZONTALEXTENT, widest ? widest + 2 * GetSystemMetrics(SM_CXEDGE) : 0, 0);
    Send(WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd(), nullptr, TRUE);
  }

  int Count() const override { return static_cast<int>(Send(LB_GETCOUNT, 0, 0)); }

  std::string Item(int index) const override {
    CheckIndex(index);
    return Text(index);
  }

  int ItemIndex() const override {
    return static_cast<int>(Send(multi() ? LB_GETCARETINDEX : LB_GETCURSEL, 0, 0));
  }

  void SetItemIndex(int index) override {
    const bool inside = index >= 0 && index < Count();
    if (multi())
      Send(LB_SETCARETINDEX, inside ? index : 0, FALSE);
    else
      Send(LB_SETCURSEL, inside ? index : -1, 0);
  }

  bool Selected(int index) const override {
    CheckIndex(index);
    return Send(LB_GETSEL, index, 0) > 0;
  }

  void SetSelected(int index, bool selected) override {
    CheckIndex(index);
    if (multi()) {
      // The system may move the caret to the item; the program's selections leave it alone.
      const LRESULT caret = Send(LB_GETCARETINDEX, 0, 0);
      Send(LB_SETSEL, selected, index);
      Send(LB_SETCARETINDEX, caret, FALSE);
    } else if (selected)
      SetItemIndex(index);
    else if (ItemIndex() == index)
      SetItemIndex(-1);
  }

  void SetOnClick(std::function<void()> handler) override { on_click_ = std::move(handler); }

  void Notify(int code) override {
    if (code == LBN_SELCHANGE && on_click_) gui_.RunHandler(on_click_);
  }

 private:
  bool multi() const { return spec().multi_select; }
  LRESULT Send(UINT message, WPARAM wparam, LPARAM lparam) const {
    return SendMessageA(hwnd(), message, wparam, lparam);
  }
  std::string Text(int index) const {
    const LRESULT length = Send(LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR) return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT copied = Send(LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == LB_ERR ? 0 : static_cast<std::size_t>(copied));
    return text;
  }
  void CheckIndex(int index) const {
    if (index < 0 || index >= Count())
      throw Error("List index out of bounds (" + std::to_string(index) + ")");
  }

  std::function<void()> on_click_;
};

// A group box whose radio buttons are its children. The box passes their notifications to the
// group rather than to the form.
class Win32RadioGroup : public Win32Control, public gui::RadioGroup {
 public:
  Win32RadioGroup(gui::Gui& gui, const gui::ControlSpec& spec, UniqueWindow box, HFONT font,
                  int text_height)
      : Win32Control(gui, spec, std::move(box)) {
    // The procedure is installed through its exact type, so that the compiler refuses one
    // declared with the wrong calling convention.
    if (!SetWindowSubclass(hwnd(), &Win32RadioGroup::BoxProcedure, 0,
                           reinterpret_cast<DWORD_PTR>(this)))
      throw Error("Cannot watch the radio group " + spec.name);
    RECT client;
    GetClientRect(hwnd(), &client);
    // One column of buttons below the caption, sharing the height evenly.
    const int count = static_cast<int>(spec.items.size());
    const int width = client.right - 10;
    const int free_height = client.bottom - text_height - 5;
    const int each = count ? free_height / count : 0;
    const int top = text_height + 1 + (count ? free_height % count : 0) / 2;
    for (int j = 0; j < count; ++j) {
      const DWORD style = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (j == 0 ? WS_GROUP : 0);
      UniqueWindow item(CreateWindowExA(
          0, "BUTTON", spec.items[j].c_str(), style, 8, top + j * each, width, each, hwnd(),
          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + j)), Instance(), nullptr));
      if (!item) throw Error("Cannot create the radio button " + spec.items[j]);
      SendMessageA(item.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      items_.push_back(std::move(item));
    }
    SetItemIndex(spec.item_index);
  }

  ~Win32RadioGroup() override {
    items_.clear();
    RemoveWindowSubclass(hwnd(), &Win32RadioGroup::BoxProcedure, 0);
  }

  int ItemIndex() const override {
    for (std::size_t j = 0; j < items_.size(); ++j)
      if (SendMessageA(items_[j].get(), BM_GETCHECK, 0, 0) == BST_CHECKED)
        return static_cast<int>(j);
    return -1;
  }

  void SetItemIndex(int index) override {
    for (std::size_t j = 0; j < items_.size(); ++j)
      SendMessageA(items_[j].get(), BM_SETCHECK,
                   static_cast<int>(j) == index ? BST_CHECKED : BST_UNCHECKED, 0);
    UpdateTabStop();
  }

  void SetOnClick(std::function<void()> handler) override { on_click_ = std::move(handler); }

 private:
  // Tab reaches the group at its checked button, or at the first when none is.
  void UpdateTabStop() {
    const int checked = std::max(ItemIndex(), 0);
    for (std::size_t j = 0; j < items_.size(); ++j) {
      const LONG_PTR style = GetWindowLongPtrA(items_[j].get(), GWL_STYLE);
      const bool stop = spec().tab_order >= 0 && static_cast<int>(j) == checked;
      SetWindowLongPtrA(items_[j].get(), GWL_STYLE,
                        stop ? style | WS_TABSTOP : style & ~WS_TABSTOP);
    }
  }

  static LRESULT CALLBACK BoxProcedure(HWND box, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR /*id*/, DWORD_PTR group_data) {
    auto* group = reinterpret_cast<Win32RadioGroup*>(group_data);
    if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED && lparam) {
      group->gui_.RunHandler([group] {
        group->UpdateTabStop();
        if (group->on_click_) group->on_click_();
      });
      return 0;
    }
    return DefSubclassProc(box, message, wparam, lparam);
  }

  std::vector<UniqueWindow> items_;
  std::function<void()> on_click_;
};

class Win32Gui;

// --- Windows ---

class Win32Window : public gui::Window {
 public:
  Win32Window(Win32Gui& gui, const gui::FormSpec& spec);
  ~Win32Window() override;

  void Show() override { ShowWindow(hwnd(), SW_SHOWNORMAL); }
  void ShowMaximized() override { ShowWindow(hwnd(), SW_SHOWMAXIMIZED); }
  void Hide() override { ShowWindow(hwnd(), SW_HIDE); }
  bool Visible() const override { return IsWindowVisible(hwnd()) != FALSE; }
  void BringToForeground() override {
    if (IsIconic(hwnd())) ShowWindow(hwnd(), SW_RESTORE);
    SetForegroundWindow(hwnd());
  }
  void Close() override {
    if (on_close_query_ && !on_close_query_()) return;
    if (on_close_) on_close_();
    Hide();
  }
  void SetOnCloseQuery(std::function<bool()> handler) override {
    on_close_query_ = std::move(handler);
  }
  void SetOnClose(std::function<void()> handler) override { on_close_ = std::move(handler); }

  gui::Label& label(const std::string& name) override { return Get<Win32Label>(name); }
  gui::Button& button(const std::string& name) override { return Get<Win32Button>(name); }
  gui::Edit& edit(const std::string& name) override { return Get<Win32Edit>(name); }
  gui::ListBox& list_box(const std::string& name) override { return Get<Win32ListBox>(name); }
  gui::RadioGroup& radio_group(const std::string& name) override {
    return Get<Win32RadioGroup>(name);
  }

  HWND hwnd() const { return window_.get(); }

  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  template <typename T>
  T& Get(const std::string& name) const {
    auto it = controls_.find(name);
    if (it == controls_.end()) throw Error("The form " + spec_.name + " has no control " + name);
    T* typed = dynamic_cast<T*>(it->second.get());
    if (!typed) throw Error("The control " + spec_.name + "." + name + " is of another kind");
    return *typed;
  }

  int Scale(int value) const {
    return spec_.scaled ? MulDiv(value, screen_dpi_, spec_.pixels_per_inch) : value;
  }
  // Where a control goes in the client area, and whether its text wraps.
  struct Place {
    RECT rect;
    bool wrap;
  };
  HFONT FontFor(const gui::Font& font);
  HFONT FontOf(const gui::ControlSpec& spec) { return FontFor(spec.font.value_or(spec_.font)); }
  void FitLabel(int index, std::vector<Place>& places);
  void CreateControl(int index, const gui::ControlSpec& spec, const Place& place);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void Command(int id, int code);
  Win32Button* ButtonWhere(bool gui::ControlSpec::*flag) const;

  Win32Gui& gui_;
  gui::FormSpec spec_;
  int screen_dpi_;
  // Declared before the windows that use them, so that they outlive them.
  std::vector<std::pair<gui::Font, UniqueFont>> fonts_;
  UniqueWindow window_;
  std::map<std::string, std::unique_ptr<Win32Control>> controls_;
  std::map<int, Win32Control*> by_id_;
  HWND focus_ = nullptr;  // the control that had the focus when the window was deactivated
  std::function<bool()> on_close_query_;
  std::function<void()> on_close_;
};

// --- The application ---

class Win32Gui : public gui::Gui {
 public:
  Win32Gui();
  ~Win32Gui() override { SetWindowLongPtrA(messages_.get(), GWLP_USERDATA, 0); }

  std::unique_ptr<gui::Window> NewWindow(const gui::FormSpec& spec) override {
    return std::make_unique<Win32Window>(*this, spec);
  }
  void SetMainWindow(gui::Window* window) override { main_ = dynamic_cast<Win32Window*>(window); }
  gui::Answer ShowMessage(const gui::MessageSpec& spec) override;
  std::optional<std::string> OpenFileDialog(const gui::OpenFileSettings& settings) override;
  void Run() override;
  void ProcessMessages() override;
  void Terminate() override {
    terminated_ = true;
    PostMessageA(messages_.get(), kWakeUp, 0, 0);
  }
  bool Terminated() const override { return terminated_; }
  void Post(std::function<void()> task) override {
    posted_.push_back(std::move(task));
    PostMessageA(messages_.get(), kRunPosted, 0, 0);
  }
  void PostToIdle(std::function<void()> task) override {
    idle_.push_back(std::move(task));
    PostMessageA(messages_.get(), kWakeUp, 0, 0);
  }
  int ShowCommand() override {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWNORMAL;
  }
  void Minimize() override {
    if (main_) ShowWindow(main_->hwnd(), SW_MINIMIZE);
  }

  bool IsMain(const Win32Window* window) const { return main_ == window; }
  HWND main_hwnd() const { return main_ ? main_->hwnd() : nullptr; }
  void Forget(const Win32Window* window) {
    if (main_ == window) main_ = nullptr;
  }

 private:
  // The event loop's own window's; it serves the posted tasks once the window knows its Gui.
  static LRESULT CALLBACK MessageProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  friend void RegisterClasses();
  void Dispatch(MSG& message);
  // The owner of a modal box: the thread's active window, else the main window.
  HWND Owner() const;

  UniqueWindow messages_;
  std::deque<std::function<void()>> posted_;
  std::deque<std::function<void()>> idle_;
  Win32Window* main_ = nullptr;
  bool terminated_ = false;
  int run_depth_ = 0;
  int nesting_ = 0;  // ProcessMessages and modal boxes under way
};

void RegisterClasses() {
  static const bool registered = [] {
    WNDCLASSEXA form = {};
    form.cbSize = sizeof form;
    form.style = CS_DBLCLKS;
    form.lpfnWndProc = &Win32Window::Procedure;
    form.hInstance = Instance();
    // The program's own icon (resource 1 of quillet.exe); programs without one get the system's.
    form.hIcon = LoadIconA(Instance(), MAKEINTRESOURCEA(1));
    if (!form.hIcon) form.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    form.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    form.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    form.lpszClassName = kFormClassName;
    WNDCLASSEXA messages = {};
    messages.cbSize = sizeof messages;
    messages.lpfnWndProc = &Win32Gui::MessageProcedure;
    messages.hInstance = Instance();
    messages.lpszClassName = kMessageClassName;
    return RegisterClassExA(&form) != 0 && RegisterClassExA(&messages) != 0;
  }();
  if (!registered) throw Error("Cannot register the window classes");
}

// --- Win32Window ---

Win32Window::Win32Window(Win32Gui& gui, const gui::FormSpec& spec)
    : gui_(gui), spec_(spec), screen_dpi_(GetDeviceCaps(UniqueDc(nullptr).get(), LOGPIXELSY)) {
  RegisterClasses();
  if (screen_dpi_ <= 0) screen_dpi_ = 96;
  if (spec_.pixels_per_inch <= 0) spec_.pixels_per_inch = 96;
  DWORD style, ex_style;
  if (spec.border == gui::Border::kSizeable) {
    style = WS_OVERLAPPEDWINDOW;
    ex_style = 0;
  } else {
    style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    ex_style = WS_EX_DLGMODALFRAME;
  }
  // Not WS_CLIPCHILDREN: group boxes and frames draw only their lines, and the form's background
  // shows through inside them.
  ex_style |= WS_EX_CONTROLPARENT;
  int width = Scale(spec.bounds.width), height = Scale(spec.bounds.height);
  if (spec.client_size) {
    RECT outer = {0, 0, width, height};
    AdjustWindowRectEx(&outer, style, FALSE, ex_style);
    width = outer.right - outer.left;
    height = outer.bottom - outer.top;
  }
  int left = spec.bounds.left, top = spec.bounds.top;
  if (spec.placement == gui::Placement::kScreenCenter) {
    left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  }
  window_.reset(CreateWindowExA(ex_style, kFormClassName, spec.caption.c_str(), style, left, top,
                                width, height, nullptr, nullptr, Instance(), this));
  if (!window_)
    throw Error("Cannot create the window " + spec.name + ": " +
                ole::SystemMessage(static_cast<std::int32_t>(GetLastError())));
  std::vector<Place> places;
  for (const gui::ControlSpec& c : spec.controls) {
    const int left = Scale(c.bounds.left), top = Scale(c.bounds.top);
    places.push_back(
        {{left, top, left + Scale(c.bounds.width), top + Scale(c.bounds.height)}, c.word_wrap});
  }
  for (std::size_t i = 0; i < places.size(); ++i)
    if (spec.controls[i].kind == gui::ControlKind::kLabel) FitLabel(static_cast<int>(i), places);
  // Created in tab order, which is the order of the children; those that take no focus last.
  std::vector<int> order(spec.controls.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  auto key = [&spec](int i) {
    const int tab = spec.controls[i].tab_order;
    return tab < 0 ? INT_MAX : tab;
  };
  std::stable_sort(order.begin(), order.end(), [&key](int a, int b) { return key(a) < key(b); });
  for (int i : order) CreateControl(i, spec.controls[i], places[i]);
}

Win32Window::~Win32Window() {
  gui_.Forget(this);
  SetWindowLongPtrA(hwnd(), GWLP_USERDATA, 0);
  controls_.clear();
}

HFONT Win32Window::FontFor(const gui::Font& font) {
  for (const auto& [spec, handle] : fonts_)
    if (spec.name == font.name && spec.height == font.height && spec.bold == font.bold &&
        spec.italic == font.italic)
      return handle.get();
  UniqueFont created(CreateFontA(Scale(font.height), 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL,
                                 font.italic, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 font.name.c_str()));
  HFONT handle = created.get();
  fonts_.emplace_back(font, std::move(created));
  return handle;
}

// A label keeps its place and gets the room its text needs in its font. It grows down; where a
// control is in the way below, it widens instead, as far as the controls to its right and the
// form's edge allow. A single line widens to its text, or wraps where it cannot. A control that
// overlaps the label's designed place takes turns with it there and is not in its way.
void Win32Window::FitLabel(int index, std::vector<Place>& places) {
  const std::string& text = spec_.controls[index].text;
  const TextMetrics metrics(FontOf(spec_.controls[index]));
  Place& place = places[index];
  const RECT designed = place.rect;
  const LONG width = designed.right - designed.left, height = designed.bottom - designed.top;
  RECT client;
  GetClientRect(hwnd(), &client);
  auto others = [&](auto&& visit) {
    for (std::size_t j = 0; j < places.size(); ++j)
      if (static_cast<int>(j) != index && !Overlap(places[j].rect, designed)) visit(places[j].rect);
  };
  auto in_the_way = [&](const RECT& rect) {
    bool blocked = rect.right > client.right || rect.bottom > client.bottom;
    others([&](const RECT& other) { blocked = blocked || Overlap(other, rect); });
    return blocked;
  };
  if (!place.wrap) {
    const SIZE line = metrics.Line(text);
    if (line.cx <= width && line.cy <= height) return;
    const RECT wide = {designed.left, designed.top, designed.left + std::max(width, line.cx),
                       designed.top + std::max(height, line.cy)};
    if (!in_the_way(wide)) {
      place.rect = wide;
      return;
    }
    place.wrap = true;
  }
  const LONG needed = metrics.Wrapped(text, width).cy;
  if (needed <= height) return;
  place.rect.bottom = designed.top + needed;
  if (!in_the_way(place.rect)) return;
  const LONG margin = Scale(kLabelMargin);
  LONG right = client.right - margin;
  others([&](const RECT& other) {
    if (other.left >= designed.right && other.top < place.rect.bottom &&
        other.bottom > place.rect.top)
      right = std::min(right, other.left - margin);
  });
  if (right <= designed.right) return;
  const RECT wide = {
      designed.left, designed.top, right,
      designed.top + std::max(height, metrics.Wrapped(text, right - designed.left).cy)};
  if (!in_the_way(wide)) place.rect = wide;
}

void Win32Window::CreateControl(int index, const gui::ControlSpec& spec, const Place& place) {
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | WS_GROUP | (spec.visible ? WS_VISIBLE : 0) |
                (spec.tab_order >= 0 ? WS_TABSTOP : 0);
  DWORD ex_style = 0;
  const char* class_name = "STATIC";
  const char* text = spec.text.c_str();
  switch (spec.kind) {
    case gui::ControlKind::kLabel:
      style |= place.wrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
      break;
    case gui::ControlKind::kButton:
      class_name = "BUTTON";
      style |= spec.is_default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
      break;
    case gui::ControlKind::kEdit:
      class_name = "EDIT";
      ex_style |= WS_EX_CLIENTEDGE;
      style |= ES_LEFT | ES_AUTOHSCROLL | (spec.password_char ? ES_PASSWORD : 0);
      break;
    case gui::ControlKind::kListBox:
      class_name = "LISTBOX";
      ex_style |= WS_EX_CLIENTEDGE;
      style |= LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL |
               (spec.multi_select ? LBS_EXTENDEDSEL | LBS_MULTIPLESEL : 0);
      text = "";
      break;
    case gui::ControlKind::kRadioGroup:
      class_name = "BUTTON";
      style = (style & ~WS_TABSTOP) | BS_GROUPBOX;
      ex_style |= WS_EX_CONTROLPARENT;
      break;
    case gui::ControlKind::kBevel:
      style |= SS_ETCHEDFRAME;
      text = "";
      break;
  }
  const int id = kFirstControlId + index;
  const RECT& at = place.rect;
  UniqueWindow child(CreateWindowExA(
      ex_style, class_name, text, style, at.left, at.top, at.right - at.left, at.bottom - at.top,
      hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr));
  if (!child) throw Error("Cannot create the control " + spec_.name + "." + spec.name);
  const HFONT font = FontOf(spec);
  SendMessageA(child.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  std::unique_ptr<Win32Control> control;
  switch (spec.kind) {
    case gui::ControlKind::kLabel:
      control = std::make_unique<Win32Label>(gui_, spec, std::move(child));
      break;
    case gui::ControlKind::kButton:
      control = std::make_unique<Win32Button>(gui_, spec, std::move(child));
      break;
    case gui::ControlKind::kEdit:
      if (spec.password_char)
        SendMessageA(child.get(), EM_SETPASSWORDCHAR,
                     static_cast<unsigned char>(spec.password_char), 0);
      control = std::make_unique<Win32Edit>(gui_, spec, std::move(child));
      break;
    case gui::ControlKind::kListBox:
      if (spec.item_height > 0)
        SendMessageA(child.get(), LB_SETITEMHEIGHT, 0, MAKELPARAM(Scale(spec.item_height), 0));
      control = std::make_unique<Win32ListBox>(gui_, spec, std::move(child));
      break;
    case gui::ControlKind::kRadioGroup:
      control = std::make_unique<Win32RadioGroup>(gui_, spec, std::move(child), font,
                                                  TextMetrics(font).LineHeight());
      break;
    case gui::ControlKind::kBevel:
      control = std::make_unique<Win32Control>(gui_, spec, std::move(child));
      break;
  }
  by_id_[id] = control.get();
  controls_[spec.name] = std::move(control);
}

Win32Button* Win32Window::ButtonWhere(bool gui::ControlSpec::*flag) const {
  for (const auto& [name, control] : controls_)
    if (control->spec().kind == gui::ControlKind::kButton && control->spec().*flag)
      return static_cast<Win32Button*>(control.get());
  return nullptr;
}

void Win32Window::Command(int id, int code) {
  // Enter and Esc, through the dialog manager, when no button has the focus.
  if (id == IDOK || id == IDCANCEL) {
    Win32Button* button =
        ButtonWhere(id == IDOK ? &gui::ControlSpec::is_default : &gui::ControlSpec::is_cancel);
    if (button && IsWindowVisible(button->hwnd()) && IsWindowEnabled(button->hwnd()))
      button->Click();
    return;
  }
  if (auto it = by_id_.find(id); it != by_id_.end()) it->second->Notify(code);
}

LRESULT CALLBACK Win32Window::Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  // Until CreateWindowExA has returned, the object is not complete.
  if (!window || !window->window_) return DefWindowProcA(hwnd, message, wparam, lparam);
  // No exception may unwind through the system's code that called us.
  LRESULT result = 0;
  window->gui_.RunHandler([&] { result = window->Handle(message, wparam, lparam); });
  return result;
}

LRESULT Win32Window::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case DM_GETDEFID:
      if (Win32Button* button = ButtonWhere(&gui::ControlSpec::is_default))
        return MAKELRESULT(GetDlgCtrlID(button->hwnd()), DC_HASDEFID);
      return 0;
    case WM_NEXTDLGCTL: {
      HWND next = lparam ? reinterpret_cast<HWND>(wparam)
                         : GetNextDlgTabItem(hwnd(), GetFocus(), wparam != 0);
      if (next) SetFocus(next);
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus && IsChild(hwnd(), focus)) focus_ = focus;
      } else if (!HIWORD(wparam)) {
        HWND focus = focus_ && IsWindow(focus_) && IsChild(hwnd(), focus_)
                         ? focus_
                         : GetNextDlgTabItem(hwnd(), nullptr, FALSE);
        SetFocus(focus ? focus : hwnd());
      }
      return 0;
    case WM_CLOSE:
      gui_.RunHandler([this] { Close(); });
      return 0;
    case WM_QUERYENDSESSION: {
      if (!gui_.IsMain(this) || !on_close_query_) return TRUE;
      bool may_end = true;
      gui_.RunHandler([this, &may_end] { may_end = on_close_query_(); });
      return may_end;
    }
    case WM_ENDSESSION:
      if (wparam && gui_.IsMain(this)) gui_.Terminate();
      return 0;
    default:
      return DefWindowProcA(hwnd(), message, wparam, lparam);
  }
}

// --- Win32Gui ---

Win32Gui::Win32Gui() {
  RegisterClasses();
  messages_.reset(CreateWindowExA(0, kMessageClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  Instance(), nullptr));
  if (!messages_) throw Error("Cannot create the window of the event loop");
  SetWindowLongPtrA(messages_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

LRESULT CALLBACK Win32Gui::MessageProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* gui = reinterpret_cast<Win32Gui*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (gui && message == kRunPosted) {
    if (!gui->posted_.empty()) {
      std::function<void()> task = std::move(gui->posted_.front());
      gui->posted_.pop_front();
      gui->RunHandler(task);
    }
    return 0;
  }
  if (message == kWakeUp) return 0;
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

void Win32Gui::Dispatch(MSG& message) {
  // Tab, Enter and Esc in the forms, through the dialog manager.
  if (message.hwnd) {
    const HWND root = GetAncestor(message.hwnd, GA_ROOT);
    static const ATOM form_class = [] {
      WNDCLASSEXA info = {};
      info.cbSize = sizeof info;
      return static_cast<ATOM>(GetClassInfoExA(Instance(), kFormClassName, &info));
    }();
    if (root && static_cast<ATOM>(GetClassLongPtrA(root, GCW_ATOM)) == form_class &&
        IsDialogMessageA(root, &message))
      return;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

void Win32Gui::Run() {
  Nesting run(run_depth_);
  while (!terminated_) {
    MSG message;
    // Tasks for the idle loop run here only: in the outermost loop, with no message waiting.
    if (run_depth_ == 1 && nesting_ == 0 && !idle_.empty() &&
        !PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
      std::function<void()> task = std::move(idle_.front());
      idle_.pop_front();
      RunHandler(task);
      continue;
    }
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) terminated_ = true;  // WM_QUIT
    if (got <= 0) break;
    Dispatch(message);
  }
}

void Win32Gui::ProcessMessages() {
  Nesting nested(nesting_);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    Dispatch(message);
  }
}

HWND Win32Gui::Owner() const {
  if (const HWND active = GetActiveWindow()) return active;
  return main_hwnd();
}

gui::Answer Win32Gui::ShowMessage(const gui::MessageSpec& spec) {
  UINT type = 0;
  switch (spec.icon) {
    case gui::Icon::kNone:
      break;
    case gui::Icon::kQuestion:
      type |= MB_ICONQUESTION;
      break;
    case gui::Icon::kInformation:
      type |= MB_ICONINFORMATION;
      break;
    case gui::Icon::kWarning:
      type |= MB_ICONWARNING;
      break;
    case gui::Icon::kError:
      type |= MB_ICONERROR;
      break;
  }
  gui::Answer refused = gui::Answer::kCancel;  // what a box that cannot show gives
  switch (spec.buttons) {
    case gui::Buttons::kOk:
      type |= MB_OK;
      refused = gui::Answer::kOk;
      break;
    case gui::Buttons::kOkCancel:
      type |= MB_OKCANCEL;
      break;
    case gui::Buttons::kYesNo:
      type |= MB_YESNO;
      refused = gui::Answer::kNo;
      break;
    case gui::Buttons::kYesNoCancel:
      type |= MB_YESNOCANCEL;
      break;
  }
  const HWND owner = Owner();
  if (!owner) type |= MB_TASKMODAL;
  Nesting modal(nesting_);
  switch (MessageBoxA(owner, spec.text.c_str(), spec.caption.c_str(), type)) {
    case IDOK:
      return gui::Answer::kOk;
    case IDCANCEL:
      return gui::Answer::kCancel;
    case IDYES:
      return gui::Answer::kYes;
    case IDNO:
      return gui::Answer::kNo;
    default:
      return refused;
  }
}

std::optional<std::string> Win32Gui::OpenFileDialog(const gui::OpenFileSettings& settings) {
  // "Description|pattern|..." becomes "Description\0pattern\0...\0\0".
  std::string filter = settings.filter;
  std::replace(filter.begin(), filter.end(), '|', '\0');
  filter.append(2, '\0');
  std::vector<char> file(32768, '\0');
  settings.file_name.copy(file.data(), file.size() - 1);
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Owner();
  dialog.lpstrFilter = settings.filter.empty() ? nullptr : filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = settings.initial_dir.empty() ? nullptr : settings.initial_dir.c_str();
  dialog.lpstrTitle = settings.title.empty() ? nullptr : settings.title.c_str();
  dialog.lpstrDefExt = settings.default_ext.empty() ? nullptr : settings.default_ext.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR |
                 (settings.file_must_exist ? OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST : 0);
  Nesting modal(nesting_);
  if (!GetOpenFileNameA(&dialog)) return std::nullopt;
  return std::string(file.data());
}

}  // namespace

std::unique_ptr<gui::Gui> NewGui() {
  return std::make_unique<Win32Gui>();
}

HWND MainWindowOf(gui::Gui& gui) {
  const auto* own = dynamic_cast<Win32Gui*>(&gui);
  return own ? own->main_hwnd() : nullptr;
}

HWND WindowHandle(gui::Window& window) {
  return dynamic_cast<Win32Window&>(window).hwnd();
}

}  // namespace quillet::win32

namespace quillet {

gui::Gui& gui::Gui::Default() {
  // Never destroyed: windows may outlive any order of static destruction.
  static gui::Gui* const gui = new win32::Win32Gui();
  return *gui;
}

}  // namespace quillet
