// The key-ring commands, run as a process in homes that hold the fixture keys.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pgp26/tests/test_home.h"

namespace pgp26_test {
namespace {

namespace fs = std::filesystem;

constexpr char kPublicListing[] =
    "\n"
    "Key ring: 'pubring.pgp'\n"
    "Type Bits/KeyID    Date       User ID\n"
    "pub  3072/DB754C09 2026/12/08 Alice Example <alice@example.com>\n"
    "                              Alice Work <alice@work.example>\n"
    "pub   255/C283EB15 2026/12/08 Bob Builder <bob@example.org>\n"
    "pub  3072/60DD1FAC 2026/12/08 *** KEY REVOKED ***\n"
    "                              Carol Revoked <carol@example.net>\n"
    "3 matching keys found.\n";

constexpr char kSecretListing[] =
    "\n"
    "Key ring: 'secring.pgp'\n"
    "Type Bits/KeyID    Date       User ID\n"
    "sec  3072/DB754C09 2026/12/08 Alice Example <alice@example.com>\n"
    "                              Alice Work <alice@work.example>\n"
    "sec   255/C283EB15 2026/12/08 Bob Builder <bob@example.org>\n"
    "2 matching keys found.\n";

constexpr char kBobFingerprint[] = "CAA3FB615CC789FD084B7B1883665BE8C283EB15";

TEST(KeyListing, ListsPublicAndSecretRingsInTheClassicLayout) {
  const TestHome home;
  const RunResult pub = home.Pgp({"-kv"});
  EXPECT_EQ(pub.exit_code, 0);
  EXPECT_EQ(pub.out, kPublicListing);
  EXPECT_NE(pub.err.find("GnuPG"), std::string::npos);  // the banner stays out of the listing

  const RunResult sec = home.Pgp({"-kv", "secring.pgp"});
  EXPECT_EQ(sec.exit_code, 0);
  EXPECT_EQ(sec.out, kSecretListing);
}

TEST(KeyListing, SelectsByUserIdAndFlagsDisabledKeys) {
  const TestHome home;
  ASSERT_EQ(home.Gpg({"--edit-key", kBobFingerprint, "disable", "quit"}).exit_code, 0);
  const RunResult bob = home.Pgp({"-kv", "BUILDER"});
  EXPECT_EQ(bob.exit_code, 0);
  EXPECT_EQ(bob.out,
            "\nKey ring: 'pubring.pgp'\nType Bits/KeyID    Date       User ID\n"
            "pub-  255/C283EB15 2026/12/08 Bob Builder <bob@example.org>\n"
            "1 matching key found.\n");
  const RunResult none = home.Pgp({"-kv", "nobody", "secring.pgp"});
  EXPECT_EQ(none.exit_code, 0);
  EXPECT_EQ(none.out,
            "\nKey ring: 'secring.pgp'\nType Bits/KeyID    Date       User ID\n"
            "0 matching keys found.\n");
}

TEST(KeyListing, FirstRunConfiguresTheAgentWithoutCachingAndKeepsAnExistingSetup) {
  const TestHome bare = TestHome::Bare("pgp");
  const RunResult listed = bare.Pgp({"-kv"});
  EXPECT_EQ(listed.exit_code, 0);
  EXPECT_EQ(listed.out,
            "\nKey ring: 'pubring.pgp'\nType Bits/KeyID    Date       User ID\n"
            "0 matching keys found.\n");
  EXPECT_EQ(ReadFile(bare.File("gpg-agent.conf")),
            "default-cache-ttl 0\nmax-cache-ttl 0\nallow-loopback-pinentry\n");

  const TestHome home;
  const std::string before = ReadFile(home.File("gpg-agent.conf"));
  ASSERT_NE(before.find("s2k-count"), std::string::npos);
  EXPECT_EQ(home.Pgp({"-kv"}).exit_code, 0);
  EXPECT_EQ(ReadFile(home.File("gpg-agent.conf")), before);
}

TEST(KeyListing, WithoutPgpPathTheProgramFolderHoldsTheKeys) {
  const TestHome home = TestHome::Bare("bin");
  for (const fs::path& file : PgpInstallation()) fs::copy_file(file, home.path() / file.filename());
  const std::string program = home.File(PgpProgram().filename().string());
  ASSERT_EQ(RunProcess({program, "-ka", Fixture("bob.asc").string()}, "").exit_code, 0);
  EXPECT_TRUE(fs::exists(home.File("gpg-agent.conf")));
  EXPECT_NE(home.Pgp({"-kv"}).out.find("Bob Builder <bob@example.org>\n1 matching key found."),
            std::string::npos);
}

TEST(KeyExtraction, WritesTheArmouredPublicKeyThatGpgImports) {
  const TestHome home;
  const RunResult extracted = home.Pgp({"-kxa", "<bob@example.org>", home.File("bobkey")});
  EXPECT_EQ(extracted.exit_code, 0) << extracted.err;
  const std::string armour = ReadFile(home.File("bobkey.asc"));
  EXPECT_TRUE(armour.starts_with("-----BEGIN PGP PUBLIC KEY BLOCK-----")) << armour;
  EXPECT_EQ(armour.find("PRIVATE KEY"), std::string::npos);

  const TestHome empty(kNoKeys);
  EXPECT_EQ(empty.Gpg({"--import", home.File("bobkey.asc")}).exit_code, 0);
  const RunResult listed = empty.Gpg({"--with-colons", "--list-keys"});
  EXPECT_NE(listed.out.find(kBobFingerprint), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("alice"), std::string::npos) << listed.out;
}

TEST(KeyExtraction, UnknownUserIdFailsWithoutOutput) {
  const TestHome home;
  const RunResult result = home.Pgp({"-kxa", "<nobody@example.com>", home.File("key")});
  EXPECT_EQ(result.exit_code, 13);
  EXPECT_NE(result.err.find("Key not found"), std::string::npos) << result.err;
  EXPECT_FALSE(fs::exists(home.File("key.asc")));
}

TEST(KeyAddition, ImportsAKeyPastedIntoAMailBodyAndSkipsItTheSecondTime) {
  const TestHome sender({"bob.asc"});
  const RunResult exported = sender.Gpg({"--armor", "--export", kBobFingerprint});
  ASSERT_EQ(exported.exit_code, 0);
  // A reply quotes the key with "> " in front of every line.
  std::string quoted;
  for (std::size_t at = 0; at < exported.out.size();) {
    const std::size_t end = exported.out.find('\n', at);
    quoted += "> " + exported.out.substr(at, end - at) + "\r\n";
    at = end == std::string::npos ? exported.out.size() : end + 1;
  }
  const TestHome home({"alice.asc"});
  WriteFile(home.File("mail"), "Hello Alice,\r\n\r\nhere is my key:\r\n" + quoted + "Bob\r\n");

  const RunResult added = home.Pgp({"-ka", home.File("mail")});
  EXPECT_EQ(added.exit_code, 0) << added.err;
  EXPECT_EQ(added.out, "1 new key added to key ring.\n0 keys changed.\n0 keys skipped.\n");
  EXPECT_NE(home.Pgp({"-kv", "<bob@example.org>"}).out.find("1 matching key found."),
            std::string::npos);

  const RunResult again = home.Pgp({"-ka", home.File("mail")});
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_EQ(again.out, "0 new keys added to key ring.\n0 keys changed.\n1 key skipped.\n");
}

TEST(KeyAddition, ReportsChangedKeysAndSecretKeys) {
  // Alice revokes her work address; her updated key changes the copy another home has.
  const TestHome alice({"alice.asc"});
  ASSERT_EQ(alice
                .Gpg({"--passphrase", "alice pass", "--quick-revoke-uid", "alice@example.com",
                      "Alice Work <alice@work.example>"})
                .exit_code,
            0);
  WriteFile(alice.File("update"), alice.Gpg({"--armor", "--export", "alice@example.com"}).out);
  const TestHome home({"alice.asc"});
  const RunResult changed = home.Pgp({"-ka", alice.File("update")});
  EXPECT_EQ(changed.exit_code, 0) << changed.err;
  EXPECT_EQ(changed.out, "0 new keys added to key ring.\n1 key changed.\n0 keys skipped.\n");

  // Bob's fixture holds his public and his secret key.
  const RunResult added = home.Pgp({"-ka", Fixture("bob.asc").string()});
  EXPECT_EQ(added.exit_code, 0) << added.err;
  EXPECT_EQ(added.out,
            "1 new key added to key ring.\n0 keys changed.\n0 keys skipped.\n"
            "1 secret key added to secret key ring.\n");
  EXPECT_NE(home.Pgp({"-kv", "secring.pgp"}).out.find("Bob Builder"), std::string::npos);
}

TEST(KeyAddition, FailsWithoutKeysOrFile) {
  const TestHome home;
  WriteFile(home.File("letter"), "Dear Alice,\nno key in here.\n");
  const RunResult none = home.Pgp({"-ka", home.File("letter")});
  EXPECT_EQ(none.exit_code, 12);
  EXPECT_NE(none.err.find("No keys found"), std::string::npos) << none.err;
  EXPECT_EQ(home.Pgp({"-ka", home.File("missing")}).exit_code, 2);
}

TEST(KeyRemoval, ForcedRemovalTakesThePublicAndTheSecretKey) {
  const TestHome home;
  const RunResult removed = home.Pgp({"+force", "-kr", "<bob@example.org>"});
  EXPECT_EQ(removed.exit_code, 0) << removed.err;
  EXPECT_EQ(home.Pgp({"-kv", "bob"}).out.find("Bob"), std::string::npos);
  EXPECT_EQ(home.Pgp({"-kv", "secring.pgp"}).out.find("Bob"), std::string::npos);
  EXPECT_NE(home.Pgp({"-kv"}).out.find("Alice Example"), std::string::npos);
}

TEST(KeyRemoval, AsksFirstAndKeepsKeysWhenTheAnswerIsNo) {
  const TestHome home;
  const RunResult declined = home.Pgp({"-kr", "<bob@example.org>"}, "n\n");
  EXPECT_EQ(declined.exit_code, 16);
  EXPECT_NE(declined.err.find("Are you sure you want this key removed (y/N)?"), std::string::npos);
  // GnuPG keeps no secret key without its public key, so keeping the secret keeps both.
  const RunResult kept_secret = home.Pgp({"-kr", "<bob@example.org>"}, "y\nn\n");
  EXPECT_EQ(kept_secret.exit_code, 16);
  EXPECT_NE(home.Pgp({"-kv", "secring.pgp"}).out.find("Bob Builder"), std::string::npos);
  EXPECT_NE(home.Pgp({"-kv"}).out.find("Bob Builder"), std::string::npos);

  const RunResult both = home.Pgp({"-kr", "bob"}, "y\ny\n");
  EXPECT_EQ(both.exit_code, 0) << both.err;
  EXPECT_EQ(home.Pgp({"-kv", "secring.pgp"}).out.find("Bob Builder"), std::string::npos);

  // A public key alone needs one answer.
  const RunResult carol = home.Pgp({"-kr", "carol"}, "y\n");
  EXPECT_EQ(carol.exit_code, 0) << carol.err;
  EXPECT_EQ(home.Pgp({"-kv"}).out.find("Carol"), std::string::npos);

  EXPECT_EQ(home.Pgp({"+force", "-kr", "carol"}).exit_code, 16);
}

TEST(KeyGeneration, MakesAKeyPairProtectedByTheGivenPassPhrase) {
  const TestHome home(kNoKeys);
  const RunResult made = home.Pgp({"-kg"}, "Dora Doe <dora@example.com>\ndora pw\ndora pw\n");
  EXPECT_EQ(made.exit_code, 0) << made.err;
  EXPECT_NE(made.err.find("Your Name <you@example.com>"), std::string::npos);
  const RunResult listed = home.Pgp({"-kv", "secring.pgp"});
  ASSERT_NE(listed.out.find("1 matching key found."), std::string::npos) << listed.out;
  const std::size_t line = listed.out.find("sec  ");
  ASSERT_NE(line, std::string::npos);
  EXPECT_EQ(listed.out.substr(line + 30, listed.out.find('\n', line) - line - 30),
            "Dora Doe <dora@example.com>");
  const std::string key_id = listed.out.substr(line + 10, 8);
  EXPECT_NE(made.out.find("Key ID " + key_id), std::string::npos) << made.out;

  WriteFile(home.File("note"), "to Dora\n");
  EXPECT_EQ(home.Pgp({"+force", "-z", "dora pw", "-seaw", home.File("note"), "dora"}).exit_code, 0);
  EXPECT_EQ(home.Pgp({"+force", "-z", "wrong", home.File("note")}).exit_code, 31);
  EXPECT_EQ(home.Pgp({"+force", "-z", "dora pw", home.File("note")}).exit_code, 0);
  EXPECT_EQ(ReadFile(home.File("note")), "to Dora\n");
}

TEST(KeyGeneration, FailsWithoutAUserIdOrMatchingPassPhrases) {
  const TestHome home(kNoKeys);
  EXPECT_EQ(home.Pgp({"-kg"}, "\n").exit_code, 10);
  const RunResult different = home.Pgp({"-kg"}, "Eve <eve@example.com>\na\nb\nc\nd\ne\nf\n");
  EXPECT_EQ(different.exit_code, 10);
  EXPECT_NE(different.err.find("Pass phrases were different"), std::string::npos);
  EXPECT_NE(home.Pgp({"-kv", "secring.pgp"}).out.find("0 matching keys found."), std::string::npos);
}

}  // namespace
}  // namespace pgp26_test
