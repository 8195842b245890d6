// The key-ring commands, run as a process in homes that hold the fixture keys.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

constexpr char kPublicListingWithFingerprints[] =
    "\n"
    "Key ring: 'pubring.pgp'\n"
    "Type Bits/KeyID    Date       User ID\n"
    "pub  3072/DB754C09 2026/12/08 Alice Example <alice@example.com>\n"
    "          Key fingerprint = 32DE 3555 422D FDA9 F6C6  F126 0DCF 3C53 DB75 4C09\n"
    "                              Alice Work <alice@work.example>\n"
    "pub   255/C283EB15 2026/12/08 Bob Builder <bob@example.org>\n"
    "          Key fingerprint = CAA3 FB61 5CC7 89FD 084B  7B18 8366 5BE8 C283 EB15\n"
    "pub  3072/60DD1FAC 2026/12/08 *** KEY REVOKED ***\n"
    "          Key fingerprint = 49B4 63A3 C24F 2AA8 1A3C  DCA5 D558 E4D5 60DD 1FAC\n"
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

// The same listing whether or not the folder still holds the rings of PGP 2.6, which are noted.
TEST(KeyListing, ListsPublicAndSecretRingsInTheClassicLayout) {
  const TestHome home;
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"-kv"}, kPublicListing},
      {{"-kv", "secring.pgp"}, kSecretListing},
      {{"-kvc"}, kPublicListingWithFingerprints},
  };
  const std::string note =
      "The key rings pubring.pgp and secring.pgp in the PGP directory hold PGP 2.x keys, which "
      "current OpenPGP does not accept; those keys are not shown.\n";
  for (const bool classic_rings : {false, true}) {
    for (const char* ring : {"pubring.pgp", "secring.pgp"})
      if (classic_rings) fs::copy_file(Fixture(std::string("pgp2/") + ring), home.path() / ring);
    for (const auto& [args, listing] : cases) {
      SCOPED_TRACE(args.front() + (classic_rings ? " beside the rings of PGP 2.6" : ""));
      const RunResult run = home.Pgp(args);
      EXPECT_EQ(run.exit_code, 0);
      EXPECT_EQ(run.out, listing);
      EXPECT_NE(run.err.find("GnuPG"), std::string::npos);  // the banner stays out of the listing
      EXPECT_EQ(Count(run.err, note), classic_rings ? 1 : 0) << run.err;
    }
  }
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

// The short key IDs of the keys a listing shows, in its order.
std::vector<std::string> ListedKeyIds(const std::string& listing) {
  std::vector<std::string> ids;
  for (std::size_t at = listing.find("\npub"); at != std::string::npos;
       at = listing.find("\npub", at + 1))
    ids.push_back(listing.substr(at + 11, 8));
  return ids;
}

// The fixtures' short key IDs, and the encryption subkeys of those that test_home.h does not name.
constexpr char kAlice[] = "DB754C09", kBob[] = "C283EB15", kCarol[] = "60DD1FAC",
               kZoe[] = "3548C579", kHex[] = "13BDC083", kPlain[] = "F2B0176D",
               kColon[] = "28E79F89", kControl[] = "E9F91163";
constexpr char kAliceEncryptionKey[] = "4CC1E1B07F65A219", kZoeEncryptionKey[] = "F711CA4BD16FE2EF",
               kHexEncryptionKey[] = "D9D8DB21DD770B6F", kPlainEncryptionKey[] = "2483EEAA2EA8BDDE",
               kColonEncryptionKey[] = "822607AF8854B940",
               kControlEncryptionKey[] = "0E1AF713EBE434D2";

// GnuPG is asked for the keys a pattern may name, where it can be, and the ring is read whole
// where it cannot; either way the keys are exactly those that PGP's rule picks from the ring.
TEST(KeyListing, SelectsExactlyWhatPgpsRuleSelectsFromTheWholeRing) {
  const TestHome home({"alice.asc", "bob.asc", "carol-revoked.asc", "odd-user-ids.asc"});
  struct Case {
    const char* what;
    std::string pattern;
    std::vector<std::string> keys;
  };
  const Case cases[] = {
      {"a part of a user ID, in any case", "EXAMPLE.COM", {kAlice, kZoe, kHex, kColon, kControl}},
      {"a part that begins with a blank", " builder", {kBob}},
      {"a part that ends with a blank", "Bob ", {kBob}},
      {"ASCII letters fold, others keep their case", Native("ZO\u00eb \u00c4RGER"), {kZoe}},
      {"a letter beyond ASCII in the other case", Native("zo\u00eb \u00e4rger"), {}},
      {"hex digits without 0x, which GnuPG takes for a key ID", kBob, {kHex}},
      {"characters that GnuPG gives a meaning", "=Bob Builder <bob@example.org>", {}},
      {"an at sign first", "@example.org", {kBob}},
      {"a full stop first", ".org>", {kBob}},
      {"a plus sign first", "+Bob", {}},
      {"a colon and a backslash", "name \\BACK", {kColon}},
      {"a control character", "l\001c", {kControl}},
      {"an address, in any case", "<BOB@EXAMPLE.ORG>", {kBob}},
      {"an address that is the whole user ID", "<plain@example.net>", {kPlain}},
      {"a revoked key's address", "<carol@example.net>", {kCarol}},
      {"a part of an address is no address", "<ob@example.org>", {}},
      {"an address without its end is text", "<bob@example", {kBob}},
      {"the last 8 hex digits of a subkey", "0xdf15578b", {kBob}},
      {"the last 16 hex digits of a subkey", "0xC66532EDDF15578B", {kBob}},
      {"a whole fingerprint", "0xCAA3FB615CC789FD084B7B1883665BE8C283EB15", {kBob}},
      {"0X", "0XC283EB15", {kBob}},
      {"4 hex digits, which GnuPG does not look up", "0xEB15", {kBob}},
      {"1 hex digit, of keys and subkeys", "0x9", {kAlice, kCarol, kZoe, kColon}},
      {"32 hex digits, an old fingerprint to GnuPG", "0x5CC789FD084B7B1883665BE8C283EB15", {kBob}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult listed = home.Pgp({"-kv", c.pattern});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_EQ(ListedKeyIds(listed.out), c.keys) << listed.out;
  }
}

// All recipients are looked up at once, each as the one key of the ring that answers to its
// pattern and can encrypt, whether GnuPG can be asked for every pattern or not. A pattern that
// several such keys answer to fails the run, which writes nothing.
TEST(KeyLookup, FindsEveryRecipientAsTheOneKeyThatAnswersAndCanEncrypt) {
  const TestHome home({"alice.asc", "bob.asc", "carol-revoked.asc", "odd-user-ids.asc"});
  const std::string draft = home.File("draft");
  WriteFile(draft, "The plans are in the safe.\n");
  struct Case {
    const char* what;
    std::vector<std::string> recipients;
    std::vector<std::string> keys;  // sorted; none when the run fails
  };
  const Case cases[] = {
      {"patterns that GnuPG can be asked for",
       {kBob, "0xDF15578B", "<plain@example.net>", "l\001c", "alice"},
       {kControlEncryptionKey, kPlainEncryptionKey, kAliceEncryptionKey, kBobEncryptionKey,
        kHexEncryptionKey}},
      {"and one that it cannot be asked for",  // Carol's key comes first but is revoked
       {"0x9F89", Native("\u00c4rger"), "net"},
       {kPlainEncryptionKey, kColonEncryptionKey, kZoeEncryptionKey}},
      {"and one that seven such keys answer to", {"alice", "example"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"+force", "-ea", draft};
    args.insert(args.end(), c.recipients.begin(), c.recipients.end());
    const RunResult run = home.Pgp(args);
    EXPECT_EQ(run.exit_code, c.keys.empty() ? 21 : 0) << run.err;
    const bool written = fs::exists(draft + ".asc");
    EXPECT_EQ(written ? Recipients(draft + ".asc") : std::vector<std::string>{}, c.keys);
  }
}

// With EncryptToSelf on, encryption is to the user's own key too, found as recipients are: the key
// that -u names, else MyName's; without either, the first secret key (PgpToGpg tries that one).
// MyName's key also signs where -u names none.
TEST(KeyLookup, EncryptsToSelfAsPgp26ChoseSelf) {
  const TestHome home({"alice.asc", "bob.asc", "odd-user-ids.asc"});
  const std::string draft = home.File("draft");
  WriteFile(draft, "The plans are in the safe.\n");
  const std::string on = "EncryptToSelf = on\n", bob = "MyName = \"Bob Builder\"\n";
  const std::string plain = kPlainEncryptionKey, alice = kAliceEncryptionKey;
  const std::vector<std::string> to_plain = {"-ea", draft, "plain"};
  struct Case {
    const char* what;
    std::string config;
    std::vector<std::string> args;
    int exit_code;
    std::vector<std::string> keys;  // sorted
  };
  const Case cases[] = {
      {"off", bob, to_plain, 0, {plain}},
      {"MyName", bob + on, to_plain, 0, {plain, kBobEncryptionKey}},
      {"-u, unsigned too", bob + on, {"-ea", draft, "plain", "-u", "alice"}, 0, {plain, alice}},
      {"a recipient already", bob + on, {"-ea", draft, "bob"}, 0, {kBobEncryptionKey}},
      {"an ambiguous MyName", "MyName = example\n" + on, to_plain, 21, {}},
      {"conventional encryption", bob + on, {"-z", "shared words", "-ca", draft}, 0, {}},
      {"a malformed config.txt", on + "MyName = \"Bob\n", to_plain, 5, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(home.File("config.txt"), c.config);
    fs::remove(draft + ".asc");
    EXPECT_EQ(home.Pgp(c.args).exit_code, c.exit_code);
    const bool written = fs::exists(draft + ".asc");
    EXPECT_EQ(written, c.exit_code == 0);
    EXPECT_EQ(written ? Recipients(draft + ".asc") : std::vector<std::string>{}, c.keys);
  }

  WriteFile(home.File("config.txt"), bob);
  ASSERT_EQ(home.Pgp({"+force", "-z", "bob pass", "-sa", draft}).exit_code, 0);
  const TestHome keyless(kNoKeys);
  EXPECT_NE(
      keyless.Gpg({"--list-packets", draft + ".asc"}).out.find("keyid " + std::string(kBobKeyId)),
      std::string::npos);
}

// The signer is the one key that answers and has its secret key at hand; keys that can sign but
// have only their public key do not count, and of two keys with their secret key neither is taken.
TEST(KeyLookup, FindsTheSignerAsTheOneKeyThatAnswersAndHasItsSecretKey) {
  const TestHome home({"odd-user-ids.asc", "alice.asc", "bob.asc"});
  const std::string draft = home.File("draft");
  WriteFile(draft, "The plans are in the safe.\n");
  const RunResult signed_by_alice =
      home.Pgp({"+force", "-z", "alice pass", "-sa", draft, "-u", "example.com"});
  ASSERT_EQ(signed_by_alice.exit_code, 0) << signed_by_alice.err;
  const TestHome keyless(kNoKeys);
  const std::string packets = keyless.Gpg({"--list-packets", draft + ".asc"}).out;
  EXPECT_NE(packets.find("keyid " + std::string(kAliceKeyId)), std::string::npos) << packets;

  const std::pair<const char*, const char*> refused[] = {
      {"<zoe@example.com>", "Secret key for user ID \"<zoe@example.com>\" not found"},
      {"example", "More than one key matches user ID \"example\""},
  };
  for (const auto& [signer, error] : refused) {
    const RunResult run = home.Pgp({"+force", "-z", "alice pass", "-sa", draft, "-u", signer});
    EXPECT_EQ(run.exit_code, 20);
    EXPECT_NE(run.err.find(error), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(draft + ".asc"));
  }
}

// Someone makes a key with Bob's user ID: Bob's address then names neither key, whatever the
// command, and the refusal names both, as -kvc shows them, with the fingerprints that name each
// alone (tests/real_pgp_keys_test.cc encrypts to them).
TEST(KeyLookup, RefusesAUserIdThatTwoKeysAnswerTo) {
  const TestHome home;
  ASSERT_EQ(home.Gpg({"--passphrase", "", "--quick-gen-key", "Bob Builder <bob@example.org>",
                      "future-default", "default", "never"})
                .exit_code,
            0);
  const std::string listing = home.Pgp({"-kvc"}).out;
  const std::string bobs = home.Pgp({"-kvc", "<bob@example.org>"}).out;
  const std::size_t first = bobs.find("\npub ") + 1, end = bobs.find("2 matching keys found.");
  ASSERT_NE(end, std::string::npos) << bobs;
  const std::string refusal =
      "More than one key matches user ID \"<bob@example.org>\"; name the key by its fingerprint "
      "(0x and 40 hex digits).\n" +
      bobs.substr(first, end - first);
  const std::string draft = home.File("draft"), key = home.File("key");
  WriteFile(draft, "The plans are in the safe.\n");
  const std::pair<std::vector<std::string>, int> refused[] = {
      {{"+force", "-ea", draft, "alice", "<bob@example.org>"}, 21},
      {{"+force", "-z", "bob pass", "-sa", draft, "-u", "<bob@example.org>"}, 20},
      {{"+force", "-kxa", "<bob@example.org>", key}, 13},
      {{"+force", "-kr", "<bob@example.org>"}, 16},
  };
  for (const auto& [args, code] : refused) {
    SCOPED_TRACE(args.at(1));
    const RunResult run = home.Pgp(args);
    EXPECT_EQ(run.exit_code, code);
    EXPECT_NE(run.err.find(refusal), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(draft + ".asc"));
  EXPECT_FALSE(fs::exists(key + ".asc"));
  EXPECT_EQ(home.Pgp({"-kvc"}).out, listing);
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

// PGP 2.6 offered to certify the keys it added; pgp offers it to a person at a console alone, never
// to a script, a run in batch mode or a calling program that collects the outcome: none waits.
TEST(KeyAddition, OffersCertificationOnlyToAPersonAtTheConsole) {
  const TestHome home({"alice.asc"});
  const std::string key = Text(Fixture("bob-public.asc"));
  constexpr char kOffer[] = "Do you want to certify any of these keys yourself (y/N)?";
  const std::string script = home.Pgp({"-ka", key}, "y\n").err;
  const std::string program =
      home.PgpAtConsole({"-ka", key}, "n", kOffer, {"QUILLET_NOTICE=" + home.File("notice")})
          .screen;
  const std::string batch = home.PgpAtConsole({"+batchmode", "-ka", key}, "n", kOffer).screen;
  EXPECT_EQ(Count(script + program + batch, "certify"), 0) << script << program << batch;
  EXPECT_EQ(Count(home.PgpAtConsole({"-ka", key}, "n", kOffer).screen, kOffer), 1);
}

// A key pair added at a console is the user's own once the person says so: its signatures are then
// certified, as those of a key made with -kg are.
TEST(KeyAddition, AKeyPairIsTheUsersOwnOnceThePersonAtTheConsoleSaysSo) {
  const TestHome home(kNoKeys);
  EXPECT_EQ(
      home.PgpAtConsole({"-ka", Text(Fixture("alice.asc"))}, "y", "ultimately (y/N)?").exit_code,
      0);
  WriteFile(home.File("note"), "signed\n");
  ASSERT_EQ(home.Pgp({"+force", "-z", "alice pass", "-sa", home.File("note")}).exit_code, 0);
  home.Pgp({"+force", home.File("note")}, "", {"QUILLET_SIGNATURE_RECORD=" + home.File("record")});
  EXPECT_EQ(Count(ReadFile(home.File("record")), " CERTIFIED "), 1);
}

TEST(KeyCertification, CertifiesWithTheUsersKeyOnceConfirmedAndListsIt) {
  const TestHome home(std::vector<std::string>{"alice.asc", "bob.asc"});
  const std::vector<std::string> certify = {"-z", "bob pass", "-ks", "alice", "-u", "bob"};
  EXPECT_EQ(home.Pgp(certify, "n\n").exit_code, 18);
  EXPECT_EQ(home.Pgp(certify, "y\n").out, "Key signature certificate added.\n");
  // Under each of Alice's two user IDs, in the columns of the pub line.
  EXPECT_EQ(Count(home.Pgp({"-kc", "alice"}).out,
                  "\nsig!      C283EB15            Bob Builder <bob@example.org>\n"),
            2);
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

// GnuPG takes no key of PGP 2.x, and the user is told what to do instead; keys of today in the same
// file are added.
TEST(KeyAddition, RefusesKeysOfPgp2) {
  const TestHome home({"alice.asc"});
  WriteFile(home.File("both"),
            ReadFile(Fixture("pgp2/alice-kxa-output.asc")) + ReadFile(Fixture("bob-public.asc")));
  const std::pair<std::string, const char*> cases[] = {
      {Text(Fixture("pgp2/pubring.pgp")), ""},
      {Text(Fixture("pgp2/secring.pgp")), ""},
      {Text(Fixture("pgp2/alice-kxa-output.asc")), ""},
      {home.File("both"), "1 new key added to key ring.\n0 keys changed.\n0 keys skipped.\n"},
  };
  for (const auto& [file, added] : cases) {
    SCOPED_TRACE(file);
    const RunResult run = home.Pgp({"-ka", file});
    EXPECT_EQ(run.exit_code, 12);
    EXPECT_EQ(run.out, added);
    EXPECT_TRUE(run.err.ends_with(
        "These are PGP 2.x keys, which current OpenPGP does not accept; make a new key with pgp "
        "-kg.\n"))
        << run.err;
  }
  EXPECT_EQ(ListedKeyIds(home.Pgp({"-kv"}).out), (std::vector<std::string>{kAlice, kBob}));
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
  EXPECT_EQ(home.Pgp({"+force", "-z", "dora pw", home.File("note")}, "",
                     {"QUILLET_SIGNATURE_RECORD=" + home.File("record")})
                .exit_code,
            0);
  EXPECT_EQ(ReadFile(home.File("note")), "to Dora\n");
  // The user's own key needs no certification.
  EXPECT_NE(ReadFile(home.File("record")).find(" CERTIFIED "), std::string::npos);
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
