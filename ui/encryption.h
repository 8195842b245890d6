// Encryption of the new item (the mail being composed, "X00"), shared by the main window and the
// Encrypt dialog. Nothing in the item changes until PGP has encrypted the body and every
// attachment and each result is a whole armoured message of this run; then the body is rebuilt
// from the armoured text and the encrypted attachments are added before the originals are
// removed. Whatever fails, the user is told, the item is put back as it was where the mail client
// allows it, and the original text is never lost. Plain text saved for PGP is private to the user
// and deleted as soon as PGP has read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/file.h"
#include "channel/wpcom32.h"
#include "platform/platform.h"

namespace quillet::ui {

// The PGP run of a window on one file; PGP writes file + ".asc". Returns PGP's exit code, or
// nothing when the window's checks (or a missing PGP program) stopped it before PGP ran; the user
// has then been told why.
using EncryptStep = std::function<std::optional<std::int32_t>(const std::string& file)>;

inline constexpr char kTextNotEncrypted[] =
    "PGP could not encrypt the message text; the message was not changed.";
// `number` counts from 1.
std::string AttachmentNotEncrypted(int number);
inline constexpr char kTextPutBack[] =
    "The encrypted text could not be written into the message; the original text was put back.";
std::string TextNotPutBack(const std::string& kept_file);
inline constexpr char kAttachmentsNotReplaced[] =
    "The attachments could not be replaced by their encrypted versions; the message was not "
    "changed.";
inline constexpr char kAttachmentsNotPutBack[] =
    "The attachments could not be replaced by their encrypted versions, and the message could not "
    "be put back as it was; check it before sending it.";
std::string OriginalAttachmentsLeft(int count);

// A message body holds at most this many characters; the mail client takes no more and says
// nothing.
inline constexpr std::size_t kBodyLimit = 32000;

// An encrypted body too long for the body goes as an attachment (PgpDirectory::ArmourAttachment),
// and the body says so.
inline constexpr char kBodyInAttachment[] =
    "The encrypted text of this message is in the attachment message.asc.";

// Encrypts the body and the attachments of the new item with `step`, in the PGP directory
// `pgp_path`, and puts the results into the item.
void EncryptNewItem(channel::TWP& wpo, Platform& platform, const std::string& pgp_path,
                    const EncryptStep& step);

// Deletes a file; a missing file is no error.
void DeleteFile(const std::string& path);

// Removes what a run that was killed may have left in the PGP directory: the plain text of a
// body or of an attachment (PgpDirectory::IsPlainTextLeftover).
void RemoveLeftovers(const std::string& pgp_path);

// Plain text on its way to or from PGP. The file is removed when the guard is made, so that only
// this run's text is ever read, and again when the guard goes, however the scope is left. A file
// that the mail client is to fill is made first, empty and private to the user
// (System::CreatePrivateFile); PGP makes its own outputs private.
class PlainTextFile {
 public:
  enum class WrittenBy { kMailClient, kPgp };
  PlainTextFile(System& system, const std::string& path, WrittenBy writer);

 private:
  FileRemovedAtExit removed_;
};

}  // namespace quillet::ui
