// The verdict on a message's signatures, for the person at the console and, as a record file, for
// the program that ran pgp (Quillet names the file in QUILLET_SIGNATURE_RECORD). Both come from
// GnuPG's verification result alone, never from any text of the message.
//
// The record is ASCII, one line per signature in GnuPG's order, each ended by "\n":
//   GOOD <keyid> <fpr> <certified> <created> <userid>
//                                        a valid signature by a key on the ring
//   EXPIRED <keyid> <created> <userid>   by an expired key, or an expired signature
//   REVOKED <keyid> <created> <userid>   by a revoked key
//   UNKNOWN <keyid>                      by a key that is not on the ring
//   BAD <keyid>                          one that does not match the text (GnuPG's bad signature)
//   ERROR <keyid> <reason>               one that GnuPG could not check, for any other reason
// or the single line "NONE" for a message without signatures. <keyid> is the signer's long key
// ID in 16 upper-case hex digits, or 16 zeros when GnuPG did not name the key so; <fpr> the full
// fingerprint of the key on the ring (of its primary key, which -kvc shows), in upper-case hex;
// <certified> is CERTIFIED when GnuPG holds the key valid under PGP's web of trust (the user's
// own key, or one certified by it or by enough trusted introducers), else UNCERTIFIED; <created> is
// "YYYY-MM-DDTHH:MM:SSZ" in UTC; <userid> is the signing key's first user ID in UTF-8, and
// <reason> GnuPG's text for why it could not check the signature, each with every byte outside
// '!'..'~', and '%', written as '%' and two upper-case hex digits.
#ifndef QUILLET_PGP26_VERDICT_H_
#define QUILLET_PGP26_VERDICT_H_

#include <gpgme.h>

#include <functional>
#include <string>
#include <vector>

#include "pgp26/gpgme_handles.h"

namespace pgp26 {

// One signature as GnuPG verified it.
struct Signature {
  gpgme_err_code_t status = GPG_ERR_NO_ERROR;
  std::string fpr;            // the signing key's fingerprint or key ID, as GPGME names it
  unsigned long created = 0;  // seconds since 1970 UTC; 0 when unknown
  std::string user_id;        // the signing key's first user ID (UTF-8); "" when not on the ring
  std::string key_fpr = "";   // the fingerprint of the signing key's primary key on the ring
  bool certified = false;     // GnuPG holds the key valid under PGP's web of trust
};

enum class Verdict { kGood, kExpired, kRevoked, kUnknown, kBad, kError };

// Only GnuPG's bad signature is bad. A status not named here is a signature that could not be
// checked, never a good one; so is any other signature whose key GnuPG did not name in at least
// 16 hex digits, whatever its status, and a good one whose key's fingerprint is not known:
// nothing may be vouched for without knowing the key.
Verdict VerdictOf(const Signature& signature);

// Why GnuPG could not check a signature whose verdict is kError, in its words.
std::string ErrorReason(const Signature& signature);

// The signer's long key ID as the record gives it: 16 upper-case hex digits, or 16 zeros.
std::string RecordKeyId(const Signature& signature);

// The signatures of the last verification done in `ctx`, with whether GnuPG held each key valid,
// and the user IDs and fingerprints of the keys that `key_named` finds for them (it may use
// `ctx`).
std::vector<Signature> VerifiedSignatures(gpgme_ctx_t ctx,
                                          const std::function<Key(const std::string&)>& key_named);

std::string RecordText(const std::vector<Signature>& signatures);

// Removes the record an earlier run left at `path`, so that it can never pass for this run's;
// throws Failure(kInvalidFile) when something stays there.
void RemoveRecord(const std::string& path);

// Writes the record whole, or not at all: then it tells the person at the console, and the run
// goes on as it would without a record.
void WriteRecord(const std::string& path, const std::vector<Signature>& signatures);

}  // namespace pgp26

#endif  // QUILLET_PGP26_VERDICT_H_
