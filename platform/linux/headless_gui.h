// The user interface on Linux: windows exist as state only, and a scripted user acts on them.
// Tests (and the demo, through a script of text lines) queue what the user answers to message
// boxes and file dialogs and what they do when the program is idle; everything shown is kept for
// reading back. A box or dialog that nobody answers, or an event loop with nothing left to do,
// aborts the process with a description instead of hanging.
#pragma once

#include <deque>
#include <istream>
#include <map>
#include <ostream>
#include <vector>

#include "platform/gui.h"
#include "platform/linux/unique_fd.h"

namespace quillet::linux_platform {

class HeadlessGui;

class HeadlessControl : public virtual gui::Control {
 public:
  explicit HeadlessControl(const gui::ControlSpec& spec) : spec_(spec), visible_(spec.visible) {}
  const gui::ControlSpec& spec() const { return spec_; }
  bool Visible() const override { return visible_; }
  void SetVisible(bool visible) override { visible_ = visible; }

 private:
  gui::ControlSpec spec_;
  bool visible_;
};

class HeadlessLabel : public HeadlessControl, public gui::Label {
 public:
  explicit HeadlessLabel(const gui::ControlSpec& spec) : HeadlessControl(spec), text_(spec.text) {}
  std::string Text() const override { return text_; }
  void SetText(const std::string& text) override { text_ = text; }

 private:
  std::string text_;
};

class HeadlessButton : public HeadlessControl, public gui::Button {
 public:
  using HeadlessControl::HeadlessControl;
  void SetOnClick(std::function<void()> handler) override { on_click_ = std::move(handler); }
  void UserClick(gui::Gui& gui) {
    if (on_click_) gui.RunHandler(on_click_);
  }

 private:
  std::function<void()> on_click_;
};

class HeadlessEdit : public HeadlessControl, public gui::Edit {
 public:
  explicit HeadlessEdit(const gui::ControlSpec& spec) : HeadlessControl(spec), text_(spec.text) {}
  std::string Text() const override { return text_; }
  void SetText(const std::string& text) override { text_ = text; }
  // What the edit shows: the password character for every character typed, when it has one.
  std::string Shown() const;

 private:
  std::string text_;
};

// A list box with the system's semantics: in a multi-select list the item index is the caret,
// 0 until moved even when nothing is selected; in a single-select list it is the selected item.
class HeadlessListBox : public HeadlessControl, public gui::ListBox {
 public:
  explicit HeadlessListBox(const gui::ControlSpec& spec);
  std::vector<std::string> Items() const override { return items_; }
  void SetItems(const std::vector<std::string>& items) override;
  int Count() const override { return static_cast<int>(items_.size()); }
  std::string Item(int index) const override;
  int ItemIndex() const override;
  void SetItemIndex(int index) override;
  bool Selected(int index) const override;
  void SetSelected(int index, bool selected) override;
  void SetOnClick(std::function<void()> handler) override { on_click_ = std::move(handler); }
  // The user selects exactly these items (clicking and shift/ctrl-clicking); the last one gets
  // the caret. A single-select list takes one item.
  void UserSelect(const std::vector<int>& indices, gui::Gui& gui);

 private:
  void CheckIndex(int index) const;

  std::vector<std::string> items_;
  std::vector<bool> selected_;
  int index_;
  std::function<void()> on_click_;
};

class HeadlessRadioGroup : public HeadlessControl, public gui::RadioGroup {
 public:
  explicit HeadlessRadioGroup(const gui::ControlSpec& spec)
      : HeadlessControl(spec), index_(spec.item_index) {}
  int ItemIndex() const override { return index_; }
  void SetItemIndex(int index) override { index_ = index; }
  void SetOnClick(std::function<void()> handler) override { on_click_ = std::move(handler); }
  void UserChoose(int index, gui::Gui& gui);

 private:
  int index_;
  std::function<void()> on_click_;
};

class HeadlessWindow : public gui::Window {
 public:
  HeadlessWindow(HeadlessGui& gui, const gui::FormSpec& spec);
  ~HeadlessWindow() override;

  void Show() override;
  void ShowMaximized() override;
  void Hide() override { visible_ = false; }
  bool Visible() const override { return visible_; }
  void BringToForeground() override;
  void Close() override;
  void SetOnCloseQuery(std::function<bool()> handler) override {
    on_close_query_ = std::move(handler);
  }
  void SetOnClose(std::function<void()> handler) override { on_close_ = std::move(handler); }

  gui::Label& label(const std::string& name) override { return Get<HeadlessLabel>(name); }
  gui::Button& button(const std::string& name) override { return Get<HeadlessButton>(name); }
  gui::Edit& edit(const std::string& name) override { return Get<HeadlessEdit>(name); }
  gui::ListBox& list_box(const std::string& name) override { return Get<HeadlessListBox>(name); }
  gui::RadioGroup& radio_group(const std::string& name) override {
    return Get<HeadlessRadioGroup>(name);
  }

  const gui::FormSpec& spec() const { return spec_; }
  bool maximized() const { return maximized_; }
  HeadlessControl& control(const std::string& name) const;

  // What the user does; each requires the window and the control to be visible.
  void UserClick(const std::string& button);
  void UserType(const std::string& edit, const std::string& text);
  void UserSelect(const std::string& list, const std::vector<int>& indices);
  void UserChoose(const std::string& radio_group, int index);
  // The close box.
  void UserClose();
  // Asks the close-query handler, as a log-off does; true when the window lets the session end.
  bool QueryEnd();

 private:
  template <typename T>
  T& Get(const std::string& name) const;
  HeadlessControl& Reachable(const std::string& name) const;

  HeadlessGui& gui_;
  gui::FormSpec spec_;
  std::map<std::string, std::unique_ptr<HeadlessControl>> controls_;
  bool visible_ = false;
  bool maximized_ = false;
  std::function<bool()> on_close_query_;
  std::function<void()> on_close_;
};

struct ShownMessage {
  gui::MessageSpec spec;
  gui::Answer answer;
};

struct ShownFileDialog {
  gui::OpenFileSettings settings;
  std::optional<std::string> answer;
};

class HeadlessGui : public gui::Gui {
 public:
  HeadlessGui();
  ~HeadlessGui() override;

  std::unique_ptr<gui::Window> NewWindow(const gui::FormSpec& spec) override;
  void SetMainWindow(gui::Window* window) override;
  gui::Answer ShowMessage(const gui::MessageSpec& spec) override;
  std::optional<std::string> OpenFileDialog(const gui::OpenFileSettings& settings) override;
  void Run() override;
  void ProcessMessages() override;
  void Terminate() override { terminated_ = true; }
  bool Terminated() const override { return terminated_; }
  void Post(std::function<void()> task) override;
  void PostToIdle(std::function<void()> task) override { idle_tasks_.push_back(std::move(task)); }
  int ShowCommand() override { return show_command_; }
  void Minimize() override { minimized_ = true; }

  // Readable while posted tasks or steps taken while busy are waiting, so that a wait for a
  // program can wake up for them.
  int input_fd() const { return input_fd_.get(); }

  // --- The scripted user ---
  // The answer to the next message box.
  void QueueAnswer(gui::Answer answer) { answers_.push_back(answer); }
  // What the user waits for before every answer and step (console windows to close, say).
  void SetPatience(std::function<void()> wait) { patience_ = std::move(wait); }
  // The answer to the next open-file dialog: a path, or nothing to cancel it.
  void QueueFile(std::optional<std::string> path) { files_.push_back(std::move(path)); }
  // A step the user takes once the program is idle in its event loop; a step `while_busy` is
  // taken as soon as the program processes messages, also while an operation waits.
  void QueueStep(std::function<void()> step, bool while_busy = false);
  // Further steps read from text lines, one per line, after the queued ones:
  //   click FORM BUTTON | type FORM EDIT TEXT | select FORM LIST I... | choose FORM GROUP I
  //   close FORM | quit (the task-bar entry) | endsession | answer OK|Cancel|Yes|No
  //   file PATH | file cancel; blank lines and lines starting with # are skipped.
  // "answer" and "file" lines are read when a box or dialog needs them.
  void SetScript(std::istream* script) { script_ = script; }
  // Where every box, dialog, shown window and user step is written as it happens, when set.
  void SetTranscript(std::ostream* transcript) { transcript_ = transcript; }
  void SetShowCommand(int command) { show_command_ = command; }

  // Handles what the event loop would before the user's next step: posted tasks and the tasks
  // waiting for the loop to be idle.
  void Settle() {
    while (RunPosted() || RunIdleTask()) {
    }
  }

  // The newest live window made from the form of this name; aborts when there is none.
  HeadlessWindow& Find(const std::string& form_name) const;
  HeadlessWindow* FindOrNull(const std::string& form_name) const;
  // The task-bar entry's close, which closes the main window, shown or hidden.
  void CloseTaskbarEntry();
  // The end of the user's session: true when the main window lets it end, which ends the
  // program without closing the window.
  bool EndSession();

  // --- What the user saw ---
  const std::vector<ShownMessage>& messages() const { return messages_; }
  const std::vector<ShownFileDialog>& file_dialogs() const { return file_dialogs_; }
  bool minimized() const { return minimized_; }
  const HeadlessWindow* foreground() const { return foreground_; }
  const std::vector<HeadlessWindow*>& windows() const { return windows_; }

  [[noreturn]] void Fail(const std::string& what) const;
  void Note(const std::string& line) const;

 private:
  friend class HeadlessWindow;
  struct Step {
    std::function<void()> run;
    bool while_busy;
  };

  void SignalInput();
  bool RunPosted();
  bool RunIdleTask();
  bool TakeStep(bool busy);
  // The next line of the script that is not blank or a comment; empty at its end.
  std::string NextScriptLine();
  void RunScriptLine(const std::string& line);
  gui::Answer ScriptAnswer(const gui::MessageSpec& spec);

  std::deque<std::function<void()>> posted_;
  std::deque<std::function<void()>> idle_tasks_;
  std::deque<Step> steps_;
  std::deque<gui::Answer> answers_;
  std::deque<std::optional<std::string>> files_;
  std::function<void()> patience_;
  std::istream* script_ = nullptr;
  std::ostream* transcript_ = nullptr;
  std::vector<ShownMessage> messages_;
  std::vector<ShownFileDialog> file_dialogs_;
  std::vector<HeadlessWindow*> windows_;
  HeadlessWindow* main_ = nullptr;
  HeadlessWindow* foreground_ = nullptr;
  bool terminated_ = false;
  bool minimized_ = false;
  int show_command_ = gui::kShowNormal;
  UniqueFd input_fd_;
};

// The user interface the program runs with on Linux.
HeadlessGui& DefaultHeadlessGui();

}  // namespace quillet::linux_platform
