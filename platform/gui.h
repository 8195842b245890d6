// Port: the Windows user interface. The program describes its windows as data (FormSpec) and a
// backend renders them: real windows on Windows, a headless and scriptable backend on Linux.
// All of it runs on the one user-interface thread.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"

namespace quillet::gui {

enum class Icon { kNone, kQuestion, kInformation, kWarning, kError };
enum class Buttons { kOk, kOkCancel, kYesNo, kYesNoCancel };
// The button a modal message box was closed with (the system's ID values).
enum class Answer { kOk = 1, kCancel = 2, kYes = 6, kNo = 7 };

struct MessageSpec {
  std::string text;
  std::string caption;
  Icon icon = Icon::kNone;
  Buttons buttons = Buttons::kOk;
};

// Show commands the process can be started with (SW_ values).
inline constexpr int kShowNormal = 1;
inline constexpr int kShowMaximized = 3;
inline constexpr int kShowMinNoActive = 7;

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
};

struct Font {
  std::string name;
  int height = 0;  // negative: character height in pixels; positive: cell height
  bool bold = false;
  bool italic = false;
};

enum class ControlKind { kLabel, kButton, kEdit, kListBox, kRadioGroup, kBevel };
enum class ButtonGlyph { kNone, kOk, kCancel };

struct ControlSpec {
  std::string name;
  ControlKind kind = ControlKind::kLabel;
  std::string text;  // caption of labels, buttons and radio groups; initial text of edits
  Rect bounds;
  std::optional<Font> font;  // the window's font when unset
  int tab_order = -1;        // -1: takes no focus
  bool visible = true;
  bool word_wrap = false;     // labels
  bool multi_select = false;  // list boxes
  int item_height = 0;        // list boxes
  char password_char = 0;     // edits: shown for every typed character when set
  ButtonGlyph glyph = ButtonGlyph::kNone;
  bool is_default = false;         // buttons: pressed by Enter
  bool is_cancel = false;          // buttons: pressed by Esc
  std::vector<std::string> items;  // radio groups
  int item_index = -1;             // radio groups: the selected item
};

enum class Border { kSizeable, kDialog };
enum class Placement { kDesigned, kScreenCenter };

struct FormSpec {
  std::string name;  // the form object's name, such as "Form2"
  std::string caption;
  Rect bounds;  // outer size, or the client area's when client_size is set
  bool client_size = false;
  Border border = Border::kSizeable;
  Placement placement = Placement::kDesigned;
  int pixels_per_inch = 96;  // the resolution the form was designed at
  bool scaled = true;        // scaled to the screen's resolution
  Font font;
  std::vector<ControlSpec> controls;
};

struct OpenFileSettings {
  std::string title;
  std::string filter;  // "Description|pattern|..." pairs; empty for none
  std::string default_ext;
  std::string initial_dir;
  std::string file_name;
  bool file_must_exist = false;
};

class Control {
 public:
  virtual ~Control() = default;
  virtual bool Visible() const = 0;
  virtual void SetVisible(bool visible) = 0;
};

class Label : public virtual Control {
 public:
  virtual std::string Text() const = 0;
  virtual void SetText(const std::string& text) = 0;
};

class Button : public virtual Control {
 public:
  virtual void SetOnClick(std::function<void()> handler) = 0;
};

class Edit : public virtual Control {
 public:
  virtual std::string Text() const = 0;
  virtual void SetText(const std::string& text) = 0;
};

// A list box. Selections made through this interface raise no click; only the user's
// selection changes do.
class ListBox : public virtual Control {
 public:
  virtual std::vector<std::string> Items() const = 0;
  // Replaces all items, which clears the selection.
  virtual void SetItems(const std::vector<std::string>& items) = 0;
  virtual int Count() const = 0;
  // Raises Error "List index out of bounds (N)" for an index outside the items.
  virtual std::string Item(int index) const = 0;
  // The item with the focus (the selected one in a single-select list), -1 for none.
  virtual int ItemIndex() const = 0;
  virtual void SetItemIndex(int index) = 0;
  // Raises Error "List index out of bounds (N)" for an index outside the items.
  virtual bool Selected(int index) const = 0;
  virtual void SetSelected(int index, bool selected) = 0;
  virtual void SetOnClick(std::function<void()> handler) = 0;
};

class RadioGroup : public virtual Control {
 public:
  virtual int ItemIndex() const = 0;
  virtual void SetItemIndex(int index) = 0;
  virtual void SetOnClick(std::function<void()> handler) = 0;
};

// A top-level window made from a FormSpec; destroying the object destroys the window.
class Window {
 public:
  virtual ~Window() = default;
  virtual void Show() = 0;
  virtual void ShowMaximized() = 0;
  virtual void Hide() = 0;
  virtual bool Visible() const = 0;
  virtual void BringToForeground() = 0;
  // Asks to close, as the close box does: the close-query handler may refuse; otherwise the close
  // handler runs and the window is hidden.
  virtual void Close() = 0;
  virtual void SetOnCloseQuery(std::function<bool()> handler) = 0;
  virtual void SetOnClose(std::function<void()> handler) = 0;

  virtual Label& label(const std::string& name) = 0;
  virtual Button& button(const std::string& name) = 0;
  virtual Edit& edit(const std::string& name) = 0;
  virtual ListBox& list_box(const std::string& name) = 0;
  virtual RadioGroup& radio_group(const std::string& name) = 0;
};

// The application: windows, modal boxes and the event loop.
class Gui {
 public:
  virtual ~Gui() = default;
  static Gui& Default();

  virtual std::unique_ptr<Window> NewWindow(const FormSpec& spec) = 0;
  // The window whose task-bar entry is the application's; closing that entry, or the end of the
  // user's session, asks this window to close.
  virtual void SetMainWindow(Window* window) = 0;
  virtual Answer ShowMessage(const MessageSpec& spec) = 0;
  // The chosen file's full path, or nothing when the user cancels.
  virtual std::optional<std::string> OpenFileDialog(const OpenFileSettings& settings) = 0;

  // Processes messages until Terminate is called.
  virtual void Run() = 0;
  // Handles the messages that are pending, then returns.
  virtual void ProcessMessages() = 0;
  virtual void Terminate() = 0;
  virtual bool Terminated() const = 0;
  // Runs a task from the event loop, after the messages already queued.
  virtual void Post(std::function<void()> task) = 0;
  // Runs a task from the event loop itself once it is idle, never from a nested ProcessMessages
  // or modal box, so that the task may destroy a window whose handler is still running below.
  virtual void PostToIdle(std::function<void()> task) = 0;
  // The show command the process was started with.
  virtual int ShowCommand() = 0;
  virtual void Minimize() = 0;

  // The application title: the program file's name without directory and extension, every
  // letter after the first in lower case.
  void SetTitleFromPath(const std::string& program_path);
  const std::string& Title() const { return title_; }
  // The general error report: the error's text, with a full stop appended when its last character
  // sorts after ".", captioned with the title, with an error icon and an OK button.
  void ReportError(const std::string& message);
  // Runs code that the system called: an event handler, a posted task, a window procedure, the
  // program's start. Whatever it throws goes to the general error report, and false is returned:
  // no exception may leave an event, on Windows least of all, where the system's code called the
  // window procedure. Both implementations run every handler they call through this.
  template <typename F>
  bool RunHandler(F&& handler) {
    try {
      handler();
      return true;
    } catch (const std::exception& e) {
      ReportError(e.what());
    } catch (...) {
      ReportError(kUnknownError);
    }
    return false;
  }
  // A confirmation box: caption "Confirm", question icon.
  Answer Confirm(const std::string& text, Buttons buttons);

 private:
  std::string title_;
};

}  // namespace quillet::gui
