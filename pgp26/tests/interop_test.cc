// pgp and plain gpg read each other's messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pgp26/tests/test_home.h"

namespace pgp26_test {
namespace {

namespace fs = std::filesystem;

constexpr char kText[] = "Meet me at noon.\r\nBring the plans.\r\n";

// What gpg makes of `file`: the plain text, and its status lines naming the signer.
struct GpgReading {
  int exit_code;
  std::string text;
  std::string status;
};

GpgReading GpgDecrypt(const TestHome& home, const std::string& pass, const std::string& file) {
  const std::string out = file + ".gpg-out";
  const RunResult run =
      home.Gpg({"--status-fd", "2", "--passphrase", pass, "--output", out, "--decrypt", file});
  return {run.exit_code, ReadFile(out), run.err};
}

bool SignedBy(const GpgReading& reading, const std::string& key_id) {
  return reading.status.find("[GNUPG:] GOODSIG " + std::string(key_id)) != std::string::npos;
}

TEST(PgpToGpg, EncryptedMessageDecryptsForEveryRecipient) {
  const TestHome home;
  const std::string file = home.File("letter");
  WriteFile(file, kText);
  // "alice work" is part of Alice's second user ID, in other case.
  const RunResult run =
      home.Pgp({"+force", "-z", "alice pass", "-eaw", file, "<bob@example.org>", "ALICE WORK"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_FALSE(fs::exists(file));  // -w wiped the plain text
  EXPECT_TRUE(ReadFile(file + ".asc").starts_with("-----BEGIN PGP MESSAGE-----"));

  const GpgReading bob = GpgDecrypt(home, "bob pass", file + ".asc");
  EXPECT_EQ(bob.exit_code, 0) << bob.status;
  EXPECT_EQ(bob.text, kText);
  EXPECT_EQ(bob.status.find("GOODSIG"), std::string::npos);
  const GpgReading alice = GpgDecrypt(home, "alice pass", file + ".asc");
  EXPECT_EQ(alice.exit_code, 0) << alice.status;
  EXPECT_EQ(alice.text, kText);
}

// With EncryptToSelf on and no MyName or -u, the sender is the first secret key, Alice's: she can
// read what she sent, and so can Bob.
TEST(PgpToGpg, WithEncryptToSelfTheSenderCanReadWhatTheySent) {
  const TestHome home;
  WriteFile(home.File("config.txt"), "EncryptToSelf = on\n");
  const std::string file = home.File("letter");
  WriteFile(file, kText);
  ASSERT_EQ(home.Pgp({"+force", "-ea", file, "<bob@example.org>"}).exit_code, 0);
  for (const auto& [key, pass] : {std::pair{"alice.asc", "alice pass"}, {"bob.asc", "bob pass"}}) {
    SCOPED_TRACE(key);
    const TestHome reader({key});
    const GpgReading reading = GpgDecrypt(reader, pass, file + ".asc");
    EXPECT_EQ(reading.exit_code, 0) << reading.status;
    EXPECT_EQ(reading.text, kText);
  }
}

TEST(PgpToGpg, EncryptedAndSignedMessageVerifiesWithTheChosenOrDefaultSigner) {
  const TestHome home;
  const std::string file = home.File("letter");
  WriteFile(file, kText);
  const RunResult by_alice = home.Pgp({"+force", "-z", "alice pass", "-seaw", file,
                                       "<bob@example.org>", "-u", "<alice@example.com>"});
  ASSERT_EQ(by_alice.exit_code, 0) << by_alice.err;
  GpgReading reading = GpgDecrypt(home, "bob pass", file + ".asc");
  EXPECT_EQ(reading.text, kText);
  EXPECT_TRUE(SignedBy(reading, kAliceKeyId)) << reading.status;

  WriteFile(file, kText);
  const RunResult by_bob =
      home.Pgp({"+force", "-z", "bob pass", "-seaw", file, "alice", "-u", "bob"});
  ASSERT_EQ(by_bob.exit_code, 0) << by_bob.err;
  reading = GpgDecrypt(home, "alice pass", file + ".asc");
  EXPECT_EQ(reading.text, kText);
  EXPECT_TRUE(SignedBy(reading, kBobKeyId)) << reading.status;

  // Without -u the first secret key signs: Alice's.
  WriteFile(file, kText);
  const RunResult by_default =
      home.Pgp({"+force", "-z", "alice pass", "-seaw", file, "<bob@example.org>"});
  ASSERT_EQ(by_default.exit_code, 0) << by_default.err;
  reading = GpgDecrypt(home, "bob pass", file + ".asc");
  EXPECT_TRUE(SignedBy(reading, kAliceKeyId)) << reading.status;
}

TEST(PgpToGpg, SignedMessageVerifies) {
  const TestHome home;
  const std::string file = home.File("notice");
  WriteFile(file, kText);
  const RunResult run = home.Pgp({"+force", "-z", "alice pass", "-saw", file});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_FALSE(fs::exists(file));
  const GpgReading reading = GpgDecrypt(home, "", file + ".asc");
  EXPECT_EQ(reading.exit_code, 0) << reading.status;
  EXPECT_EQ(reading.text, kText);
  EXPECT_TRUE(SignedBy(reading, kAliceKeyId)) << reading.status;
}

TEST(PgpToGpg, ConventionalMessageDecryptsWithThePassPhraseAlone) {
  const TestHome home;
  const std::string file = home.File("secret");
  WriteFile(file, kText);
  const RunResult run = home.Pgp({"+force", "-z", "shared words", "-caw", file});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const TestHome keyless(kNoKeys);
  const GpgReading reading = GpgDecrypt(keyless, "shared words", file + ".asc");
  EXPECT_EQ(reading.exit_code, 0) << reading.status;
  EXPECT_EQ(reading.text, kText);
}

TEST(GpgToPgp, EncryptedAndSignedMessageDecryptsAndVerifies) {
  const TestHome home;
  const std::string file = home.File("reply");
  WriteFile(file, kText);
  ASSERT_EQ(home.Gpg({"--passphrase", "alice pass", "--trust-model", "always", "--armor",
                      "--encrypt", "--sign", "-r", "bob@example.org", "-u", "alice@example.com",
                      "--output", file + ".asc", file})
                .exit_code,
            0);
  fs::remove(file);
  const RunResult run = home.Pgp({"+force", "-z", "bob pass", file});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ReadFile(file), kText);
  EXPECT_NE(run.out.find("Good signature from user \"Alice Example <alice@example.com>\"."),
            std::string::npos)
      << run.out;
}

TEST(GpgToPgp, SignedOnlyMessagesYieldTheirText) {
  const TestHome home;
  for (const std::string mode : {"--sign", "--clearsign"}) {
    SCOPED_TRACE(mode);
    const std::string file = home.File("signed");
    WriteFile(file, "Signed words\n");
    ASSERT_EQ(home.Gpg({"--passphrase", "bob pass", "--armor", "-u", "bob@example.org", mode,
                        "--output", file + ".asc", file})
                  .exit_code,
              0);
    fs::remove(file);
    const RunResult run = home.Pgp({"+force", "-z", "unused", file});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(ReadFile(file), "Signed words\n");
    EXPECT_NE(run.out.find("Good signature from user \"Bob Builder <bob@example.org>\"."),
              std::string::npos)
        << run.out;
  }
}

TEST(GpgToPgp, ConventionalMessageDecrypts) {
  const TestHome home;
  const std::string file = home.File("secret");
  WriteFile(file, kText);
  ASSERT_EQ(home.Gpg({"--passphrase", "shared words", "--armor", "--symmetric", "--output",
                      file + ".asc", file})
                .exit_code,
            0);
  fs::remove(file);
  const RunResult run = home.Pgp({"+force", "-z", "shared words", file});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ReadFile(file), kText);
}

// A home, a file, a user ID and a pass phrase beyond ASCII, given to pgp as the system's text, mean
// to pgp what they mean to gpg, which keeps user IDs and takes pass phrases in UTF-8. A letter the
// code page lacks shows as "?", never as a look-alike ("Durov\u00e1"). The mail's text that Quillet
// names goes out in UTF-8, which gpg reads as the same text, and comes back as UTF-8.
TEST(NonAsciiText, MeansToPgpWhatItMeansToGpg) {
  const TestHome home = TestHome::Bare(Native("Schl\u00fcssel"));
  const std::string zoe = Native("Zo\u00eb \u010eurov\u00e1 <zoe@example.com>");
  const std::string pass = Native("gr\u00fc\u00dfe");
  // The letter D with caron has no place in code page 1252: the key is made from a parameter file,
  // which gpg reads in UTF-8.
  const std::string parameters = home.File("zoe.txt");
  WriteFile(parameters,
            "Key-Type: default\nSubkey-Type: default\nName-Real: Zo\u00eb \u010eurov\u00e1\n"
            "Name-Email: zoe@example.com\nExpire-Date: 0\nPassphrase: gr\u00fc\u00dfe\n%commit\n");
  ASSERT_EQ(home.Gpg({"--gen-key", parameters}).exit_code, 0);
  const RunResult listed = home.Pgp({"-kv"});
  EXPECT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_NE(listed.out.find(" " + zoe + "\n1 matching key found."), std::string::npos)
      << listed.out;

  constexpr char kGreeting[] = "Gr\u00fc\u00dfe aus K\u00f6ln \u2013 5 \u20ac f\u00fcr Stra\u00dfe\r\n";
  const std::string letter = home.File(Native("Brief f\u00fcr Zo\u00eb"));
  WriteFile(letter, Native(kGreeting));
  const RunResult sent =
      home.Pgp({"+force", "-z", pass, "-seaw", letter, Native("Zo\u00eb"), "-u", "zoe@example.com"},
               "", {"QUILLET_MAIL_TEXT=" + letter});
  ASSERT_EQ(sent.exit_code, 0) << sent.err;
  EXPECT_NE(sent.out.find("Transport armor file: " + letter + ".asc"), std::string::npos)
      << sent.out;
  const GpgReading reading = GpgDecrypt(home, pass, letter + ".asc");
  EXPECT_EQ(reading.text, kGreeting);
  EXPECT_NE(reading.status.find("[GNUPG:] GOODSIG "), std::string::npos) << reading.status;

  const RunResult read = home.Pgp({"+force", "-z", pass, letter});
  EXPECT_EQ(read.exit_code, 0) << read.err;
  EXPECT_EQ(ReadFile(letter), kGreeting);
  EXPECT_NE(read.out.find("Good signature from user \"" + zoe + "\"."), std::string::npos)
      << read.out;
}

// The agent's socket names would not fit in a home this deep; the round trip still works.
TEST(DeepHome, WorksWhereTheAgentSocketPathWouldBeTooLong) {
  const TestHome home = TestHome::Bare(std::string(60, 'd') + "/" + std::string(50, 'e'));
  ASSERT_GT(home.path().string().size(), 110u);
  ASSERT_EQ(home.Pgp({"-ka", Fixture("alice.asc").string()}).exit_code, 0);
  ASSERT_EQ(home.Pgp({"-ka", Fixture("bob.asc").string()}).exit_code, 0);
  const std::string file = home.File("letter");
  WriteFile(file, kText);
  const RunResult sent =
      home.Pgp({"+force", "-z", "alice pass", "-seaw", file, "<bob@example.org>", "-u", "alice"});
  ASSERT_EQ(sent.exit_code, 0) << sent.err;
  const RunResult read = home.Pgp({"+force", "-z", "bob pass", file});
  EXPECT_EQ(read.exit_code, 0) << read.err;
  EXPECT_EQ(ReadFile(file), kText);
  EXPECT_NE(read.out.find("Good signature from user \"Alice Example"), std::string::npos);
}

}  // namespace
}  // namespace pgp26_test
