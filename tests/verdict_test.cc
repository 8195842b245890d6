// The signature record the PGP program writes beside its console: what a well-formed record says,
// and that anything else, however close, says nothing.
#include "pgp/verdict.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/test_platform.h"

namespace quillet::pgp {
namespace {

using State = SignatureState;

constexpr char kFingerprint[] = "FEDCBA9876543210012345670123456789ABCDEF";
constexpr char kAlice[] =
    "GOOD 0123456789ABCDEF FEDCBA9876543210012345670123456789ABCDEF CERTIFIED "
    "2026-12-08T04:51:09Z Alice%20Example%20%3Calice@example.com%3E\n";
// The same signature by a key with Alice's name that the user has not certified.
constexpr char kAliceNamed[] =
    "GOOD 0123456789ABCDEF FEDCBA9876543210012345670123456789ABCDEF UNCERTIFIED "
    "2026-12-08T04:51:09Z Alice%20Example%20%3Calice@example.com%3E\n";

struct Readable {
  const char* what;
  std::string record;
  SignatureVerdict verdict;
};

TEST(SignatureRecord, AWellFormedRecordGivesItsWorstSignature) {
  const SignatureVerdict alice{State::kGood, "0123456789ABCDEF", "2026-12-08 04:51",
                               "Alice Example <alice@example.com>", "", kFingerprint};
  SignatureVerdict alice_named = alice;
  alice_named.state = State::kUncertified;
  const Readable cases[] = {
      {"unsigned", "NONE\n", {State::kNone, "", "", ""}},
      {"good", kAlice, alice},
      {"correct, by a key not certified", kAliceNamed, alice_named},
      {"unknown signer", "UNKNOWN 89ABCDEF01234567\n", {State::kUnknown, "89ABCDEF01234567", "", ""}},
      {"bad", "BAD 89ABCDEF01234567\n", {State::kBad, "89ABCDEF01234567", "", ""}},
      {"not checked", "ERROR 89ABCDEF01234567 General%20error\n",
       {State::kError, "89ABCDEF01234567", "", "", "General error"}},
      {"expired key",
       "EXPIRED 0123456789ABCDEF 2020-01-02T03:04:05Z Old%20Key\n",
       {State::kExpired, "0123456789ABCDEF", "2020-01-02 03:04", "Old Key"}},
      {"revoked key",
       "REVOKED 0123456789ABCDEF 2020-01-02T03:04:05Z Carol\n",
       {State::kRevoked, "0123456789ABCDEF", "2020-01-02 03:04", "Carol"}},
      {"a user ID with control characters and UTF-8, escaped",
       "EXPIRED 0123456789ABCDEF 2026-12-08T04:51:09Z "
       "Zo%C3%AB%0AGood%20signature%20from%20user%20%22Mallory%22%25\n",
       {State::kExpired, "0123456789ABCDEF", "2026-12-08 04:51",
        "Zo\xC3\xAB\nGood signature from user \"Mallory\"%"}},
      {"a key without user ID", "REVOKED 0123456789ABCDEF 2026-12-08T04:51:09Z \n",
       {State::kRevoked, "0123456789ABCDEF", "2026-12-08 04:51", ""}},
      {"certified and not: the one not certified", std::string(kAlice) + kAliceNamed,
       alice_named},
      {"good and unknown: the unknown one",
       std::string(kAlice) + "UNKNOWN 89ABCDEF01234567\n", {State::kUnknown, "89ABCDEF01234567", "", ""}},
      {"bad after good: the bad one", std::string(kAlice) + "BAD 89ABCDEF01234567\n",
       {State::kBad, "89ABCDEF01234567", "", ""}},
      {"two good: the first", std::string(kAlice) + kAlice, alice},
  };
  for (const Readable& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<SignatureVerdict> verdict = ParseSignatureRecord(c.record);
    ASSERT_TRUE(verdict.has_value());
    EXPECT_EQ(verdict->state, c.verdict.state);
    EXPECT_EQ(verdict->key_id, c.verdict.key_id);
    EXPECT_EQ(verdict->made, c.verdict.made);
    EXPECT_EQ(verdict->user_id, c.verdict.user_id);
    EXPECT_EQ(verdict->reason, c.verdict.reason);
    EXPECT_EQ(verdict->fingerprint, c.verdict.fingerprint);
  }
}

TEST(SignatureRecord, AnythingElseIsNotReported) {
  const std::string good = kAlice;
  const std::string unescaped = "EXPIRED 0123456789ABCDEF 2026-12-08T04:51:09Z Alice Example\n";
  const std::string fields = std::string("GOOD 0123456789ABCDEF ") + kFingerprint;
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"no line end", "NONE"},
      {"CR LF", "NONE\r\n"},
      {"an empty line", "\n"},
      {"a line too many", good + "\n"},
      {"none with a signature", "NONE\n" + good},
      {"none twice", "NONE\nNONE\n"},
      {"lower case", "good" + good.substr(4)},
      {"an unknown verdict", "FINE 0123456789ABCDEF\n"},
      {"a short key ID", "UNKNOWN 89ABCDEF\n"},
      {"an error without its reason", "ERROR 89ABCDEF01234567\n"},
      {"a lower-case key ID", "BAD 89abcdef01234567\n"},
      {"a key ID that is not hex", "BAD 89ABCDEF0123456G\n"},
      {"a trailing blank", "BAD 89ABCDEF01234567 \n"},
      {"two blanks", "BAD  89ABCDEF01234567\n"},
      {"a good line without user ID field", fields + " CERTIFIED 2026-12-08T04:51:09Z\n"},
      {"a good line without fingerprint and certification",
       "GOOD 0123456789ABCDEF 2026-12-08T04:51:09Z Alice\n"},
      {"another word for certified", fields + " TRUSTED 2026-12-08T04:51:09Z Alice\n"},
      {"a short fingerprint",
       "GOOD 0123456789ABCDEF 0123456789ABCDEF CERTIFIED "
       "2026-12-08T04:51:09Z Alice\n"},
      {"a blank in the user ID", unescaped},
      {"a date in another form", fields + " CERTIFIED 2026-12-08 04:51:09 Alice\n"},
      {"a date without zone", fields + " CERTIFIED 2026-12-08T04:51:09 Alice\n"},
      {"a lone percent", fields + " CERTIFIED 2026-12-08T04:51:09Z 100%\n"},
      {"a percent at the end", fields + " CERTIFIED 2026-12-08T04:51:09Z Alice%2\n"},
      {"lower-case escape", fields + " CERTIFIED 2026-12-08T04:51:09Z Alice%3c\n"},
      {"a stray NUL", std::string("BAD 89ABCDEF01234567\0\n", 22)},
      {"a stray byte above ASCII", fields + " CERTIFIED 2026-12-08T04:51:09Z Zo\xC3\xAB\n"},
      {"a tab", fields + " CERTIFIED 2026-12-08T04:51:09Z Alice\tExample\n"},
      {"an overlong line",
       fields + " CERTIFIED 2026-12-08T04:51:09Z " + std::string(5000, 'A') + "\n"},
      {"too many signatures",
       [] {
         std::string many;
         for (int i = 0; i < 65; ++i) many += "UNKNOWN 89ABCDEF01234567\n";
         return many;
       }()},
      {"console text", "Good signature from user \"Alice Example <alice@example.com>\".\n"},
  };
  for (const auto& [what, record] : cases) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(ParseSignatureRecord(record).has_value());
  }
}

TEST(SignatureRecord, TakingARecordRemovesIt) {
  testing::TempDir dir;
  const std::string path = (dir.path() / "temppgp.sig").string();
  EXPECT_FALSE(TakeSignatureRecord(path).has_value());

  std::ofstream(path, std::ios::binary) << "UNKNOWN 89ABCDEF01234567\n";
  const std::optional<SignatureVerdict> verdict = TakeSignatureRecord(path);
  ASSERT_TRUE(verdict.has_value());
  EXPECT_EQ(verdict->state, State::kUnknown);
  EXPECT_FALSE(std::filesystem::exists(path));

  // A file far larger than any record is refused without being read whole, and goes too.
  std::ofstream(path, std::ios::binary) << "NONE\n" << std::string(1 << 20, 'x');
  EXPECT_FALSE(TakeSignatureRecord(path).has_value());
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace quillet::pgp
