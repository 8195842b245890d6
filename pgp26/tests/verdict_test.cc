// The record's text and the console's escaping, formed without GnuPG.
#include "pgp26/verdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pgp26/console.h"

namespace pgp26 {
namespace {

constexpr char kBobFingerprint[] = "CAA3FB615CC789FD084B7B1883665BE8C283EB15";
constexpr char kAliceFingerprint[] = "32DE3555422DFDA9F6C6F1260DCF3C53DB754C09";
constexpr char kAliceUserId[] = "Alice Example <alice@example.com>";
constexpr char kAliceEscaped[] = "Alice%20Example%20<alice@example.com>";

TEST(SignatureRecord, OneLinePerSignatureNamedByItsLongKeyId) {
  struct Case {
    const char* what;
    std::vector<Signature> signatures;
    std::string record;
  };
  const Case cases[] = {
      {"no signature", {}, "NONE\n"},
      {"good, by fingerprint, certified",
       {{GPG_ERR_NO_ERROR, kBobFingerprint, 1577836860, "Bob Builder <bob@example.org>",
         kBobFingerprint, true}},
       std::string("GOOD 83665BE8C283EB15 ") + kBobFingerprint +
           " CERTIFIED 2020-01-01T00:01:00Z Bob%20Builder%20<bob@example.org>\n"},
      {"good, by lower-case key ID, not certified",
       {{GPG_ERR_NO_ERROR, "0dcf3c53db754c09", 951782400, kAliceUserId, kAliceFingerprint}},
       std::string("GOOD 0DCF3C53DB754C09 ") + kAliceFingerprint +
           " UNCERTIFIED 2000-02-29T00:00:00Z " + kAliceEscaped + "\n"},
      {"good, but the key's fingerprint is not known",
       {{GPG_ERR_NO_ERROR, kBobFingerprint, 1, "Bob", "83665BE8C283EB15", true}},
       "ERROR 83665BE8C283EB15 GnuPG%20did%20not%20name%20the%20signing%20key\n"},
      {"expired key",
       {{GPG_ERR_KEY_EXPIRED, "0DCF3C53DB754C09", 86399, kAliceUserId}},
       std::string("EXPIRED 0DCF3C53DB754C09 1970-01-01T23:59:59Z ") + kAliceEscaped + "\n"},
      {"expired signature",
       {{GPG_ERR_SIG_EXPIRED, "0DCF3C53DB754C09", 86400, kAliceUserId}},
       std::string("EXPIRED 0DCF3C53DB754C09 1970-01-02T00:00:00Z ") + kAliceEscaped + "\n"},
      {"revoked key",
       {{GPG_ERR_CERT_REVOKED, "0DCF3C53DB754C09", 4102444799, kAliceUserId}},
       std::string("REVOKED 0DCF3C53DB754C09 2099-12-31T23:59:59Z ") + kAliceEscaped + "\n"},
      {"no time, no user ID",
       {{GPG_ERR_NO_ERROR, "0DCF3C53DB754C09", 0, "", kAliceFingerprint}},
       std::string("GOOD 0DCF3C53DB754C09 ") + kAliceFingerprint +
           " UNCERTIFIED 1970-01-01T00:00:00Z \n"},
      {"unknown key",
       {{GPG_ERR_NO_PUBKEY, "0DCF3C53DB754C09", 1, ""}},
       "UNKNOWN 0DCF3C53DB754C09\n"},
      {"bad", {{GPG_ERR_BAD_SIGNATURE, kBobFingerprint, 1, ""}}, "BAD 83665BE8C283EB15\n"},
      {"bad and not named", {{GPG_ERR_BAD_SIGNATURE, "", 1, ""}}, "BAD 0000000000000000\n"},
      // GnuPG's words for a signature of PGP 2.6 (MD5, a version 3 key) whatever its text.
      {"not checked",
       {{GPG_ERR_GENERAL, kBobFingerprint, 1, "Bob"}},
       "ERROR 83665BE8C283EB15 General%20error\n"},
      {"good but named by a short key ID",
       {{GPG_ERR_NO_ERROR, "DB754C09", 1, kAliceUserId}},
       "ERROR 0000000000000000 GnuPG%20did%20not%20name%20the%20signing%20key\n"},
      {"revoked but named by 15 digits",
       {{GPG_ERR_CERT_REVOKED, "DCF3C53DB754C09", 1, kAliceUserId}},
       "ERROR 0000000000000000 Certificate%20revoked\n"},
      {"good but named by no hex digits",
       {{GPG_ERR_NO_ERROR, "0DCF3C53DB754C0G", 1, kAliceUserId}},
       "ERROR 0000000000000000 GnuPG%20did%20not%20name%20the%20signing%20key\n"},
      {"unknown and not named",
       {{GPG_ERR_NO_PUBKEY, "", 0, ""}},
       "ERROR 0000000000000000 GnuPG%20did%20not%20name%20the%20signing%20key\n"},
      {"user ID with blanks, controls, '%' and UTF-8",
       {{GPG_ERR_NO_ERROR, "0DCF3C53DB754C09", 0,
         "Zo\xC3\xAB \"Z\"\t<z%@x>\nGood signature from user\r!~\x7F", kAliceFingerprint}},
       std::string("GOOD 0DCF3C53DB754C09 ") + kAliceFingerprint +
           " UNCERTIFIED 1970-01-01T00:00:00Z "
           "Zo%C3%AB%20\"Z\"%09<z%25@x>%0AGood%20signature%20from%20user%0D!~%7F\n"},
      {"several, in GnuPG's order",
       {{GPG_ERR_NO_PUBKEY, "1111111111111111", 5, ""},
        {GPG_ERR_NO_ERROR, kBobFingerprint, 60, "Bob", kBobFingerprint, true},
        {GPG_ERR_BAD_SIGNATURE, "2222222222222222", 5, ""}},
       std::string("UNKNOWN 1111111111111111\nGOOD 83665BE8C283EB15 ") + kBobFingerprint +
           " CERTIFIED 1970-01-01T00:01:00Z Bob\n"
           "BAD 2222222222222222\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(RecordText(c.signatures), c.record);
  }
}

TEST(ConsoleText, ControlCharactersOtherThanTabAreEscaped) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"Alice Example <alice@example.com>", "Alice Example <alice@example.com>"},
      {"x\nGood signature", "x\\x0AGood signature"},
      {"\r\x1B[2J\x7F", "\\x0D\\x1B[2J\\x7F"},
      {std::string("a\0b\x01\x1F", 5), "a\\x00b\\x01\\x1F"},
      {"tab\there ~ Zo\xC3\xAB", "tab\there ~ Zo\xC3\xAB"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Printable(c.text), c.shown);
}

}  // namespace
}  // namespace pgp26
