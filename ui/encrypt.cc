#include "ui/encrypt.h"

#include <algorithm>

#include "ui/config.h"
#include "ui/encryption.h"
#include "ui/operation.h"

namespace quillet::ui {

namespace {

gui::ControlSpec Control(const char* name, gui::ControlKind kind, const char* text,
                         gui::Rect bounds, int tab_order = -1) {
  gui::ControlSpec c;
  c.name = name;
  c.kind = kind;
  c.text = text;
  c.bounds = bounds;
  c.tab_order = tab_order;
  return c;
}

constexpr int kPasswordOnly = 3;

}  // namespace

gui::FormSpec TEncryptForm::Spec() {
  using gui::ControlKind;
  gui::FormSpec spec;
  spec.name = "EncryptForm";
  spec.caption = "Encrypt";
  spec.bounds = {0, 0, 340, 257};
  spec.client_size = true;
  spec.border = gui::Border::kDialog;
  spec.placement = gui::Placement::kScreenCenter;
  spec.font = {"MS Sans Serif", -11, true};

  // The heading takes the whole top line; the buttons start level with the list's frame.
  gui::ControlSpec ok = Control("OKBtn", ControlKind::kButton, "OK", {258, 24, 75, 25}, 0);
  ok.glyph = gui::ButtonGlyph::kOk;
  ok.is_default = true;
  gui::ControlSpec cancel =
      Control("CancelBtn", ControlKind::kButton, "Cancel", {258, 58, 75, 25}, 1);
  cancel.glyph = gui::ButtonGlyph::kCancel;
  cancel.is_cancel = true;
  cancel.font = gui::Font{"MS Sans Serif", -11, true, true};
  gui::ControlSpec recipients =
      Control("RecipList", ControlKind::kListBox, "", {12, 28, 230, 91}, 2);
  recipients.multi_select = true;
  gui::ControlSpec password = Control("Password", ControlKind::kEdit, "", {72, 132, 170, 21}, 3);
  password.password_char = '*';
  gui::ControlSpec senders = Control("sendlist", ControlKind::kListBox, "", {0, 0, 0, 0}, 4);
  senders.visible = false;
  gui::ControlSpec options =
      Control("EOption", ControlKind::kRadioGroup, "Encryption Options", {8, 166, 324, 84}, 5);
  options.items = {"Standard Encryption", "Encrypt and Sign", "Sign Only",
                   "Password Only (No Keys/Less Secure)"};
  options.item_index = 0;
  gui::ControlSpec warn = Control(
      "Warn", ControlKind::kLabel,
      "You should use a different password than your secret key password.  Tell the recipient "
      "the password you are using.",
      {72, 126, 170, 36});
  warn.word_wrap = true;
  warn.visible = false;
  warn.font = gui::Font{"Times New Roman", -11, true};

  spec.controls = {ok,
                   cancel,
                   Control("Bevel1", ControlKind::kBevel, "", {8, 24, 238, 99}),
                   recipients,
                   password,
                   senders,
                   options,
                   Control("Label2", ControlKind::kLabel,
                           "Please select the PGP UserID(s) of the recipent(s)", {8, 6, 324, 16}),
                   Control("Label1", ControlKind::kLabel, "Password", {8, 134, 60, 16}),
                   warn};
  return spec;
}

TEncryptForm::TEncryptForm(App& program)
    : program_(program),
      window_(program.gui().NewWindow(Spec())),
      Password(window_->edit("Password")),
      EOption(window_->radio_group("EOption")),
      Warn(window_->label("Warn")),
      RecipList(window_->list_box("RecipList")),
      sendlist(window_->list_box("sendlist")),
      PGP(program_.platform(), window_.get()),
      WPO(program.platform().com) {
  auto handle = [this](void (TEncryptForm::*handler)()) {
    return [this, handler] { (this->*handler)(); };
  };
  window_->button("OKBtn").SetOnClick(handle(&TEncryptForm::OKBtnClick));
  window_->button("CancelBtn").SetOnClick(handle(&TEncryptForm::CancelBtnClick));
  EOption.SetOnClick(handle(&TEncryptForm::EOptionClick));
  window_->SetOnClose([this] { FormClose(); });
  FormCreate();
}

void TEncryptForm::FormCreate() {
  try {
    // Unlike the main window, the dialog goes on with an unreadable quillet.ini, and after the
    // user has chosen the PGP program it loads nothing until it is opened again.
    if (LoadConfiguration(program_, FileDial, {PGP, RecipList, sendlist},
                          Unreadable::kLeaveEmpty) != Configured::kRead)
      return;
    PGP.Forcecheck = pgp::forcetype::NoForce;
    PGP.RefreshKeyListings();
    sendlist.LoadKeys();
    // The first secret key signs; with none, PGP's default key does.
    sendlist.SelectedIDs = {sendlist.UserIDAt(0)};
    RecipList.LoadKeys();
  } catch (const std::exception& e) {
    program_.gui().ReportError(e.what());
  }
}

void TEncryptForm::EOptionClick() {
  const bool password_only = EOption.ItemIndex() == kPasswordOnly;
  Password.SetVisible(!password_only);
  Warn.SetVisible(password_only);
}

std::optional<std::int32_t> TEncryptForm::EncryptWithDialogOptions(const std::string& file) {
  return PGP.EncryptFile(file, RecipList.SelectedIDs, sendlist.SelectedIDs, Password.Text(),
                         EOption.ItemIndex());
}

void TEncryptForm::EncryptNewItem() {
  ui::EncryptNewItem(WPO, program_.platform(), PGP.PGPPath,
                     [this](const std::string& file) { return EncryptWithDialogOptions(file); });
}

void TEncryptForm::OKBtnClick() {
  const int option = EOption.ItemIndex();
  // The empty last line of a listing names no key, so it is no recipient.
  if (std::ranges::any_of(RecipList.SelectedIDs, pgp::NamesKey) || option == 2 ||
      option == kPasswordOnly) {
    OperationGuard operation(program_.operation_lock(), program_.gui(), PGP.PGPPath);
    if (!operation) return;  // the dialog stays for another try
    EncryptNewItem();
  } else {
    program_.gui().Confirm("You must select a recipient", gui::Buttons::kOk);
  }
  window_->Close();
}

void TEncryptForm::CancelBtnClick() {
  window_->Close();
}

void TEncryptForm::FormClose() {
  program_.Release(*this);
}

}  // namespace quillet::ui
