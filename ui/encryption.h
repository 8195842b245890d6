// Encryption of the new item (the mail being composed, "X00"), shared by the main window and the
// Encrypt dialog: the body and each attachment are saved, run through PGP and replaced by the
// armoured result, but only when PGP wrote that result in this run; plain text saved for PGP is
// deleted as soon as it has been read.
#pragma once

#include <functional>
#include <string>

#include "channel/wpcom32.h"
#include "platform/gui.h"

namespace quillet::ui {

// The PGP run of a window on one file; PGP writes file + ".asc". False when the window's checks
// stopped it before PGP ran.
using EncryptStep = std::function<bool(const std::string& file)>;

inline constexpr char kNotEncrypted[] =
    "PGP did not produce an encrypted result; the message was not changed.";

// Copies a text file's lines to the end of the new item's body, two commands per line. Raises
// on a file that cannot be read or a failing command.
void AppendFileToBody(channel::TWP& wpo, const std::string& file);

// Saves the body to pgp_path + "temppgp", encrypts it and replaces the body by the armoured text.
// False when the step stopped or PGP wrote nothing (the body is then unchanged and, in the latter
// case, the user is told).
bool EncryptBody(channel::TWP& wpo, gui::Gui& gui, const std::string& pgp_path,
                 const EncryptStep& step);

// Saves, encrypts and replaces every attachment of the item, in index order: all are saved and
// encrypted, then all deleted, then the armoured files attached. The attachments are replaced only
// when every one was encrypted; otherwise they stay and the user is told.
void EncryptAttachments(channel::TWP& wpo, gui::Gui& gui, const std::string& pgp_path,
                        const std::string& item_id, const EncryptStep& step);

// Deletes a file; a missing file is no error.
void DeleteFile(const std::string& path);

// Deletes a file when it goes out of scope, however the scope is left: plain text saved for PGP
// or written by it never outlives its use.
class DeletedAfterUse {
 public:
  explicit DeletedAfterUse(std::string path) : path_(std::move(path)) {}
  ~DeletedAfterUse() { DeleteFile(path_); }
  DeletedAfterUse(const DeletedAfterUse&) = delete;
  DeletedAfterUse& operator=(const DeletedAfterUse&) = delete;

 private:
  std::string path_;
};

}  // namespace quillet::ui
