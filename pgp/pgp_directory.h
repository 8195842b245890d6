// The files that Quillet and the PGP program keep in the PGP directory, each named here once.
// The directory's path ends with its separator, as TPGP::PGPPath does. (The installer, which
// clears the earlier shared folder of them, lists them again in QuilletPgpFolderFiles.)
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace quillet::pgp {

class PgpDirectory {
 public:
  explicit PgpDirectory(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }

  // The mail's text on its way to PGP, and a decrypted text on its way to the mail client.
  std::string MailText() const { return path_ + kMailTextName; }
  // An attachment's content on its way to or from PGP; `index` counts from 0.
  std::string Document(int index) const { return path_ + "doc" + std::to_string(index); }
  // What PGP writes for `file` with armour.
  static std::string Armoured(const std::string& file) { return file + ".asc"; }
  // Part `part` (from 1) of armour that a PGP program split into several files.
  static std::string SplitArmourPart(const std::string& armoured, int part) {
    return armoured.substr(0, armoured.size() - 1) + std::to_string(part);
  }
  // Cipher text too long for a message body, attached to the mail under this name.
  std::string ArmourAttachment() const { return path_ + kArmourAttachmentName; }
  // Our PGP program's verdict on a decrypted message's signatures, and why a run failed.
  std::string SignatureRecord() const { return path_ + "temppgp.sig"; }
  std::string Notice() const { return path_ + "temppgp.msg"; }
  // The key listings the batch file writes, and beside each the keys of its lines.
  std::string PublicListing() const { return path_ + kPublicListingName; }
  std::string SecretListing() const { return path_ + kSecretListingName; }
  static std::string ListingKeys(const std::string& listing) { return listing + ".ids"; }
  std::string ListingBatch() const { return path_ + "pgpkey.bat"; }
  std::string Config() const { return path_ + "config.txt"; }

  // Whether a file of this name is plain text that an operation which was killed left behind:
  // the mail's text or an attachment's.
  static bool IsPlainTextLeftover(std::string_view name) {
    if (name == kMailTextName) return true;
    return name.size() > 3 && name.starts_with("doc") &&
           name.find_first_not_of("0123456789", 3) == std::string_view::npos;
  }

  static constexpr char kMailTextName[] = "temppgp";
  static constexpr char kArmourAttachmentName[] = "message.asc";
  // Named in the batch file, which runs in the directory.
  static constexpr char kPublicListingName[] = "quillet.key";
  static constexpr char kSecretListingName[] = "quillet.sec";

 private:
  std::string path_;
};

}  // namespace quillet::pgp
