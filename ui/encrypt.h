// The Encrypt dialog: encrypts the mail being composed with the recipients, option and pass
// phrase the user picks, signing with the first key of the secret-key listing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "channel/wpcom32.h"
#include "pgp/pgpex.h"
#include "platform/gui.h"
#include "ui/app.h"
#include "ui/form.h"

namespace quillet::ui {

class TEncryptForm : public Form {
 public:
  // Builds the dialog and its components, then runs the start-up, whose errors are reported to
  // the user. Raises only when the mail client's token object cannot be created.
  explicit TEncryptForm(App& program);

  static gui::FormSpec Spec();

  void FormCreate();
  void EOptionClick();
  void OKBtnClick();
  void CancelBtnClick();
  void FormClose();
  // Runs PGP on the file with the dialog's choices; PGP's exit code, or nothing when no PGP
  // program is chosen.
  std::optional<std::int32_t> EncryptWithDialogOptions(const std::string& file);
  // Encrypts the new item's body and attachments.
  void EncryptNewItem();

  gui::Window& window() override { return *window_; }

 private:
  App& program_;
  std::unique_ptr<gui::Window> window_;

 public:
  gui::Edit& Password;
  gui::RadioGroup& EOption;
  gui::Label& Warn;
  gui::OpenFileSettings FileDial;
  pgp::TPGPList RecipList;
  pgp::TPGPList sendlist;
  pgp::TPGP PGP;
  channel::TWP WPO;
};

}  // namespace quillet::ui
