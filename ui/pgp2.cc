#include "ui/pgp2.h"

#include <algorithm>

#include "base/error.h"
#include "base/file.h"
#include "base/text.h"

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
constexpr char kOnlyIncoming[] = "You can only decrypt incoming items.";
constexpr char kNoteBody[] =
    "Decrypted PGP text is attached to this note.  Select view attachments to see attachment.\r\n";
constexpr char kKeyNotExtracted[] =
    "PGP could not extract the key; nothing was added to the message.";
constexpr char kKeyDoesNotFit[] =
    "The key does not fit into the message, whose body holds at most 32,000 characters; nothing "
    "was added to the message.";
constexpr char kKeyNotAdded[] =
    "The key could not be added to the message completely; check the message before sending it.";
constexpr char kNotDelivered[] = "The decrypted message could not be delivered: ";
constexpr char kNotAllShown[] =
    "Some characters of the decrypted text cannot be shown on this system; each is shown as "
    "\"?\".\r\n";

constexpr char kBadSignature[] = "its signature is BAD (it was changed after it was signed)";

bool IsBad(const std::optional<pgp::SignatureVerdict>& signature) {
  return signature && signature->state == pgp::SignatureState::kBad;
}

// Why PGP gave no result: its bad-signature verdict, or what it said (which key's pass phrase
// was refused, say), or else its exit code.
std::string Reason(const pgp::DecryptResult& result) {
  if (IsBad(result.signature)) return std::string(": ") + kBadSignature;
  if (!result.notice.empty())
    return ": " + result.notice.substr(0, result.notice.find_last_not_of('.') + 1);
  return " (exit code " + std::to_string(result.exit_code.value_or(0)) + ")";
}

std::string NotDecrypted(const pgp::DecryptResult& result) {
  return "PGP could not decrypt this message" + Reason(result) + "; nothing was delivered.";
}

constexpr char kNoDecryptedText[] =
    "PGP produced no decrypted text for this message; nothing was delivered.";

enum class Decrypted { kText, kFailed, kNoText };

// Whether a decryption gave text to deliver. A bad signature never does. An empty file is text
// only from a program that reported its verdict: the classic program leaves one, and succeeds,
// for a message it cannot read.
Decrypted Outcome(const pgp::DecryptResult& result, const std::string& path) {
  if (!result.exit_code || IsBad(result.signature)) return Decrypted::kFailed;
  const std::optional<std::string> text = pgp::ReadOutput(*result.exit_code, path);
  if (!text) return Decrypted::kFailed;
  return text->empty() && !result.signature ? Decrypted::kNoText : Decrypted::kText;
}

// Our PGP program, which reports its verdict, writes the text as GnuPG gives it, and what current
// mail programs send is UTF-8: a body file whose bytes are UTF-8 goes to the note in the system's
// own text. A classic program reports none; it and its correspondents write the code page's own
// bytes, which stay as they are. True when a character could not be shown.
bool ShowInSystemText(System& system, const std::string& path) {
  const std::string text = ReadWholeFile(path);
  if (!DecodeUtf8(text)) return false;
  const System::NarrowText narrow = system.FromUtf8(text);
  if (narrow.text != text) WriteWholeFile(path, narrow.text);
  return narrow.lost;
}

// A line of the note's body, in place of the line of an attachment that is left out.
std::string AttachmentNotDecrypted(int number, const pgp::DecryptResult& result) {
  return "Attachment " + std::to_string(number) + " could not be decrypted" + Reason(result) +
         ".\r\n";
}

// A user ID as the note shows it: in the system's text, with every control character but TAB
// written out, so that a user ID cannot begin a line of its own in the note.
std::string Shown(System& system, const std::string& user_id) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (const char c : system.FromUtf8(user_id).text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F)
      shown += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0xF];
    else
      shown += c;
  }
  return shown;
}

// "1234 5678 ... 9ABC": a fingerprint in groups of four, as the sender reads it out.
std::string Grouped(const std::string& fingerprint) {
  std::string text;
  for (std::size_t i = 0; i < fingerprint.size(); i += 4)
    text += (i == 0 ? "" : " ") + fingerprint.substr(i, 4);
  return text;
}

// What the verdict on the signature of a mail or an attachment (`item`) says.
std::string Verdict(System& system, const std::optional<pgp::SignatureVerdict>& signature,
                    const std::string& item) {
  using pgp::SignatureState;
  if (!signature) return "not reported by this PGP program.";
  const std::string key = "(ID 0x" + signature->key_id + ")";
  const std::string signer = Shown(system, signature->user_id);
  switch (signature->state) {
    case SignatureState::kNone:
      return "none: this " + item + " was not signed.";
    case SignatureState::kGood:
      return "good, from " + signer + ", made " + signature->made + " UTC.";
    case SignatureState::kUncertified:
      return "correct, but the key is NOT CERTIFIED: made by a key named \"" + signer +
             "\" (fingerprint " + Grouped(signature->fingerprint) + "), " + signature->made +
             " UTC. Compare the fingerprint with the sender before you trust this " + item + ".";
    case SignatureState::kUnknown:
      return "NOT CHECKED: the signer's key " + key + " is not on your key ring.";
    case SignatureState::kError:
      return "NOT CHECKED: it could not be checked (" + Shown(system, signature->reason) + ").";
    case SignatureState::kExpired:
      return "EXPIRED: made by " + signer + " " + key + " on " + signature->made +
             " UTC with a key or signature that has expired.";
    case SignatureState::kRevoked:
      return "REVOKED: made by " + signer + " " + key + " on " + signature->made +
             " UTC with a key that has been revoked; do not trust this " + item + ".";
    case SignatureState::kBad:
      break;
  }
  return std::string(kBadSignature) + ".";
}

// Whether two verdicts tell a reader the same: the same state, by the same key.
bool SameVerdict(const std::optional<pgp::SignatureVerdict>& a,
                 const std::optional<pgp::SignatureVerdict>& b) {
  if (!a || !b) return !a && !b;
  return a->state == b->state && a->key_id == b->key_id;
}

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

TForm1::TForm1(App& program)
    : program_(program),
      window_(program.gui().NewWindow(Spec())),
      Password(window_->edit("Password")),
      FileDial{"", "Executables|*.exe", "exe", program.platform().system.DriveRoot(), "", true},
      RecipList(window_->list_box("RecipList")),
      SendList(window_->list_box("SendList")),
      PGP(program_.platform(), window_.get()),
      WPO(program.platform().com) {
  const std::pair<const char*, void (TForm1::*)()> handlers[] = {
      {"Encrypt", &TForm1::EncryptClick},        {"Setup", &TForm1::SetupClick},
      {"NewKey", &TForm1::NewKeyClick},          {"LoadKeys", &TForm1::LoadKeysClick},
      {"KeyRemove", &TForm1::KeyRemoveClick},    {"Quit", &TForm1::QuitClick},
      {"Decrypt", &TForm1::DecryptClick},        {"MailKey", &TForm1::MailKeyClick},
      {"Key_To_Ring", &TForm1::Key_To_RingClick}};
  for (const auto& [button, handler] : handlers)
    window_->button(button).SetOnClick([this, handler = handler] { (this->*handler)(); });
  window_->SetOnClose([this] { FormClose(); });
  FormCreate();
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
  // The window goes once control is back in the event loop, after any operation of its own.
  program_.Release(*this);
  // A running operation still uses the files; it removes them itself when it ends.
  if (program_.operation_lock().taken()) return;
  DeleteFile(PGP.Directory().MailText());
  DeleteFile(pgp::PgpDirectory::Armoured(PGP.Directory().MailText()));
}

void TForm1::ReadConfiguration() {
  // An unreadable quillet.ini is reported by FormCreate, and no keys are loaded.
  switch (LoadConfiguration(program_, FileDial, {PGP, RecipList, SendList}, Unreadable::kRaise)) {
    case Configured::kRead:
      RefreshKeyLists(pgp::forcetype::NoForce);
      break;
    case Configured::kChosen:
      RefreshKeyLists(pgp::forcetype::Force);
      break;
    case Configured::kNotChosen:
      break;
  }
}

void TForm1::SetupClick() {
  if (ChoosePgpProgram(program_, FileDial, {PGP, RecipList, SendList}))
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

std::optional<std::string> TForm1::FocusedKey() {
  if (!RecipientSelected()) return std::nullopt;
  std::string user_id = RecipList.UserIDAt(RecipList.box().ItemIndex());
  if (!pgp::NamesKey(user_id)) return std::nullopt;
  return user_id;
}

void TForm1::KeyRemoveClick() {
  const std::optional<std::string> key = FocusedKey();
  if (!key) {
    program_.gui().Confirm("You must select a recipient key to remove.", gui::Buttons::kOk);
    return;
  }
  PGP.RemoveKey(*key);
  RefreshKeyLists(pgp::forcetype::Force);
}

void TForm1::QuitClick() {
  window_->Close();
}

std::optional<std::int32_t> TForm1::EncryptFromMainWindow(const std::string& file) {
  const bool recipient =
      RecipientSelected() && std::ranges::any_of(RecipList.SelectedIDs, pgp::NamesKey);
  if (!recipient || SendList.box().ItemIndex() < 0) {
    program_.gui().Confirm(kSelectSenderAndRecipient, gui::Buttons::kOk);
    return std::nullopt;
  }
  return PGP.EncryptFile(file, RecipList.SelectedIDs, SendList.SelectedIDs, Password.Text(), 0);
}

void TForm1::EncryptClick() {
  OperationGuard operation(program_.operation_lock(), program_.gui(), PGP.PGPPath);
  if (!operation) return;
  if (WPO.ItemMessageIdFromView(channel::TWP::Spelling::kLower) != channel::kNewItem) {
    WPO.NewMail();
    return;
  }
  EncryptNewItem(WPO, program_.platform(), PGP.PGPPath,
                 [this](const std::string& file) { return EncryptFromMainWindow(file); });
}

void TForm1::MailKeyIntoBody(const std::string& user_id) {
  OperationGuard operation(program_.operation_lock(), program_.gui(), PGP.PGPPath);
  if (!operation) return;
  const std::string key = pgp::PgpDirectory::Armoured(PGP.Directory().MailText());
  pgp::ClearOutput(key);
  const std::optional<std::int32_t> exit_code = PGP.ExtractKey(user_id, PGP.Directory().MailText());
  if (!exit_code) return;
  const std::optional<std::string> block =
      pgp::ReadArmouredOutput(*exit_code, key, "PUBLIC KEY BLOCK");
  DeleteFile(key);
  if (!block) {
    program_.gui().Confirm(
        pgp::RemoveSplitArmour(key) ? pgp::kSplitArmourMessage : kKeyNotExtracted,
        gui::Buttons::kOk);
    return;
  }
  // The mail client would cut what does not fit into the body.
  if (WPO.ItemGetText(channel::kNewItem, channel::TWP::Field::kMessage).size() +
          channel::TWP::LengthInBody(*block) >
      kBodyLimit) {
    program_.gui().Confirm(kKeyDoesNotFit, gui::Buttons::kOk);
    return;
  }
  try {
    WPO.AppendToBody(*block);
  } catch (const std::exception&) {
    program_.gui().Confirm(kKeyNotAdded, gui::Buttons::kOk);
  }
}

std::string TForm1::CurrentItemId() {
  // A window of kind 624 shows an item list, whose control 219 holds the selection.
  if (WPO.EnvCheckCurrentWindow(624)) return WPO.FirstSelectedItem(219);
  return WPO.ItemMessageIdFromView(channel::TWP::Spelling::kMixed);
}

void TForm1::DecryptClick() {
  OperationGuard operation(program_.operation_lock(), program_.gui(), PGP.PGPPath);
  if (!operation) return;
  const std::string id = CurrentItemId();
  if (id == channel::kNewItem) {
    program_.ShowResidentWindow();
    program_.gui().ShowMessage(
        {kOnlyIncoming, program_.gui().Title(), gui::Icon::kNone, gui::Buttons::kOk});
    return;
  }
  DecryptItem(program_.object_api().GetMessage(id));
}

pgp::DecryptResult TForm1::DecryptWithPassword(const std::string& name) {
  return PGP.DecryptFile(name, Password.Text());
}

void TForm1::DecryptItem(const channel::GwMessage& message) {
  const std::string base = PGP.Directory().MailText();
  const std::string armoured = pgp::PgpDirectory::Armoured(base);
  // Only this run's output may be delivered; the mail client takes its content at add.
  const PlainTextFile decrypted(program_.platform().system, base, PlainTextFile::WrittenBy::kPgp);
  const std::string id = message.MessageId();
  // Cipher text too long for a body came as the first attachment.
  const std::string body = message.BodyText();
  const bool body_attached =
      std::string_view(body).substr(0, body.find_first_of("\r\n")) == kBodyInAttachment;
  if (body_attached)
    WPO.ItemAttachmentSaveAs(id, 0, armoured);
  else
    WriteWholeFile(armoured, body);
  const pgp::DecryptResult result = DecryptWithPassword(base);
  // A message whose signature is bad is not delivered, whatever the program left behind.
  const Decrypted outcome = Outcome(result, base);
  if (result.exit_code && outcome != Decrypted::kText) {
    program_.gui().Confirm(outcome == Decrypted::kNoText ? kNoDecryptedText : NotDecrypted(result),
                           gui::Buttons::kOk);
  } else if (result.exit_code) {
    try {
      channel::ObjectApi& api = program_.object_api();
      System& system = program_.platform().system;
      const bool lost = result.signature && ShowInSystemText(system, base);
      channel::GwMessage note = api.AddMailMessage();
      note.AddRecipient(api.Owner());
      note.SetFromText("PGP message from " + WPO.ItemGetText(id, channel::TWP::Field::kFrom));
      note.SetSubject(WPO.ItemGetText(id, channel::TWP::Field::kSubject));
      note.AssignBodyText("Signature: " + Verdict(system, result.signature, "mail") + "\r\n" +
                          kNoteBody + (lost ? kNotAllShown : ""));
      note.AddAttachment(base);
      DecryptAttachments(id, body_attached ? 1 : 0, note, result.signature);
      const channel::GwMessage sent = note.Send();
      WPO.ItemOpen(sent.MessageId());
    } catch (const std::exception& e) {
      program_.gui().Confirm(kNotDelivered + std::string(e.what()), gui::Buttons::kOk);
    }
  }
  DeleteFile(armoured);
}

void TForm1::DecryptAttachments(const std::string& id, int first, channel::GwMessage& note,
                                const std::optional<pgp::SignatureVerdict>& signature) {
  const int count = WPO.ItemAttachmentGetCount(id);
  for (int n = first; n < count; ++n) {
    const std::string file = PGP.Directory().Document(n);
    const PlainTextFile decrypted(program_.platform().system, file, PlainTextFile::WrittenBy::kPgp);
    WPO.ItemAttachmentSaveAs(id, n, pgp::PgpDirectory::Armoured(file));
    const pgp::DecryptResult result = DecryptWithPassword(file);
    DeleteFile(pgp::PgpDirectory::Armoured(file));
    if (const Decrypted outcome = Outcome(result, file); outcome != Decrypted::kText) {
      note.SetBodyPlainText(note.BodyText() + (outcome == Decrypted::kNoText
                                                   ? "Attachment " + std::to_string(n + 1) +
                                                         ": PGP produced no decrypted text.\r\n"
                                                   : AttachmentNotDecrypted(n + 1, result)));
      continue;
    }
    std::string line = file + " attached";
    if (!SameVerdict(result.signature, signature))
      line += "; signature: " + Verdict(program_.platform().system, result.signature, "attachment");
    try {
      note.AddAttachment(file);
      note.SetBodyPlainText(note.BodyText() + line + "\r\n");
    } catch (const std::exception&) {
      // The attachment is left out of the note.
    }
  }
}

void TForm1::MailKeyClick() {
  if (WPO.ItemMessageIdFromView(channel::TWP::Spelling::kLower) != channel::kNewItem) {
    WPO.NewMail();
    return;
  }
  const std::optional<std::string> key = FocusedKey();
  if (!key) {
    program_.gui().Confirm("You must select a recipient key to mail.", gui::Buttons::kOk);
    return;
  }
  MailKeyIntoBody(*key);
}

void TForm1::Key_To_RingClick() {
  OperationGuard operation(program_.operation_lock(), program_.gui(), PGP.PGPPath);
  if (!operation) return;
  const std::string file = pgp::PgpDirectory::Armoured(PGP.Directory().MailText());
  const std::string id = CurrentItemId();
  if (id == channel::kNewItem) {
    program_.gui().ShowMessage(
        {kOnlyIncoming, "Information", gui::Icon::kInformation, gui::Buttons::kOk});
    return;
  }
  channel::ObjectApi& api = program_.object_api();
  api.KeyMessage = api.GetMessage(id).object();
  try {
    WriteWholeFile(file, channel::GwMessage(api.KeyMessage).BodyText());
    const std::optional<std::int32_t> exit_code = PGP.AddKey(file);
    DeleteFile(file);
    if (exit_code && *exit_code != 0) {
      program_.gui().Confirm(
          "PGP could not add the key to your key ring" +
              (PGP.LastNotice.empty() ? " (exit code " + std::to_string(*exit_code) + ")."
                                      : ": " + PGP.LastNotice),
          gui::Buttons::kOk);
      return;
    }
    RefreshKeyLists(pgp::forcetype::Force);
  } catch (const std::exception&) {
    // PGP's console showed what happened; the file goes when the window closes.
  }
}

}  // namespace quillet::ui
