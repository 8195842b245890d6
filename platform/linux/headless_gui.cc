#include "platform/linux/headless_gui.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "base/error.h"
#include "base/text.h"

namespace quillet::linux_platform {

using gui::Answer;
using gui::Buttons;

namespace {

const char* AnswerName(Answer answer) {
  switch (answer) {
    case Answer::kOk:
      return "OK";
    case Answer::kCancel:
      return "Cancel";
    case Answer::kYes:
      return "Yes";
    case Answer::kNo:
      return "No";
  }
  return "?";
}

std::vector<Answer> ButtonsOf(Buttons buttons) {
  switch (buttons) {
    case Buttons::kOk:
      return {Answer::kOk};
    case Buttons::kOkCancel:
      return {Answer::kOk, Answer::kCancel};
    case Buttons::kYesNo:
      return {Answer::kYes, Answer::kNo};
    case Buttons::kYesNoCancel:
      return {Answer::kYes, Answer::kNo, Answer::kCancel};
  }
  return {};
}

const char* IconName(gui::Icon icon) {
  switch (icon) {
    case gui::Icon::kNone:
      return "no icon";
    case gui::Icon::kQuestion:
      return "question";
    case gui::Icon::kInformation:
      return "information";
    case gui::Icon::kWarning:
      return "warning";
    case gui::Icon::kError:
      return "error";
  }
  return "?";
}

std::string Describe(const gui::MessageSpec& spec) {
  std::string buttons;
  for (Answer a : ButtonsOf(spec.buttons))
    buttons += std::string(buttons.empty() ? "" : " ") + AnswerName(a);
  return "message box \"" + spec.caption + "\" (" + IconName(spec.icon) + "; " + buttons +
         "): " + spec.text;
}

}  // namespace

// --- Controls ---

std::string HeadlessEdit::Shown() const {
  return spec().password_char ? std::string(text_.size(), spec().password_char) : text_;
}

HeadlessListBox::HeadlessListBox(const gui::ControlSpec& spec)
    : HeadlessControl(spec), index_(spec.multi_select ? 0 : -1) {}

void HeadlessListBox::SetItems(const std::vector<std::string>& items) {
  items_ = items;
  selected_.assign(items_.size(), false);
  index_ = spec().multi_select ? 0 : -1;
}

int HeadlessListBox::ItemIndex() const {
  return index_;
}

void HeadlessListBox::SetItemIndex(int index) {
  if (index < 0 || index >= Count()) index = -1;
  if (spec().multi_select) {
    index_ = index < 0 ? 0 : index;
    return;
  }
  selected_.assign(items_.size(), false);
  if (index >= 0) selected_[index] = true;
  index_ = index;
}

void HeadlessListBox::CheckIndex(int index) const {
  if (index < 0 || index >= Count())
    throw Error("List index out of bounds (" + std::to_string(index) + ")");
}

std::string HeadlessListBox::Item(int index) const {
  CheckIndex(index);
  return items_[index];
}

bool HeadlessListBox::Selected(int index) const {
  CheckIndex(index);
  return selected_[index];
}

void HeadlessListBox::SetSelected(int index, bool selected) {
  CheckIndex(index);
  if (!spec().multi_select) {
    SetItemIndex(selected ? index : (index == index_ ? -1 : index_));
    return;
  }
  selected_[index] = selected;
}

void HeadlessListBox::UserSelect(const std::vector<int>& indices, gui::Gui& gui) {
  for (int i : indices)
    if (i < 0 || i >= Count()) throw std::out_of_range("the list has no item " + std::to_string(i));
  if (!spec().multi_select && indices.size() != 1)
    throw std::invalid_argument("a single-select list takes exactly one item");
  selected_.assign(items_.size(), false);
  for (int i : indices) selected_[i] = true;
  if (!indices.empty()) index_ = indices.back();
  if (on_click_) gui.RunHandler(on_click_);
}

void HeadlessRadioGroup::UserChoose(int index, gui::Gui& gui) {
  if (index < 0 || index >= static_cast<int>(spec().items.size()))
    throw std::out_of_range("the radio group has no item " + std::to_string(index));
  index_ = index;
  if (on_click_) gui.RunHandler(on_click_);
}

// --- Windows ---

HeadlessWindow::HeadlessWindow(HeadlessGui& gui, const gui::FormSpec& spec)
    : gui_(gui), spec_(spec) {
  for (const gui::ControlSpec& c : spec.controls) {
    std::unique_ptr<HeadlessControl> control;
    switch (c.kind) {
      case gui::ControlKind::kLabel:
        control = std::make_unique<HeadlessLabel>(c);
        break;
      case gui::ControlKind::kButton:
        control = std::make_unique<HeadlessButton>(c);
        break;
      case gui::ControlKind::kEdit:
        control = std::make_unique<HeadlessEdit>(c);
        break;
      case gui::ControlKind::kListBox:
        control = std::make_unique<HeadlessListBox>(c);
        break;
      case gui::ControlKind::kRadioGroup:
        control = std::make_unique<HeadlessRadioGroup>(c);
        break;
      case gui::ControlKind::kBevel:
        control = std::make_unique<HeadlessControl>(c);
        break;
    }
    controls_[c.name] = std::move(control);
  }
  gui_.windows_.push_back(this);
}

HeadlessWindow::~HeadlessWindow() {
  std::erase(gui_.windows_, this);
  if (gui_.main_ == this) gui_.main_ = nullptr;
  if (gui_.foreground_ == this) gui_.foreground_ = nullptr;
}

void HeadlessWindow::Show() {
  if (!visible_) gui_.Note("window " + spec_.name + " \"" + spec_.caption + "\" shown");
  visible_ = true;
  maximized_ = false;
}

void HeadlessWindow::ShowMaximized() {
  if (!visible_) gui_.Note("window " + spec_.name + " \"" + spec_.caption + "\" shown maximized");
  visible_ = true;
  maximized_ = true;
}

void HeadlessWindow::BringToForeground() {
  gui_.foreground_ = this;
}

void HeadlessWindow::Close() {
  if (on_close_query_ && !on_close_query_()) return;
  if (on_close_) on_close_();
  Hide();
}

bool HeadlessWindow::QueryEnd() {
  return !on_close_query_ || on_close_query_();
}

HeadlessControl& HeadlessWindow::control(const std::string& name) const {
  auto it = controls_.find(name);
  if (it == controls_.end()) gui_.Fail("form " + spec_.name + " has no control " + name);
  return *it->second;
}

template <typename T>
T& HeadlessWindow::Get(const std::string& name) const {
  T* typed = dynamic_cast<T*>(&control(name));
  if (!typed) gui_.Fail("control " + spec_.name + "." + name + " is of another kind");
  return *typed;
}

HeadlessControl& HeadlessWindow::Reachable(const std::string& name) const {
  if (!visible_)
    gui_.Fail("the user cannot reach " + spec_.name + "." + name + ": the window is hidden");
  HeadlessControl& c = control(name);
  if (!c.Visible())
    gui_.Fail("the user cannot reach " + spec_.name + "." + name + ": it is hidden");
  return c;
}

void HeadlessWindow::UserClick(const std::string& button) {
  Reachable(button);
  Get<HeadlessButton>(button).UserClick(gui_);
}

void HeadlessWindow::UserType(const std::string& edit, const std::string& text) {
  Reachable(edit);
  Get<HeadlessEdit>(edit).SetText(text);
}

void HeadlessWindow::UserSelect(const std::string& list, const std::vector<int>& indices) {
  Reachable(list);
  Get<HeadlessListBox>(list).UserSelect(indices, gui_);
}

void HeadlessWindow::UserChoose(const std::string& radio_group, int index) {
  Reachable(radio_group);
  Get<HeadlessRadioGroup>(radio_group).UserChoose(index, gui_);
}

void HeadlessWindow::UserClose() {
  if (!visible_) gui_.Fail("the user cannot close " + spec_.name + ": the window is hidden");
  gui_.RunHandler([this] { Close(); });
}

// --- The application ---

HeadlessGui::HeadlessGui() : input_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
HeadlessGui::~HeadlessGui() = default;

void HeadlessGui::SignalInput() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(input_fd_.get(), &one, sizeof one);
}

void HeadlessGui::Post(std::function<void()> task) {
  posted_.push_back(std::move(task));
  SignalInput();
}

std::unique_ptr<gui::Window> HeadlessGui::NewWindow(const gui::FormSpec& spec) {
  return std::make_unique<HeadlessWindow>(*this, spec);
}

void HeadlessGui::SetMainWindow(gui::Window* window) {
  main_ = dynamic_cast<HeadlessWindow*>(window);
}

void HeadlessGui::Fail(const std::string& what) const {
  std::fprintf(stderr, "headless user interface: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void HeadlessGui::Note(const std::string& line) const {
  if (transcript_) *transcript_ << line << std::endl;
}

Answer HeadlessGui::ShowMessage(const gui::MessageSpec& spec) {
  if (patience_) patience_();
  Answer answer;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else {
    answer = ScriptAnswer(spec);
  }
  const std::vector<Answer> buttons = ButtonsOf(spec.buttons);
  if (std::find(buttons.begin(), buttons.end(), answer) == buttons.end())
    Fail(std::string("answer ") + AnswerName(answer) + " given to " + Describe(spec));
  messages_.push_back({spec, answer});
  Note(Describe(spec) + " -> " + AnswerName(answer));
  return answer;
}

Answer HeadlessGui::ScriptAnswer(const gui::MessageSpec& spec) {
  const std::string line = NextScriptLine();
  std::istringstream words(line);
  std::string verb, name;
  words >> verb >> name;
  if (verb != "answer") Fail("nobody answers the " + Describe(spec));
  for (Answer a : {Answer::kOk, Answer::kCancel, Answer::kYes, Answer::kNo})
    if (name == AnswerName(a)) return a;
  Fail("unknown answer \"" + name + "\" to the " + Describe(spec));
}

std::optional<std::string> HeadlessGui::OpenFileDialog(const gui::OpenFileSettings& settings) {
  if (patience_) patience_();
  std::optional<std::string> answer;
  if (!files_.empty()) {
    answer = files_.front();
    files_.pop_front();
  } else {
    const std::string line = NextScriptLine();
    if (!line.starts_with("file "))
      Fail("nobody answers the open-file dialog \"" + settings.title + "\"");
    const std::string path = line.substr(5);
    if (path != "cancel") answer = path;
  }
  file_dialogs_.push_back({settings, answer});
  Note("open-file dialog \"" + settings.title + "\" -> " + answer.value_or("(cancelled)"));
  return answer;
}

void HeadlessGui::QueueStep(std::function<void()> step, bool while_busy) {
  steps_.push_back({std::move(step), while_busy});
  if (while_busy) SignalInput();
}

bool HeadlessGui::RunPosted() {
  if (posted_.empty()) return false;
  std::function<void()> task = std::move(posted_.front());
  posted_.pop_front();
  RunHandler(task);
  return true;
}

bool HeadlessGui::TakeStep(bool busy) {
  if (patience_ && !busy) patience_();
  if (!steps_.empty()) {
    if (busy && !steps_.front().while_busy) return false;
    std::function<void()> step = std::move(steps_.front().run);
    steps_.pop_front();
    step();
    return true;
  }
  if (busy) return false;
  const std::string line = NextScriptLine();
  if (line.empty()) return false;
  RunScriptLine(line);
  return true;
}

bool HeadlessGui::RunIdleTask() {
  if (idle_tasks_.empty()) return false;
  std::function<void()> task = std::move(idle_tasks_.front());
  idle_tasks_.pop_front();
  RunHandler(task);
  return true;
}

void HeadlessGui::Run() {
  while (!terminated_) {
    if (RunPosted() || RunIdleTask() || TakeStep(false)) continue;
    Fail("the event loop is idle and the scripted user has nothing left to do");
  }
}

void HeadlessGui::ProcessMessages() {
  std::uint64_t count;
  while (read(input_fd_.get(), &count, sizeof count) > 0) {
  }
  while (RunPosted() || TakeStep(true)) {
  }
}

std::string HeadlessGui::NextScriptLine() {
  std::string line;
  while (script_ && GetLine(*script_, line)) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    return line.substr(start);
  }
  return {};
}

void HeadlessGui::RunScriptLine(const std::string& line) {
  Note("user: " + line);
  std::istringstream words(line);
  std::string verb, form, control;
  words >> verb;
  if (verb == "quit") return CloseTaskbarEntry();
  if (verb == "endsession") {
    EndSession();
    return;
  }
  if (verb == "answer" || verb == "file")
    Fail("\"" + line + "\" answers nothing: no box is showing");
  words >> form;
  HeadlessWindow& window = Find(form);
  if (verb == "close") return window.UserClose();
  words >> control;
  if (verb == "click") return window.UserClick(control);
  if (verb == "type") {
    std::string text;
    std::getline(words >> std::ws, text);
    return window.UserType(control, text);
  }
  std::vector<int> numbers;
  for (int n; words >> n;) numbers.push_back(n);
  if (verb == "select") return window.UserSelect(control, numbers);
  if (verb == "choose" && numbers.size() == 1) return window.UserChoose(control, numbers[0]);
  Fail("cannot read the script line \"" + line + "\"");
}

HeadlessWindow* HeadlessGui::FindOrNull(const std::string& form_name) const {
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
    if ((*it)->spec().name == form_name) return *it;
  return nullptr;
}

HeadlessWindow& HeadlessGui::Find(const std::string& form_name) const {
  HeadlessWindow* window = FindOrNull(form_name);
  if (!window) Fail("there is no window of form " + form_name);
  return *window;
}

void HeadlessGui::CloseTaskbarEntry() {
  if (!main_) Fail("the application has no main window to close");
  main_->Close();
}

bool HeadlessGui::EndSession() {
  if (!main_) Fail("the application has no main window");
  if (!main_->QueryEnd()) {
    Note("the session end was refused");
    return false;
  }
  Terminate();  // the system ends the program once the session ends
  return true;
}

}  // namespace quillet::linux_platform

namespace quillet {

// The program's own user interface on Linux: the user's steps come from the script named by
// QUILLET_SCRIPT, or from standard input, and everything shown goes to standard output.
linux_platform::HeadlessGui& linux_platform::DefaultHeadlessGui() {
  static linux_platform::HeadlessGui gui;
  static std::ifstream script_file;
  [[maybe_unused]] static const bool configured = [] {
    if (const char* path = std::getenv("QUILLET_SCRIPT"); path && *path) {
      script_file.open(path);
      if (!script_file) gui.Fail(std::string("cannot read the script ") + path);
      gui.SetScript(&script_file);
    } else {
      gui.SetScript(&std::cin);
    }
    gui.SetTranscript(&std::cout);
    if (const char* show = std::getenv("QUILLET_SHOW_COMMAND"); show && *show)
      gui.SetShowCommand(std::atoi(show));
    return true;
  }();
  return gui;
}

gui::Gui& gui::Gui::Default() {
  return linux_platform::DefaultHeadlessGui();
}

}  // namespace quillet
