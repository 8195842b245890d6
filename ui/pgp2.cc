#include "ui/pgp2.h"

#include <filesystem>

#include "host/program.h"
#include "ui/config.h"
#include "ui/encryption.h"
#include "ui/operation.h"

namespace quillet::ui {

namespace {

gui::ControlSpec Label(const char* name, const char* text, gui::Rect bounds, int font_height) {
  gui::ControlSpec c;
  c.name = name;
  c.kind = gui::ControlKind::kLabel;
  c.text = text;
  c.bounds = bounds;
  c.font = gui::Font{"Arial", -font_height};
  return c;
}

gui::ControlSpec List(const char* name, gui::Rect bounds, bool multi_select, int tab_order) {
  gui::ControlSpec c;
  c.name = name;
  c.kind = gui::ControlKind::kListBox;
  c.bounds = bounds;
  c.multi_select = multi_select;
  c.item_height = 14;
  c.tab_order = tab_order;
  c.font = gui::Font{"Arial", -11};
  return c;
}

constexpr char kSelectSenderAndRecipient[] = "You must select sender and recipient";

}  // namespace

gui::FormSpec TForm1::Spec() {
  gui::FormSpec spec;
  spec.name = "Form1";
  spec.caption = "QUILLET";
  spec.bounds = {112, 72, 389, 307};
  spec.client_size = true;
  spec.pixels_per_inch = 72;
  spec.scaled = false;
  spec.font = {"Arial", -16};

  gui::ControlSpec recipient =
      Label("Recipient",
            "Select one or more recipients if you are encrypting.  No selection is necessary if "
            "decrypting.",
            {8, 4, 219, 45}, 12);
  recipient.word_wrap = true;
  gui::ControlSpec sender = Label(
      "Sender",
      "If encrypting, select the encryptor sender.  If mailing a key, select the key to mail.",
      {8, 154, 222, 30}, 12);
  sender.word_wrap = true;
  gui::ControlSpec password;
  password.name = "Password";
  password.kind = gui::ControlKind::kEdit;
  password.bounds = {72, 252, 216, 21};
  password.password_char = '*';
  password.tab_order = 2;
  spec.controls = {
      recipient,
      List("RecipList", {8, 50, 262, 100}, true, 0),
      sender,
      List("SendList", {8, 186, 263, 58}, false, 1),
      Label("Label1", "Password", {8, 254, 60, 16}, 13),
      password,
      Label("Label2", "Quillet runs your PGP program for every operation.", {8, 282, 280, 14}, 10),
  };

  // The buttons share one column at the right edge, evenly spaced from top to bottom.
  const char* buttons[][2] = {
      {"Encrypt", "Encrypt"},         {"Decrypt", "Decrypt"}, {"MailKey", "Mail Key"},
      {"Key_To_Ring", "Key To Ring"}, {"NewKey", "New Key"},  {"KeyRemove", "Key Remove"},
      {"LoadKeys", "Load Keys"},      {"Setup", "Setup"},     {"Quit", "Quit"}};
  for (int i = 0; i < 9; ++i) {
    gui::ControlSpec button;
    button.name = buttons[i][0];
    button.kind = gui::ControlKind::kButton;
    button.text = buttons[i][1];
    button.bounds = {304, 4 + i * 34, 77, 27};
    button.tab_order = 3 + i;
    button.font = gui::Font{"MS Sans Serif", -11, true};
    spec.controls.push_back(button);
  }
  return spec;
}

TForm1::TForm1(host::Program& program)
    : program_(program),
      window_(program.gui().NewWindow(Spec())),
      Password(window_->edit("Password")),
      FileDial{"", "Executables|*.exe", "exe", program.platform().system.DriveRoot(), "", true},
      RecipList(window_->list_box("RecipList")),
      SendList(window_->list_box("SendList")),
      PGP(program_.platform(), window_.get()),
      WPO(program.platform().com) {
  const std::pair<const char*, void (TForm1::*)()> handlers[] = {
      {"Encrypt", &TForm1::EncryptClick},     {"Setup", &TForm1::SetupClick},
      {"NewKey", &TForm1::NewKeyClick},       {"LoadKeys", &TForm1::LoadKeysClick},
      {"KeyRemove", &TForm1::KeyRemoveClick}, {"Quit", &TForm1::QuitClick}};
  for (const auto& [button, handler] : handlers)
    window_->button(button).SetOnClick([this, handler = handler] { Guarded(handler); });
  window_->SetOnClose([this] { FormClose(); });
  program_.Form1 = this;
  FormCreate();
}

TForm1::~TForm1() {
  if (program_.Form1 == this) program_.Form1 = nullptr;
}

void TForm1::Guarded(void (TForm1::*handler)()) {
  try {
    (this->*handler)();
  } catch (const std::exception& e) {
    program_.gui().ReportError(e.what());
  }
}

void TForm1::FormCreate() {
  try {
    program_.object_api().Login();
    ReadConfiguration();
  } catch (const std::exception& e) {
    program_.gui().ReportError(e.what());
  }
}

void TForm1::FormClose() {
  DeleteFile(PGP.PGPPath + "temppgp");
  DeleteFile(PGP.PGPPath + "temppgp.asc");
}

void TForm1::ReadConfiguration() {
  PGP.PGPPath.clear();
  const std::string config = WindowsDir(program_.platform().system) + "quillet.ini";
  if (!std::filesystem::exists(config)) {
    SetupClick();
    return;
  }
  const SplitFile pgp = ReadPgpLocation(config);
  PGP.PGPProg = pgp.file;
  PGP.PGPPath = pgp.directory;
  SendList.Filename = PGP.PGPPath + "quillet.sec";
  RecipList.Filename = PGP.PGPPath + "quillet.key";
  RefreshKeyLists(pgp::forcetype::NoForce);
}

bool TForm1::SelectPgpProgram(host::Program& program, gui::OpenFileSettings& dialog, pgp::TPGP& pgp,
                              pgp::TPGPList& recipients, pgp::TPGPList& senders) {
  System& system = program.platform().system;
  const std::string program_path = system.ModuleFileName();
  if (host::TForm2* resident = program.resident_window()) resident->ShowInForeground();
  dialog.title = "Please select the PGP program";
  dialog.file_name.clear();
  if (!pgp.PGPPath.empty()) dialog.initial_dir = pgp.PGPPath;
  const std::optional<std::string> chosen = program.gui().OpenFileDialog(dialog);
  if (!chosen) return false;
  const SplitFile location = SplitPath(*chosen);
  pgp.PGPProg = location.file;
  pgp.PGPPath = location.directory;
  WriteConfiguration(WindowsDir(system) + "quillet.ini", program_path, pgp.PGPPath + pgp.PGPProg);
  senders.Filename = pgp.PGPPath + "quillet.sec";
  recipients.Filename = pgp.PGPPath + "quillet.key";
  pgp.WriteKeyListBatch();
  return true;
}

void TForm1::SetupClick() {
  if (SelectPgpProgram(program_, FileDial, PGP, RecipList, SendList))
    RefreshKeyLists(pgp::forcetype::Force);
}

void TForm1::RefreshKeyLists(pgp::forcetype mode) {
  PGP.Forcecheck = mode;
  PGP.RefreshKeyListings();
  RecipList.LoadKeys();
  SendList.LoadKeys();
}

void TForm1::NewKeyClick() {
  PGP.GenerateKey();
  RefreshKeyLists(pgp::forcetype::Force);
}

void TForm1::LoadKeysClick() {
  RefreshKeyLists(pgp::forcetype::Force);
}

bool TForm1::RecipientSelected() {
  // In a multi-select list the index is the entry with the focus, selected or not.
  return RecipList.box().ItemIndex() > 0 || RecipList.box().Selected(0);
}

void TForm1::KeyRemoveClick() {
  if (!RecipientSelected()) {
    program_.gui().Confirm("You must select a recipient key to remove.", gui::Buttons::kOk);
    return;
  }
  PGP.RemoveKey(RecipList.UserIDAt(RecipList.box().ItemIndex()));
  RefreshKeyLists(pgp::forcetype::Force);
}

void TForm1::QuitClick() {
  window_->Close();
}

bool TForm1::EncryptFromMainWindow(const std::string& file) {
  if (!RecipientSelected() || SendList.box().ItemIndex() < 0) {
    program_.gui().Confirm(kSelectSenderAndRecipient, gui::Buttons::kOk);
    return false;
  }
  PGP.EncryptFile(file, RecipList.SelectedIDs, SendList.SelectedIDs, Password.Text(), 0);
  return true;
}

void TForm1::EncryptClick() {
  OperationGuard operation(program_.operation_running(), program_.gui());
  if (!operation) return;
  WPO.ExecuteToken("itemmessageidfromview()");
  if (WPO.GetResult() != "X00") {
    WPO.ExecuteToken("NewMail()");
    return;
  }
  const EncryptStep step = [this](const std::string& file) { return EncryptFromMainWindow(file); };
  if (!EncryptBody(WPO, program_.gui(), PGP.PGPPath, step)) return;
  EncryptAttachments(WPO, program_.gui(), PGP.PGPPath, "X00", step);
}

void TForm1::MailKeyIntoBody(const std::string& user_id) {
  OperationGuard operation(program_.operation_running(), program_.gui());
  if (!operation) return;
  const std::string key = PGP.PGPPath + "temppgp";
  DeleteFile(key + ".asc");
  PGP.ExtractKey(user_id, key);
  try {
    AppendFileToBody(WPO, key + ".asc");
  } catch (const std::exception&) {
    // PGP wrote no key, or the mail client refused a line: the body keeps what it got.
  }
  DeleteFile(key + ".asc");
}

}  // namespace quillet::ui
