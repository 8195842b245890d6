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

// The key's lines in a -kv listing, each ending in '\n': the pub line (sec with `secret`) with
// its first user ID, with `fingerprint` the key's fingerprint line as -kvc shows it, and a line
// for each further user ID.
std::string ListingLines(gpgme_key_t key, bool secret, bool fingerprint);

}  // namespace pgp26

#endif  // QUILLET_PGP26_KEY_TEXT_H_
