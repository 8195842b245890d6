// Choosing keys by user ID, tried on keys made here as GPGME describes them, without GnuPG: short
// key IDs that collide, as anyone can make them collide, and a key that a listing gives twice.
#include <gpgme.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "pgp26/session.h"

namespace pgp26_test {
namespace {

using pgp26::Usage;

// A key of Bob's user ID with one subkey; the strings live as long as the key.
struct MadeKey {
  MadeKey(std::string key_name, std::string fpr, std::string subkey_fpr, bool can_encrypt,
          bool secret, bool revoked = false)
      : name(std::move(key_name)), primary_fpr(std::move(fpr)), sub_fpr(std::move(subkey_fpr)) {
    primary.fpr = key.fpr = primary_fpr.data();
    primary.next = &subkey;
    subkey.fpr = sub_fpr.data();
    uid.uid = user_id.data();
    uid.email = email.data();
    key.subkeys = &primary;
    key.uids = &uid;
    key.can_encrypt = can_encrypt;
    key.can_sign = 1;
    key.secret = secret;
    key.revoked = revoked;
  }
  MadeKey(const MadeKey&) = delete;
  MadeKey& operator=(const MadeKey&) = delete;

  std::string name, primary_fpr, sub_fpr;
  std::string user_id = "Bob Builder <bob@example.org>", email = "bob@example.org";
  _gpgme_key key{};
  _gpgme_subkey primary{}, subkey{};
  _gpgme_user_id uid{};
};

TEST(KeyChoice, GivesEveryKeyThatAnswersAndServesOnce) {
  // Bob's key, a key made to end in Bob's short key ID, one whose subkey ends in it, a revoked
  // one that does, and Bob's key again.
  MadeKey ring[] = {
      {"bob", "CAA3FB615CC789FD084B7B1883665BE8C283EB15",
       "73BE1469D45807CAA17A2895C66532EDDF15578B", true, true},
      {"forged", "0123456789ABCDEF0123456789ABCDEFC283EB15",
       "00112233445566778899AABBCCDDEEFF00112233", true, false},
      {"subkey", "FEDCBA9876543210FEDCBA9876543210AAAA0001",
       "5555666677778888999900001111FFFFC283EB15", true, true},
      {"revoked", "99998888777766665555444433332222C283EB15",
       "99998888777766665555444433332222DDDD0002", true, true, true},
      {"bob", "CAA3FB615CC789FD084B7B1883665BE8C283EB15",
       "73BE1469D45807CAA17A2895C66532EDDF15578B", true, true},
  };
  std::vector<gpgme_key_t> listed;
  for (MadeKey& made : ring) listed.push_back(&made.key);
  struct Case {
    const char* pattern;
    Usage usage;
    std::vector<std::string> keys;
  };
  const Case cases[] = {
      {"0xC283EB15", Usage::kEncrypt, {"bob", "forged", "subkey"}},
      {"0xc283eb15", Usage::kAny, {"bob", "forged", "subkey", "revoked"}},
      {"0xC283EB15", Usage::kSign, {"bob", "subkey"}},
      {"0x83665BE8C283EB15", Usage::kEncrypt, {"bob"}},
      {"0x0123456789ABCDEF0123456789ABCDEFC283EB15", Usage::kEncrypt, {"forged"}},
      {"0x0BADF00D", Usage::kAny, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    std::vector<std::string> names;
    for (const gpgme_key_t key : pgp26::UsableKeys(listed, {c.pattern, c.usage}))
      for (const MadeKey& made : ring)
        if (&made.key == key) names.push_back(made.name);
    EXPECT_EQ(names, c.keys);
  }
}

}  // namespace
}  // namespace pgp26_test
