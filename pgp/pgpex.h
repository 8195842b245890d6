// The PGP driver: the run log, running a logged command and a confirmed shell start, the PGP
// command component that turns each operation into a PGP command line, and the list control of
// key-listing lines with the user IDs cut out of them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "pgp/pgp_directory.h"
#include "pgp/verdict.h"
#include "platform/platform.h"

namespace quillet::pgp {

// A missing key-listing file, or a list without one.
class ENoFile : public Error {
 public:
  using Error::Error;
};

// The show mode PGP's console window gets (SW_SHOW).
inline constexpr int kShowConsole = 5;

// Appends lines to the run log, creating it when missing, each ended by CR LF. The pass phrase
// of a pass-phrase clause never reaches the log: it is written as eight asterisks.
void AppendToRunLog(System& system, const std::vector<std::string>& lines);

// Runs directory + program, one blank and the parameter text, with `environment` added to this
// process's, waits for it, and logs the command line as executed with its exit code. The program
// path is quoted when it holds a blank.
std::int32_t RunLogged(Platform& platform, const std::string& program,
                       const std::string& parameters, const std::string& directory, int show_mode,
                       const EnvironmentAddition& environment = {});

// Hands a file to the shell without waiting, then asks the user to confirm that the console
// program has finished. True when they answer OK.
bool ShellRunConfirmed(Platform& platform, const std::string& file, const std::string& parameters,
                       const std::string& directory, int show_mode);

// Removes an earlier file at `path` before PGP is to write it, so that a file found there
// afterwards was written by that run, with the parts of armour an earlier run split (see
// RemoveSplitArmour). Raises Error when it cannot be removed.
void ClearOutput(const std::string& path);

// A classic PGP program whose config.txt lacks "ArmorLines = 0" writes long armour for
// FILE.asc as FILE.as1, FILE.as2, ... and succeeds. Removes those parts of `path`; true when
// there were any, and the user is to be told kSplitArmourMessage.
bool RemoveSplitArmour(const std::string& path);
inline constexpr char kSplitArmourMessage[] =
    "PGP split its output into several files; set ArmorLines = 0 in PGP's config.txt and try "
    "again.";

// What PGP wrote to `path` in a run that ended with `exit_code`: the file's content when the run
// succeeded and left a regular file there; nothing otherwise. Callers clear the output first.
std::optional<std::string> ReadOutput(std::int32_t exit_code, const std::string& path);

// ReadOutput, and only when the content is one whole armoured block of `kind` ("MESSAGE",
// "PUBLIC KEY BLOCK"): its last non-empty line ends the block, an armour checksum line comes
// before that, and no other block begins in the file. A message's block is the whole file; a key
// block may follow the key's listing, as the classic program writes it, which is kept. A file
// cut short, empty or holding an error text is no result.
std::optional<std::string> ReadArmouredOutput(std::int32_t exit_code, const std::string& path,
                                              std::string_view kind);

// False for the empty or blank user ID of an empty listing line: it names no key, and PGP must
// never be given one.
bool NamesKey(const std::string& user_id);

// What a key-list line names for PGP, besides "0x" and a key's ID and "" for a line of no key:
// a key whose ID other keys of the listing share (a short key ID can be forged), and a line of
// a listing whose keys are not known (one trimmed before they were kept, or never trimmed). PGP
// is never given either: TPGP refuses them with the messages below.
inline constexpr char kAmbiguousKey[] = "?ambiguous";
inline constexpr char kUnknownKey[] = "?unknown";
inline constexpr char kAmbiguousKeyMessage[] =
    "More than one key matches the selected line; remove the key you do not want (Key Remove) "
    "or compare fingerprints.";
inline constexpr char kUnknownKeyMessage[] =
    "The key lists are out of date; press Load Keys in Quillet's main window and select the "
    "keys again.";

enum class forcetype : std::uint8_t { Force = 0, NoForce = 1 };

// How a decryption ended: PGP's exit code (nothing when no PGP program is chosen), and the
// verdict on the message's signatures when the PGP program reported one.
struct DecryptResult {
  std::optional<std::int32_t> exit_code;
  std::optional<SignatureVerdict> signature;
  std::string notice;  // why it failed, when our PGP program said so (TPGP::LastNotice)
};

// The environment variable through which a run asks our PGP program to write why it failed (one
// line) (PgpDirectory::Notice). A classic program ignores it.
inline constexpr char kNoticeVariable[] = "QUILLET_NOTICE";

// The environment variable through which every encryption names the file that holds the mail's
// text, the body the mail client saved in the ANSI code page. Our PGP program encrypts that text
// as UTF-8, which current mail programs read; a classic program ignores the variable and encrypts
// the code page's own bytes, which are what its correspondents read. Attachments are bytes, and
// go as they are.
inline constexpr char kMailTextVariable[] = "QUILLET_MAIL_TEXT";

// The PGP command component of a window.
class TPGP {
 public:
  // `owner` is brought to the front before the message about a missing PGP program.
  TPGP(Platform& platform, gui::Window* owner);

  std::string PGPPath;  // ends with the path separator when set
  PgpDirectory Directory() const { return PgpDirectory(PGPPath); }
  std::string PGPProg;
  forcetype Forcecheck = forcetype::NoForce;
  // Why the last run failed, in the PGP program's words; empty when it did not say.
  std::string LastNotice;

  // Each operation returns PGP's exit code, or nothing when no PGP program is chosen (the user
  // has then been told). A key is named by a user ID, or as a key list names it (TPGPList); a
  // list's kAmbiguousKey or kUnknownKey raises Error with its message before anything runs.
  std::optional<std::int32_t> GenerateKey();
  std::optional<std::int32_t> RemoveKey(const std::string& user_id);
  std::optional<std::int32_t> AddKey(const std::string& key_file);
  std::optional<std::int32_t> ExtractKey(const std::string& user_id, const std::string& key_file);
  // Asks the PGP program for its signature record in the PGP directory, which is gone again
  // afterwards, however the run ends.
  DecryptResult DecryptFile(const std::string& file, const std::string& pass_phrase);
  // Mode 0 encrypts, 1 encrypts and signs, 2 signs, 3 encrypts with a password typed into PGP's
  // own window. Blank user IDs are left out.
  std::optional<std::int32_t> EncryptFile(const std::string& file,
                                          const std::vector<std::string>& recipients,
                                          const std::vector<std::string>& signers,
                                          const std::string& pass_phrase, int mode);
  // Logs the command and runs PGP with the parameter text, or tells the user that no PGP program
  // is chosen yet. Takes the run's notice into LastNotice; its file is gone afterwards.
  std::optional<std::int32_t> RunPGP(const std::string& parameters,
                                     const EnvironmentAddition& environment = {});

  // The batch file that lists both key rings, with the keys' fingerprints, into quillet.key and
  // quillet.sec.
  void WriteKeyListBatch();
  // Regenerates and trims both listings when forced or when the public listing is missing.
  void RefreshKeyListings();
  // Cuts a PGP key listing down to its user-ID column, in place, without its fingerprint lines,
  // and writes beside it the key each remaining line belongs to (PgpDirectory::ListingKeys).
  static void TrimKeyListing(const std::string& path);

 private:
  Platform& platform_;
  gui::Window* owner_;
};

// A list box showing the lines of a trimmed key listing, with the keys of its selected items.
// A line stands for the key it was listed under, never for its text: two keys may carry the
// same user ID.
class TPGPList {
 public:
  explicit TPGPList(gui::ListBox& box);

  std::string Filename;
  // The keys of the selected items in item order, as of the user's last selection change.
  std::vector<std::string> SelectedIDs;

  // Loads the listing and the keys kept beside it; without them, or when they do not fit the
  // listing, every line that shows text names kUnknownKey.
  void LoadKeys();
  // The key the item belongs to, as PGP is to be given it: "0x" and its fingerprint or key ID,
  // kAmbiguousKey or kUnknownKey; "" for a line of no key and for an empty list.
  std::string UserIDAt(int index) const;
  void UpdateSelection();
  // The user changed the selection.
  void Click();
  // The owner's click handler, run after the selection is taken over.
  void SetOnClick(std::function<void()> handler) { on_click_ = std::move(handler); }
  gui::ListBox& box() { return box_; }

 private:
  gui::ListBox& box_;
  std::vector<std::string> keys_;  // one for each item
  std::function<void()> on_click_;
};

}  // namespace quillet::pgp
