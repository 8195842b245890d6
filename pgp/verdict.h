// The verdict on a message's signatures that our PGP program writes beside its console: a record
// file named through the environment of the decrypting run. A classic PGP program ignores the
// variable and writes nothing, so every caller must treat a missing verdict as "not reported".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillet::pgp {

// The environment variable that names the record file (PgpDirectory::SignatureRecord).
inline constexpr char kSignatureRecordVariable[] = "QUILLET_SIGNATURE_RECORD";

// From the best to the worst a signature can be. Only kGood vouches for the signer: kUncertified
// is a correct signature by a key the user has not certified, whose name anyone could have chosen.
enum class SignatureState {
  kNone,
  kGood,
  kUncertified,
  kUnknown,
  kError,
  kExpired,
  kRevoked,
  kBad
};

struct SignatureVerdict {
  SignatureState state = SignatureState::kNone;
  std::string key_id;   // the signer's long key ID, 16 upper-case hex digits; empty for kNone
  std::string made;     // "YYYY-MM-DD HH:MM" in UTC, for good, expired and revoked signatures
  std::string user_id;  // the signer's user ID as the key holds it (UTF-8), for the same three
  std::string reason = "";  // why GnuPG could not check it (UTF-8), for kError
  // The full fingerprint of the signer's key (upper-case hex), for kGood and kUncertified.
  std::string fingerprint = "";
};

// The verdict of a record: the worst of the signatures it lists (the first of them when several
// are equally bad), or kNone for an unsigned message. Nothing unless the whole text is a record
// as our PGP program writes it: LF-ended lines of
//   NONE                                (alone)
//   GOOD <key id> <fingerprint> CERTIFIED|UNCERTIFIED <YYYY-MM-DDTHH:MM:SSZ> <user id, escaped>
//                                       (kGood when CERTIFIED, kUncertified otherwise)
//   EXPIRED|REVOKED <key id> <YYYY-MM-DDTHH:MM:SSZ> <user id, percent-escaped>
//   UNKNOWN|BAD <key id>
//   ERROR <key id> <reason, percent-escaped>
std::optional<SignatureVerdict> ParseSignatureRecord(std::string_view text);

// Reads the record at `path` and removes it. Nothing when there is none, or it is not a record.
std::optional<SignatureVerdict> TakeSignatureRecord(const std::string& path);

}  // namespace quillet::pgp
