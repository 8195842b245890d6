#include "ui/encryption.h"

#include <filesystem>

#include "base/error.h"
#include "base/file.h"
#include "base/text.h"
#include "pgp/pgpex.h"

namespace quillet::ui {

namespace {

namespace fs = std::filesystem;

// Replaces the new item's body by `text`: empties it, then fills it. False when the mail client
// refused a command; the body may then hold part of the text.
bool ReplaceBody(channel::TWP& wpo, const std::string& text) {
  try {
    wpo.ClearBody();
    wpo.AppendToBody(text);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::string AttachmentNotEncrypted(int number) {
  return "PGP could not encrypt attachment " + std::to_string(number) +
         "; the message was not changed.";
}

std::string TextNotPutBack(const std::string& kept_file) {
  return "The encrypted text could not be written into the message, and the original text could "
         "not be put back; the encrypted text is kept in " +
         kept_file + ".";
}

std::string OriginalAttachmentsLeft(int count) {
  return "Not every original attachment could be removed: the message holds its encrypted "
         "attachments and " +
         std::to_string(count) + " of the originals. Remove those before sending it.";
}

void DeleteFile(const std::string& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

void RemoveLeftovers(const std::string& pgp_path) {
  if (pgp_path.empty()) return;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(pgp_path, error)) {
    if (pgp::PgpDirectory::IsPlainTextLeftover(entry.path().filename().string()))
      DeleteFile(entry.path().string());
  }
}

PlainTextFile::PlainTextFile(System& system, const std::string& path, WrittenBy writer)
    : removed_(path) {
  DeleteFile(path);
  // The mail client writes into the file that is there, which keeps its access list.
  if (writer == WrittenBy::kMailClient) system.CreatePrivateFile(path);
}

void EncryptNewItem(channel::TWP& wpo, Platform& platform, const std::string& pgp_path,
                    const EncryptStep& step) {
  const auto tell = [&platform](const std::string& text) {
    platform.gui.Confirm(text, gui::Buttons::kOk);
  };
  const pgp::PgpDirectory directory(pgp_path);
  const std::string temp = directory.MailText();
  const std::string armoured = pgp::PgpDirectory::Armoured(temp);

  // The body: its plain text is kept in memory for as long as it may have to be put back.
  pgp::ClearOutput(armoured);
  std::string original;
  std::optional<std::int32_t> exit_code;
  {
    const PlainTextFile plain(platform.system, temp, PlainTextFile::WrittenBy::kMailClient);
    wpo.ItemSaveMessage(channel::kNewItem, temp);
    original = ReadWholeFile(temp);
    exit_code = step(temp);
  }
  if (!exit_code) return;
  const std::optional<std::string> cipher =
      pgp::ReadArmouredOutput(*exit_code, armoured, "MESSAGE");
  if (!cipher) {
    DeleteFile(armoured);
    tell(pgp::RemoveSplitArmour(armoured) ? pgp::kSplitArmourMessage : kTextNotEncrypted);
    return;
  }

  // Every attachment, before anything in the item changes.
  const int count = wpo.ItemAttachmentGetCount(channel::kNewItem);
  for (int i = 0; i < count; ++i) {
    const std::string file = directory.Document(i);
    const std::string file_armoured = pgp::PgpDirectory::Armoured(file);
    pgp::ClearOutput(file_armoured);
    {
      const PlainTextFile plain(platform.system, file, PlainTextFile::WrittenBy::kMailClient);
      wpo.ItemAttachmentSaveAs(channel::kNewItem, i, file);
      exit_code = step(file);
    }
    if (!exit_code || !pgp::ReadArmouredOutput(*exit_code, file_armoured, "MESSAGE")) {
      DeleteFile(armoured);
      DeleteFile(file_armoured);
      const bool split = pgp::RemoveSplitArmour(file_armoured);
      if (exit_code) tell(split ? pgp::kSplitArmourMessage : AttachmentNotEncrypted(i + 1));
      return;
    }
  }

  // The mail client would cut a body that does not fit, without a word: such cipher text goes
  // whole, as the first attachment, and the body says where it is.
  std::vector<std::string> additions;
  const std::string attached = directory.ArmourAttachment();
  const FileRemovedAtExit attached_removed(attached);
  const bool fits = channel::TWP::LengthInBody(*cipher) <= kBodyLimit;
  if (!fits) {
    WriteWholeFile(attached, *cipher);
    additions.push_back(attached);
  }
  for (int i = 0; i < count; ++i)
    additions.push_back(pgp::PgpDirectory::Armoured(directory.Document(i)));

  if (!ReplaceBody(wpo, fits ? *cipher : std::string(kBodyInAttachment))) {
    if (ReplaceBody(wpo, original)) {
      DeleteFile(armoured);
      tell(kTextPutBack);
    } else {
      tell(TextNotPutBack(armoured));  // the cipher text stays for the user
    }
    return;
  }
  DeleteFile(armoured);

  // The encrypted attachments go in first, so that a refused command can leave a duplicate but
  // never lose an attachment.
  int added = 0, removed = 0;
  const int to_add = static_cast<int>(additions.size());
  try {
    for (; added < to_add; ++added) wpo.AttachmentAdd(additions[static_cast<std::size_t>(added)]);
    for (; removed < count; ++removed) wpo.AttachmentDelete(0);
  } catch (const std::exception&) {
    if (removed > 0) {
      tell(OriginalAttachmentsLeft(count - removed));
      return;
    }
    // The added ones follow the originals; taking them out again restores the item.
    bool put_back = true;
    try {
      for (int i = 0; i < added; ++i) wpo.AttachmentDelete(count);
    } catch (const std::exception&) {
      put_back = false;
    }
    put_back = put_back && ReplaceBody(wpo, original);
    tell(put_back ? kAttachmentsNotReplaced : kAttachmentsNotPutBack);
  }
}

}  // namespace quillet::ui
