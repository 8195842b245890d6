// Encryption and decryption by pgp alone: pass phrases, exit codes and the files left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pgp26/tests/test_home.h"

namespace pgp26_test {
namespace {

namespace fs = std::filesystem;

constexpr char kText[] = "The plans are in the safe.\n";

// A message from Alice to Bob, encrypted and signed, as FILE.asc; FILE itself is gone.
std::string MessageToBob(const TestHome& home) {
  const std::string file = home.File("message");
  WriteFile(file, kText);
  const RunResult run = home.Pgp({"+force", "-z", "alice pass", "-seaw", file, "<bob@example.org>",
                                  "-u", "<alice@example.com>"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  return file;
}

TEST(EncryptionFailure, LeavesNoOutputAndKeepsTheInput) {
  const TestHome home;
  const std::string file = home.File("draft");
  WriteFile(file, kText);
  struct Case {
    std::vector<std::string> args;
    int exit_code;
  };
  const Case cases[] = {
      {{"-z", "alice pass", "-eaw", file, "<nobody@example.com>"}, 21},
      {{"-z", "alice pass", "-eaw", file, "<carol@example.net>"}, 21},  // revoked
      {{"-z", "wrong", "-seaw", file, "<bob@example.org>", "-u", "alice"}, 20},
      {{"-z", "wrong", "-saw", file}, 20},
      {{"-z", "alice pass", "-seaw", file, "bob", "-u", "<nobody@example.com>"}, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[2] + " " + c.args.back());
    // A forced run may replace an earlier output, so a failed one must not leave it behind.
    WriteFile(file + ".asc", "an earlier result");
    std::vector<std::string> args = {"+force"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = home.Pgp(args);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_FALSE(fs::exists(file + ".asc"));
    EXPECT_EQ(ReadFile(file), kText);
  }
  EXPECT_EQ(home.Pgp({"+force", "-z", "x", "-eaw", home.File("missing"), "bob"}).exit_code, 2);
}

TEST(EncryptionFailure, RejectsBadArguments) {
  const TestHome home;
  WriteFile(home.File("draft"), kText);
  EXPECT_EQ(home.Pgp({"-ceaw", home.File("draft")}).exit_code, 5);
  EXPECT_EQ(home.Pgp({"-eqw", home.File("draft"), "bob"}).exit_code, 5);
  EXPECT_EQ(home.Pgp({"+verbose", "-kv"}).exit_code, 5);
  EXPECT_EQ(home.Pgp({"-saw", home.File("draft"), "-u"}).exit_code, 5);
  EXPECT_EQ(home.Pgp({}).exit_code, 5);
  EXPECT_FALSE(fs::exists(home.File("draft.asc")));
}

TEST(Encryption, AsksBeforeReplacingAnOutputUnlessForced) {
  const TestHome home;
  const std::string file = home.File("draft");
  WriteFile(file, kText);
  WriteFile(file + ".asc", "keep me");
  const RunResult declined = home.Pgp({"-z", "alice pass", "-eaw", file, "bob"}, "n\n");
  EXPECT_EQ(declined.exit_code, 1);
  EXPECT_NE(declined.err.find("already exists"), std::string::npos) << declined.err;
  EXPECT_EQ(ReadFile(file + ".asc"), "keep me");
  EXPECT_EQ(ReadFile(file), kText);

  EXPECT_EQ(home.Pgp({"-z", "alice pass", "-eaw", file, "bob"}, "y\n").exit_code, 0);
  EXPECT_TRUE(ReadFile(file + ".asc").starts_with("-----BEGIN PGP MESSAGE-----"));
  WriteFile(file, kText);
  EXPECT_EQ(home.Pgp({"+force", "-z", "alice pass", "-eaw", file, "bob"}, "").exit_code, 0);
}

TEST(Encryption, BinaryOutputWithoutArmourAndNoWipeWithoutW) {
  const TestHome home;
  const std::string file = home.File("draft");
  WriteFile(file, kText);
  ASSERT_EQ(home.Pgp({"+force", "-z", "alice pass", "-se", file, "bob", "-u", "alice"}).exit_code,
            0);
  EXPECT_EQ(ReadFile(file), kText);
  ASSERT_TRUE(fs::exists(file + ".pgp"));
  EXPECT_FALSE(ReadFile(file + ".pgp").starts_with("-----BEGIN"));
  fs::remove(file);
  const RunResult read = home.Pgp({"+force", "-z", "bob pass", file});
  EXPECT_EQ(read.exit_code, 0) << read.err;
  EXPECT_EQ(ReadFile(file), kText);
}

TEST(ConventionalEncryption, AsksThePassPhraseTwiceOnTheConsole) {
  const TestHome home;
  const std::string file = home.File("draft");
  WriteFile(file, kText);
  const RunResult different = home.Pgp({"+force", "-caw", file}, "one\ntwo\n");
  EXPECT_EQ(different.exit_code, 22);
  EXPECT_FALSE(fs::exists(file + ".asc"));
  EXPECT_EQ(ReadFile(file), kText);

  const RunResult same = home.Pgp({"+force", "-caw", file}, "one\none\n");
  EXPECT_EQ(same.exit_code, 0) << same.err;
  EXPECT_EQ(Count(same.err, "pass phrase"), 3) << same.err;  // the notice and two prompts
  EXPECT_EQ(home.Pgp({"+force", "-z", "two", file}).exit_code, 32);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(home.Pgp({"+force", "-z", "one", file}).exit_code, 0);
  EXPECT_EQ(ReadFile(file), kText);
}

TEST(Decryption, AcceptsTheRightPassPhraseOnlyAndLeavesNothingOtherwise) {
  const TestHome home;
  const std::string file = MessageToBob(home);
  WriteFile(file, "an earlier result");
  const RunResult wrong = home.Pgp({"+force", "-z", "bob's?", file});
  EXPECT_EQ(wrong.exit_code, 31);
  EXPECT_NE(wrong.err.find("Bad pass phrase"), std::string::npos) << wrong.err;
  EXPECT_FALSE(fs::exists(file));
  const RunResult none = home.Pgp({"+force", "-z", "", file});
  EXPECT_EQ(none.exit_code, 31);
  EXPECT_NE(none.err.find("No pass phrase given and no console to ask on."), std::string::npos)
      << none.err;

  const RunResult right = home.Pgp({"+force", "-z", "bob pass", file});
  EXPECT_EQ(right.exit_code, 0) << right.err;
  EXPECT_EQ(ReadFile(file), kText);
  EXPECT_NE(right.out.find("Good signature from user \"Alice Example <alice@example.com>\"."),
            std::string::npos)
      << right.out;
}

TEST(Decryption, AsksOnTheConsoleUpToThreeTimes) {
  const TestHome home;
  const std::string file = MessageToBob(home);
  const RunResult third = home.Pgp({"+force", file}, "one\ntwo\nbob pass\n");
  EXPECT_EQ(third.exit_code, 0) << third.err;
  EXPECT_EQ(Count(third.err, "Enter pass phrase:"), 3);
  EXPECT_EQ(ReadFile(file), kText);
  fs::remove(file);

  const RunResult fourth = home.Pgp({"+force", file}, "one\ntwo\nthree\nbob pass\n");
  EXPECT_EQ(fourth.exit_code, 31);
  EXPECT_EQ(Count(fourth.err, "Enter pass phrase:"), 3);
  EXPECT_FALSE(fs::exists(file));
}

// At a console (a terminal), the pass phrase is taken as typed and not shown; a person there is
// asked too when the one given with -z is empty or wrong, as PGP 2.6 did.
TEST(Decryption, APassPhraseTypedAtAConsoleIsNotShown) {
  const TestHome home;
  for (const std::string given : {"none", "", "bob?"}) {
    SCOPED_TRACE("-z " + given);
    const std::string file = MessageToBob(home);
    std::vector<std::string> args = {"+force", file};
    if (given != "none") args.insert(args.begin() + 1, {"-z", given});
    const ConsoleRun run = home.PgpAtConsole(args, "bob pass");
    EXPECT_EQ(run.exit_code, 0) << run.screen;
    EXPECT_NE(run.screen.find("Enter pass phrase:"), std::string::npos) << run.screen;
    EXPECT_EQ(run.screen.find("bob pass"), std::string::npos) << run.screen;
    EXPECT_EQ(ReadFile(file), kText);
    fs::remove(file);
  }
}

// As PGP 2.6 did, a person at a console is asked before a message is encrypted to a key that is
// not certified; runs without one encrypt to the key named (the other tests).
TEST(Encryption, AskAPersonAtTheConsoleBeforeUsingAnUncertifiedKey) {
  const TestHome home;
  WriteFile(home.File("note"), kText);
  const ConsoleRun run = home.PgpAtConsole({"-eaw", home.File("note"), "bob"}, "n",
                                           "Are you sure you want to use this public key (y/N)?");
  EXPECT_EQ(run.exit_code, 21) << run.screen;
  EXPECT_EQ(Count(run.screen, "Key fingerprint = CAA3 FB61 5CC7 89FD 084B  7B18 8366"), 1);
  EXPECT_FALSE(fs::exists(home.File("note.asc")));
}

TEST(Decryption, MissingOrForeignInputFails) {
  const TestHome home;
  EXPECT_EQ(home.Pgp({"+force", "-z", "x", home.File("absent")}).exit_code, 2);
  WriteFile(home.File("plain.asc"), "Just a letter, nothing encrypted.\n");
  EXPECT_EQ(home.Pgp({"+force", "-z", "x", home.File("plain")}).exit_code, 1);
  EXPECT_FALSE(fs::exists(home.File("plain")));

  // Alice wrote to Bob alone, so her own keys do not open the message.
  const std::string message = ReadFile(MessageToBob(home) + ".asc");
  const TestHome alice({"alice.asc"});
  WriteFile(alice.File("message.asc"), message);
  const RunResult run = alice.Pgp({"+force", "-z", "alice pass", alice.File("message")});
  EXPECT_EQ(run.exit_code, 31);
  EXPECT_NE(run.err.find("You do not have the secret key"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(alice.File("message")));
}

TEST(Decryption, RefusesATamperedSignatureAndReportsAnUnknownSigner) {
  const TestHome home;
  const std::string file = home.File("signed");
  WriteFile(file, "Pay 10 dollars.\n");
  ASSERT_EQ(home.Gpg({"--passphrase", "alice pass", "-u", "alice@example.com", "--clearsign",
                      "--output", file + ".asc", file})
                .exit_code,
            0);
  const std::string signed_text = ReadFile(file + ".asc");
  std::string tampered = signed_text;
  tampered.replace(tampered.find("10 dollars"), 10, "90 dollars");
  WriteFile(file + ".asc", tampered);
  fs::remove(file);
  const RunResult bad = home.Pgp({"+force", "-z", "x", file});
  EXPECT_EQ(bad.exit_code, 30);
  EXPECT_NE(bad.out.find("Bad signature"), std::string::npos) << bad.out;
  EXPECT_FALSE(fs::exists(file));

  // Without the signer's key the text still comes out, with the key ID to look for.
  const TestHome stranger({"bob.asc"});
  WriteFile(stranger.File("signed.asc"), signed_text);
  const RunResult unknown = stranger.Pgp({"+force", "-z", "x", stranger.File("signed")});
  EXPECT_EQ(unknown.exit_code, 0) << unknown.err;
  EXPECT_NE(unknown.out.find("Key ID DB754C09 not found"), std::string::npos) << unknown.out;
  EXPECT_EQ(ReadFile(stranger.File("signed")), "Pay 10 dollars.\n");
}

}  // namespace
}  // namespace pgp26_test
