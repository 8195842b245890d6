// How keys are named in messages and listings: PGP's short key IDs, dates and listing lines.
#ifndef QUILLET_PGP26_KEY_TEXT_H_
#define QUILLET_PGP26_KEY_TEXT_H_

#include <gpgme.h>

#include <string>

namespace pgp26 {

// The last 8 hex digits of a key ID or fingerprint, in upper case.
std::string ShortKeyId(const char* key_id);

// "YYYY/MM/DD", or "YYYY/MM/DD HH:MM" with `with_time`, in UTC.
std::string UtcDate(long timestamp, bool with_time = false);

// A user ID as GnuPG gives it (UTF-8, or nullptr for none) as text for the console: in the
// system's narrow text, and Printable.
std::string ShownUserId(const char* utf8);

// The key's first user ID as ShownUserId gives it, or "" when it has none.
std::string FirstUserId(gpgme_key_t key);

// "3072-bit key, key ID 0A1B2C3D, created 2026/01/01".
std::string KeySummary(gpgme_key_t key);

// The key as PGP 2.6 showed it before a question about it, each line ending in '\n':
// "Key for user ID: ...", its KeySummary, and its fingerprint line.
std::string KeyDescription(gpgme_key_t key);

// "CAA3 FB61 5CC7 89FD 084B  7B18 8366 5BE8 C283 EB15": the fingerprint `fpr` in groups of 4 hex
// digits in upper case, the two halves set apart by a second blank.
std::string GroupedFingerprint(const char* fpr);

// The key's lines in a -kv listing, each ending in '\n': the pub line (sec with `secret`) with
// its first user ID, with `fingerprint` the key's fingerprint line as -kvc shows it, and a line
// for each further user ID. Each user ID is followed by its certifications when the listing
// carries them (Session::CertifiedKeys), as -kc shows them: "sig!" for a good one, "sig?" for
// one by a key not on the ring, "sig*" for one that does not hold.
std::string ListingLines(gpgme_key_t key, bool secret, bool fingerprint);

}  // namespace pgp26

#endif  // QUILLET_PGP26_KEY_TEXT_H_
