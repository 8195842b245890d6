#include "platform/linux/headless_gui.h"

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/error.h"

namespace quillet::linux_platform {
namespace {

using gui::Answer;
using gui::Buttons;
using gui::ControlKind;
using gui::Icon;
using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

gui::ControlSpec Control(const std::string& name, ControlKind kind) {
  gui::ControlSpec control;
  control.name = name;
  control.kind = kind;
  return control;
}

gui::FormSpec TestForm(const std::string& name = "Form1") {
  gui::FormSpec form;
  form.name = name;
  form.caption = "Sign";
  form.controls.push_back(Control("Prompt", ControlKind::kLabel));
  form.controls.push_back(Control("Password", ControlKind::kEdit));
  form.controls.back().password_char = '*';
  form.controls.push_back(Control("OK", ControlKind::kButton));
  form.controls.push_back(Control("Browse", ControlKind::kButton));
  form.controls.push_back(Control("Recipients", ControlKind::kListBox));
  form.controls.back().multi_select = true;
  form.controls.push_back(Control("Signer", ControlKind::kListBox));
  form.controls.push_back(Control("Mode", ControlKind::kRadioGroup));
  form.controls.back().items = {"Sign", "Encrypt", "Both"};
  form.controls.back().item_index = 0;
  return form;
}

// All parts of a message box, to compare at once.
std::tuple<std::string, std::string, Icon, Buttons> Parts(const gui::MessageSpec& box) {
  return {box.text, box.caption, box.icon, box.buttons};
}

// A gui of the test's own with one shown window of TestForm.
class HeadlessGuiTest : public ::testing::Test {
 protected:
  HeadlessGuiTest() { window_.Show(); }

  HeadlessGui gui_;
  std::unique_ptr<gui::Window> owned_ = gui_.NewWindow(TestForm());
  HeadlessWindow& window_ = gui_.Find("Form1");
};
using HeadlessGuiDeathTest = HeadlessGuiTest;

TEST_F(HeadlessGuiTest, MessageBoxesTakeQueuedAnswersInOrderAndAreRecorded) {
  gui_.QueueAnswer(Answer::kNo);
  gui_.QueueAnswer(Answer::kCancel);
  EXPECT_EQ(gui_.ShowMessage({"Overwrite?", "Quillet", Icon::kWarning, Buttons::kYesNo}),
            Answer::kNo);
  EXPECT_EQ(gui_.Confirm("Delete the key?", Buttons::kOkCancel), Answer::kCancel);
  ASSERT_EQ(gui_.messages().size(), 2u);
  EXPECT_EQ(Parts(gui_.messages()[0].spec),
            Parts({"Overwrite?", "Quillet", Icon::kWarning, Buttons::kYesNo}));
  EXPECT_EQ(gui_.messages()[0].answer, Answer::kNo);
  EXPECT_EQ(Parts(gui_.messages()[1].spec),
            Parts({"Delete the key?", "Confirm", Icon::kQuestion, Buttons::kOkCancel}));
  EXPECT_EQ(gui_.messages()[1].answer, Answer::kCancel);
}

TEST_F(HeadlessGuiTest, ErrorReportsAddAFullStopOnlyAfterCharactersThatSortAfterIt) {
  gui_.SetTitleFromPath("/usr/bin/quillet");
  EXPECT_EQ(gui_.Title(), "quillet");
  gui_.SetTitleFromPath("C:\\PGP\\QUILLET.EXE");
  EXPECT_EQ(gui_.Title(), "Quillet");
  // '?' sorts after '.', ')' before it.
  const std::vector<std::pair<std::string, std::string>> reports = {
      {"Key File Does Not Exist", "Key File Does Not Exist."},
      {"Done.", "Done."},
      {"Is it?", "Is it?."},
      {"List (0)", "List (0)"}};
  for (const auto& [report, shown] : reports) {
    gui_.QueueAnswer(Answer::kOk);
    gui_.ReportError(report);
    EXPECT_EQ(Parts(gui_.messages().back().spec),
              Parts({shown, "Quillet", Icon::kError, Buttons::kOk}));
  }
}

TEST_F(HeadlessGuiTest, OpenFileDialogAnswersAreRecordedWithTheirSettings) {
  gui_.QueueFile("/keys/secret.ring");
  gui_.QueueFile(std::nullopt);
  gui::OpenFileSettings key_ring, other;
  key_ring.filter = "Key rings|*.ring";
  other.file_must_exist = true;
  EXPECT_EQ(gui_.OpenFileDialog(key_ring), "/keys/secret.ring");
  EXPECT_EQ(gui_.OpenFileDialog(other), std::nullopt);
  ASSERT_EQ(gui_.file_dialogs().size(), 2u);
  EXPECT_EQ(gui_.file_dialogs()[0].settings.filter, "Key rings|*.ring");
  EXPECT_EQ(gui_.file_dialogs()[0].answer, "/keys/secret.ring");
  EXPECT_TRUE(gui_.file_dialogs()[1].settings.file_must_exist);
  EXPECT_EQ(gui_.file_dialogs()[1].answer, std::nullopt);
}

TEST_F(HeadlessGuiDeathTest, WhatNobodyCanAnswerAbortsWithADescription) {
  const gui::MessageSpec box{"Sign now?", "Quillet", Icon::kQuestion, Buttons::kYesNo};
  EXPECT_DEATH(gui_.ShowMessage(box), "nobody answers the message box \"Quillet\"");
  EXPECT_DEATH(
      {
        gui_.QueueAnswer(Answer::kOk);
        gui_.ShowMessage(box);
      },
      "answer OK given to message box");
  EXPECT_DEATH(gui_.Run(), "nothing left to do");
  window_.Hide();
  EXPECT_DEATH(window_.UserClick("OK"), "the window is hidden");
  window_.Show();
  window_.button("OK").SetVisible(false);
  EXPECT_DEATH(window_.UserClick("OK"), "cannot reach Form1.OK: it is hidden");
}

TEST_F(HeadlessGuiTest, ListBoxesFollowTheSystemsIndexAndSelectionRules) {
  gui::ListBox& multi = window_.list_box("Recipients");
  gui::ListBox& single = window_.list_box("Signer");
  // In a multi-select list the item index is the caret, which starts on the first item.
  EXPECT_EQ(multi.ItemIndex(), 0);
  EXPECT_EQ(single.ItemIndex(), -1);

  multi.SetItems({"alice", "bob", "carol"});
  multi.SetSelected(1, true);
  single.SetItems({"alice", "bob"});
  single.SetItemIndex(1);
  EXPECT_TRUE(single.Selected(1));
  // An index outside the items selects nothing, and the list says so with -1.
  single.SetItemIndex(-2);
  EXPECT_EQ(single.ItemIndex(), -1);
  EXPECT_FALSE(single.Selected(1));
  single.SetItemIndex(1);
  EXPECT_THAT([&] { multi.Selected(3); },
              ThrowsMessage<Error>(StrEq("List index out of bounds (3)")));
  EXPECT_THAT([&] { single.SetSelected(-1, true); },
              ThrowsMessage<Error>(StrEq("List index out of bounds (-1)")));

  multi.SetItems({"dave", "erin"});
  single.SetItems({"dave", "erin"});
  EXPECT_FALSE(multi.Selected(0) || multi.Selected(1));
  EXPECT_FALSE(single.Selected(0) || single.Selected(1));
  EXPECT_EQ(multi.ItemIndex(), 0);
  EXPECT_EQ(single.ItemIndex(), -1);
}

TEST_F(HeadlessGuiTest, OnlyTheUserRaisesClicks) {
  int clicks = 0;
  gui::ListBox& multi = window_.list_box("Recipients");
  gui::ListBox& single = window_.list_box("Signer");
  gui::RadioGroup& mode = window_.radio_group("Mode");
  for (gui::ListBox* list : {&multi, &single}) {
    list->SetOnClick([&] { ++clicks; });
    list->SetItems({"alice", "bob", "carol"});
  }
  mode.SetOnClick([&] { ++clicks; });
  multi.SetSelected(0, true);
  multi.SetItemIndex(1);
  single.SetSelected(0, true);
  single.SetItemIndex(2);
  mode.SetItemIndex(1);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(mode.ItemIndex(), 1);

  window_.UserSelect("Recipients", {1, 2});
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(multi.Selected(0));
  EXPECT_TRUE(multi.Selected(1) && multi.Selected(2));
  EXPECT_EQ(multi.ItemIndex(), 2);
  window_.UserSelect("Signer", {0});
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(single.ItemIndex(), 0);
  EXPECT_FALSE(single.Selected(2));
  window_.UserChoose("Mode", 2);
  EXPECT_EQ(clicks, 3);
  EXPECT_EQ(mode.ItemIndex(), 2);
}

// Whatever a handler or a posted task throws goes to the error report, and no further.
TEST_F(HeadlessGuiTest, WhatAHandlerThrowsIsReported) {
  window_.list_box("Signer").SetItems({"alice"});
  window_.list_box("Signer").SetOnClick([] { throw Error("Key File Does Not Exist"); });
  gui_.Post([] { throw 42; });
  gui_.QueueAnswer(Answer::kOk);
  gui_.QueueAnswer(Answer::kOk);
  window_.UserSelect("Signer", {0});
  gui_.ProcessMessages();
  ASSERT_EQ(gui_.messages().size(), 2u);
  EXPECT_EQ(gui_.messages()[0].spec.text, "Key File Does Not Exist.");
  EXPECT_EQ(gui_.messages()[1].spec.text, "An unknown error occurred.");
}

TEST_F(HeadlessGuiTest, CloseAsksTheCloseQueryFirst) {
  bool allow = false;
  int queries = 0, closes = 0;
  window_.SetOnCloseQuery([&] {
    ++queries;
    return allow;
  });
  window_.SetOnClose([&] { ++closes; });
  window_.Close();
  EXPECT_EQ(queries, 1);
  EXPECT_EQ(closes, 0);
  EXPECT_TRUE(window_.Visible());
  allow = true;
  window_.Close();
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(window_.Visible());

  // The task-bar entry stays while the main window is hidden, and closes it.
  gui_.SetMainWindow(&window_);
  gui_.CloseTaskbarEntry();
  EXPECT_EQ(queries, 3);
  EXPECT_EQ(closes, 2);
}

TEST_F(HeadlessGuiTest, EndSessionTerminatesOnlyWhenTheMainWindowAgrees) {
  bool allow = false;
  int closes = 0;
  gui_.SetMainWindow(&window_);
  window_.SetOnCloseQuery([&] { return allow; });
  window_.SetOnClose([&] { ++closes; });
  EXPECT_FALSE(gui_.EndSession());
  EXPECT_FALSE(gui_.Terminated());
  allow = true;
  EXPECT_TRUE(gui_.EndSession());
  EXPECT_TRUE(gui_.Terminated());
  EXPECT_EQ(closes, 0);
}

TEST_F(HeadlessGuiTest, IdleStepsWaitForRunWhileBusyStepsAndPostedTasksDoNot) {
  std::string order;
  window_.button("OK").SetOnClick([&] {
    order += "scripted ";
    gui_.Terminate();
  });
  std::istringstream script("click Form1 OK\n");
  gui_.SetScript(&script);
  gui_.QueueStep([&] { order += "busy "; }, /*while_busy=*/true);
  gui_.Post([&] { order += "a "; });
  gui_.Post([&] { order += "b "; });
  gui_.ProcessMessages();
  EXPECT_EQ(order, "a b busy ");
  gui_.QueueStep([&] { order += "idle "; });
  gui_.ProcessMessages();
  EXPECT_EQ(order, "a b busy ");
  gui_.Post([&] {
    order += "c ";
    gui_.Post([&] { order += "d "; });
  });
  gui_.Run();
  // Script lines come after the queued steps.
  EXPECT_EQ(order, "a b busy c d idle scripted ");
}

TEST_F(HeadlessGuiTest, ScriptDrivesTheUserAndAnswersBoxesWhenTheyShow) {
  std::optional<std::string> file;
  gui::OpenFileSettings open;
  open.title = "Open";
  window_.button("OK").SetOnClick([&] { gui_.Confirm("Sign?", Buttons::kYesNo); });
  window_.button("Browse").SetOnClick([&] { file = gui_.OpenFileDialog(open); });
  window_.list_box("Recipients").SetItems({"alice", "bob", "carol"});
  window_.SetOnClose([&] { gui_.Terminate(); });
  std::istringstream script(
      "# the user signs\n"
      "type Form1 Password secret phrase\n"
      "\n"
      "  click Form1 OK\r\n"
      "answer Yes\n"
      "select Form1 Recipients 0 2\n"
      "choose Form1 Mode 1\n"
      "click Form1 Browse\n"
      "file /keys/public.ring\n"
      "close Form1\n");
  std::ostringstream transcript;
  gui_.SetScript(&script);
  gui_.SetTranscript(&transcript);
  gui_.Run();

  EXPECT_EQ(window_.edit("Password").Text(), "secret phrase");
  EXPECT_EQ(dynamic_cast<HeadlessEdit&>(window_.control("Password")).Shown(), "*************");
  ASSERT_EQ(gui_.messages().size(), 1u);
  EXPECT_EQ(gui_.messages()[0].answer, Answer::kYes);
  EXPECT_TRUE(window_.list_box("Recipients").Selected(2));
  EXPECT_FALSE(window_.list_box("Recipients").Selected(1));
  EXPECT_EQ(window_.radio_group("Mode").ItemIndex(), 1);
  EXPECT_EQ(file, "/keys/public.ring");
  EXPECT_FALSE(window_.Visible());

  std::vector<std::string> lines;
  std::istringstream written(transcript.str());
  for (std::string line; std::getline(written, line);) {
    if (line.starts_with("user: ") || line.starts_with("message box") ||
        line.starts_with("open-file dialog"))
      lines.push_back(line);
  }
  EXPECT_THAT(lines,
              ElementsAre("user: type Form1 Password secret phrase", "user: click Form1 OK",
                          "message box \"Confirm\" (question; Yes No): Sign? -> Yes",
                          "user: select Form1 Recipients 0 2", "user: choose Form1 Mode 1",
                          "user: click Form1 Browse",
                          "open-file dialog \"Open\" -> /keys/public.ring", "user: close Form1"));
}

TEST_F(HeadlessGuiDeathTest, FindGivesTheNewestLiveWindowOfAForm) {
  std::unique_ptr<gui::Window> newer = gui_.NewWindow(TestForm());
  std::unique_ptr<gui::Window> other = gui_.NewWindow(TestForm("Form2"));
  EXPECT_EQ(&gui_.Find("Form1"), newer.get());
  newer.reset();
  EXPECT_EQ(&gui_.Find("Form1"), owned_.get());
  owned_.reset();
  EXPECT_EQ(gui_.FindOrNull("Form1"), nullptr);
  EXPECT_DEATH(gui_.Find("Form1"), "there is no window of form Form1");
  EXPECT_EQ(&gui_.Find("Form2"), other.get());
}

}  // namespace
}  // namespace quillet::linux_platform
