// The main window: key lists, pass phrase, and the buttons of every user operation, with the
// configuration of the PGP program's location and the key-ring maintenance.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "channel/gwapi.h"
#include "channel/wpcom32.h"
#include "pgp/pgpex.h"
#include "platform/gui.h"
#include "ui/app.h"
#include "ui/form.h"

namespace quillet::ui {

class TForm1 : public Form {
 public:
  // Builds the window and its components, then runs the start-up. Raises only when the mail
  // client's token object cannot be created; errors of the start-up itself are reported to the
  // user and the window is created all the same.
  explicit TForm1(App& program);

  static gui::FormSpec Spec();

  void FormCreate();
  void FormClose();
  void EncryptClick();
  void SetupClick();
  void NewKeyClick();
  void LoadKeysClick();
  void KeyRemoveClick();
  void QuitClick();
  void DecryptClick();
  void MailKeyClick();
  void Key_To_RingClick();

  void ReadConfiguration();
  void RefreshKeyLists(pgp::forcetype mode);
  // Checks the selections and runs PGP on the file in mode 0; PGP's exit code, or nothing when
  // a check failed (the user is told) or no PGP program is chosen.
  std::optional<std::int32_t> EncryptFromMainWindow(const std::string& file);
  // The identifier of the item selected in the item list, or of the item in the current view.
  std::string CurrentItemId();
  // Decrypts a received message and delivers the result to the user as a new note, whose body
  // begins with the verdict on the message's signature.
  void DecryptItem(const channel::GwMessage& message);
  // The attachments from index `first` on; one whose verdict is not the body's `signature` has
  // its own in its body line.
  void DecryptAttachments(const std::string& id, int first, channel::GwMessage& note,
                          const std::optional<pgp::SignatureVerdict>& signature);
  pgp::DecryptResult DecryptWithPassword(const std::string& name);
  // Puts the armoured public key of the user ID at the end of the new item's body.
  void MailKeyIntoBody(const std::string& user_id);

  gui::Window& window() override { return *window_; }

 private:
  // True when RecipList has a selection as the main window's checks see it.
  bool RecipientSelected();
  // The user ID of RecipList's entry with the focus, when that entry is selected as the checks
  // see it and names a key (the empty last line names none).
  std::optional<std::string> FocusedKey();

  App& program_;
  std::unique_ptr<gui::Window> window_;

 public:
  gui::Edit& Password;
  gui::OpenFileSettings FileDial;
  pgp::TPGPList RecipList;
  pgp::TPGPList SendList;
  pgp::TPGP PGP;
  channel::TWP WPO;
};

}  // namespace quillet::ui
