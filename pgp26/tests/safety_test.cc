// What a PGP program must never do, tried as a process against plain gpg in temporary homes:
// take a key nobody named, let an agent's cache stand in for the pass phrase, leave an agent or
// plain text behind, or blame a damaged message on the pass phrase.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pgp26/failure.h"
#include "pgp26/tests/test_home.h"

namespace pgp26_test {
namespace {

namespace fs = std::filesystem;

constexpr char kText[] = "The plans are in the safe.\n";

std::string Words(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += "[" + arg + "]";
  return text;
}

// The key whose good signature gpg finds when it decrypts `file` with `pass`; "" for none.
std::string Signer(const TestHome& home, const std::string& pass, const std::string& file) {
  const RunResult run = home.Gpg(
      {"--status-fd", "2", "--passphrase", pass, "--output", file + ".read", "--decrypt", file});
  fs::remove(file + ".read");
  const std::string good = "[GNUPG:] GOODSIG ";
  const std::size_t at = run.err.find(good);
  return at == std::string::npos ? "" : run.err.substr(at + good.size(), 16);
}

TEST(EmptyUserId, NamesNoKeyAnywhereAndNothingIsWritten) {
  const TestHome home;
  const std::string file = home.File("draft"), key = home.File("key");
  WriteFile(file, kText);
  const std::string listing = home.Pgp({"-kv"}).out;
  struct Case {
    std::vector<std::string> args;
    int exit_code;  // PGP 2.6's "key not found" of that command
  };
  const Case cases[] = {
      {{"+force", "-z", "alice pass", "-eaw", file, ""}, 21},
      {{"+force", "-z", "alice pass", "-eaw", file, "<bob@example.org>", ""}, 21},
      {{"+force", "-z", "alice pass", "-seaw", file, "  ", "-u", "alice"}, 21},
      {{"+force", "-z", "alice pass", "-seaw", file, "<bob@example.org>", "-u", ""}, 20},
      {{"+force", "-z", "alice pass", "-u", " ", "-saw", file}, 20},
      {{"-kxa", "", key}, 13},
      {{"-kxa", " ", key}, 13},
      {{"-kr", ""}, 16},
      {{"+force", "-kr", " "}, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Words(c.args));
    const RunResult run = home.Pgp(c.args, "y\ny\n");
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_FALSE(fs::exists(file + ".asc"));
    EXPECT_FALSE(fs::exists(key + ".asc"));
    EXPECT_EQ(run.err.find("Are you sure"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(file), kText);
  }
  EXPECT_EQ(home.Pgp({"-kv"}).out, listing);
}

TEST(OptionLikeUserIds, StayUserIdsWherePgpExpectsOne) {
  const TestHome home({"alice.asc", "bob.asc", "mallory.asc"});
  const std::string draft = home.File("draft");
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int exit_code;
    std::vector<std::string> recipients;
    const char* recipient_pass;  // to read the signature with
  };
  // Mallory's user IDs are "-u Mallory" and "+force Mallory"; callers pass user IDs unquoted.
  const Case cases[] = {
      {"a recipient whose user ID begins with -u",
       {"+force", "-z", "alice pass", "-seaw", draft, "-u", "Mallory", "-u", "<alice@example.com>"},
       0,
       {kMalloryEncryptionKey},
       ""},
      {"a signer's user ID in several words",
       {"+force", "-z", "alice pass", "-seaw", draft, "<bob@example.org>", "-u", "Alice",
        "Example"},
       0,
       {kBobEncryptionKey},
       "bob pass"},
      {"a recipient -z",
       {"+force", "-z", "alice pass", "-seaw", draft, "<bob@example.org>", "-z", "-u",
        "<alice@example.com>"},
       21,
       {},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(draft, kText);
    const RunResult run = home.Pgp(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    if (c.exit_code != 0) {
      EXPECT_FALSE(fs::exists(draft + ".asc"));
      continue;
    }
    EXPECT_EQ(Recipients(draft + ".asc"), c.recipients);
    EXPECT_EQ(Signer(home, c.recipient_pass, draft + ".asc"), kAliceKeyId);
  }

  // "+force" after the file is a user ID, not the option: the earlier output is asked about.
  WriteFile(draft, kText);
  WriteFile(draft + ".asc", "an earlier result");
  const RunResult asked = home.Pgp(
      {"-z", "alice pass", "-eaw", draft, "+force", "Mallory", "-u", "<alice@example.com>"}, "n\n");
  EXPECT_EQ(asked.exit_code, 1) << asked.err;
  EXPECT_EQ(ReadFile(draft + ".asc"), "an earlier result");

  // A key command takes every word after it as the user ID.
  const std::string key = home.File("key");
  const RunResult extracted = home.Pgp({"-kxa", "-u", "Mallory", key});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
  const TestHome keyless(kNoKeys);
  ASSERT_EQ(keyless.Gpg({"--import", key + ".asc"}).exit_code, 0);
  EXPECT_NE(keyless.Gpg({"--with-colons", "--list-keys"}).out.find("C2CA508E58FE19CD"),
            std::string::npos);
}

// The user's own agent, caching as plain gpg's defaults or their own gpg-agent.conf let it, has
// just used the key with the right pass phrase; pgp is then given a wrong one.
TEST(CachedPassPhrase, AWrongPassPhraseIsRefusedWhateverTheAgentRemembers) {
  struct Case {
    const char* what;
    std::vector<std::string> gpg_uses_key;  // or, when empty,
    std::vector<std::string> pgp_uses_key;
    std::vector<std::string> wrong;  // "@name" is the file of that name in the home
    int exit_code;
    const char* output;
  };
  const std::vector<std::string> gpg_signs = {"--passphrase",      "alice pass", "-u",
                                              "alice@example.com", "--output",   "@read",
                                              "--clearsign",       "@draft"};
  const Case cases[] = {
      {"decryption after gpg decrypted",
       {"--passphrase", "bob pass", "--output", "@read", "--decrypt", "@letter.asc"},
       {},
       {"+force", "-z", "wrong", "@letter"},
       31,
       "letter"},
      {"decryption after pgp decrypted",
       {},
       {"+force", "-z", "bob pass", "@letter"},
       {"+force", "-z", "wrong", "@letter"},
       31,
       "letter"},
      {"signing after gpg signed",
       gpg_signs,
       {},
       {"+force", "-z", "wrong", "-saw", "@draft"},
       20,
       "draft.asc"},
      {"encrypting and signing after gpg signed",
       gpg_signs,
       {},
       {"+force", "-z", "wrong", "-seaw", "@draft", "<bob@example.org>", "-u", "alice"},
       20,
       "draft.asc"},
      {"conventional decryption after pgp decrypted",
       {},
       {"+force", "-z", "shared words", "@shared"},
       {"+force", "-z", "wrong", "@shared"},
       32,
       "shared"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TestHome home;
    WriteFile(home.File("gpg-agent.conf"),
              "s2k-count 65536\ndefault-cache-ttl 600\nmax-cache-ttl 600\n");
    const long agent = home.StartAgent();
    ASSERT_GT(agent, 0);
    LetterToBob(home, "letter");
    WriteFile(home.File("shared"), kText);
    ASSERT_EQ(home.Gpg({"--passphrase", "shared words", "--armor", "--symmetric", "--output",
                        home.File("shared.asc"), home.File("shared")})
                  .exit_code,
              0);
    WriteFile(home.File("draft"), kText);
    const auto in_home = [&](std::vector<std::string> args) {
      for (std::string& arg : args)
        if (arg.starts_with("@")) arg = home.File(arg.substr(1));
      return args;
    };
    const RunResult used = c.gpg_uses_key.empty() ? home.Pgp(in_home(c.pgp_uses_key))
                                                  : home.Gpg(in_home(c.gpg_uses_key));
    ASSERT_EQ(used.exit_code, 0) << used.err;
    fs::remove(home.File(c.output));

    const RunResult wrong = home.Pgp(in_home(c.wrong));
    EXPECT_EQ(wrong.exit_code, c.exit_code) << wrong.err;
    EXPECT_FALSE(fs::exists(home.File(c.output)));
    EXPECT_EQ(home.AgentPid(), agent);  // the user's agent stays
  }
}

// The pass phrase pgp gave a caching agent that the user runs is not left there: afterwards gpg
// cannot sign with the key on a wrong one.
TEST(CachedPassPhrase, WhatPgpGaveTheUsersAgentIsForgotten) {
  const TestHome home;
  WriteFile(home.File("gpg-agent.conf"),
            "s2k-count 65536\ndefault-cache-ttl 600\nmax-cache-ttl 600\n");
  ASSERT_GT(home.StartAgent(), 0);
  WriteFile(home.File("draft"), kText);
  const RunResult signed_by_pgp =
      home.Pgp({"+force", "-z", "alice pass", "-sa", home.File("draft"), "-u", "alice"});
  ASSERT_EQ(signed_by_pgp.exit_code, 0) << signed_by_pgp.err;
  EXPECT_NE(home.Gpg({"--passphrase", "WRONG", "-u", "alice@example.com", "--output",
                      home.File("again.asc"), "--sign", home.File("draft")})
                .exit_code,
            0);
}

TEST(AgentLifetime, AnAgentThatPgpStartedEndsWithTheRun) {
  const TestHome home;
  const std::string letter = LetterToBob(home, "letter"), draft = home.File("draft");
  WriteFile(draft, kText);
  home.StopAgent();
  struct Case {
    std::vector<std::string> args;
    int exit_code;
  };
  const Case cases[] = {
      {{"+force", "-z", "bob pass", letter}, 0},
      {{"+force", "-z", "wrong", letter}, 31},
      {{"+force", "-z", "alice pass", "-sea", draft, "<bob@example.org>", "-u", "alice"}, 0},
      {{"+force", "-z", "wrong", "-sea", draft, "<bob@example.org>", "-u", "alice"}, 20},
      {{"-ka", Fixture("mallory.asc").string()}, 0},  // a secret key goes to the agent
      {{"+force", "-kr", "Mallory"}, 0},              // and is removed through it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Words(c.args));
    ASSERT_EQ(home.AgentPid(), 0);
    const RunResult run = home.Pgp(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_EQ(home.AgentPid(), 0);
  }
}

// An agent costs a program start, a second under Wine, and outlives the GnuPG run that started
// it; so a run that needs no secret key starts none. The agent's log tells whether one started,
// even one that was stopped again.
TEST(AgentLifetime, OnlyARunThatNeedsASecretKeyStartsAnAgent) {
  const TestHome home;
  const std::string draft = home.File("draft"), log = home.File("agent.log");
  WriteFile(draft, kText);
  const auto gpg_signed = [&](const std::string& name, const char* mode) {
    const std::string file = home.File(name);
    WriteFile(file, kText);
    EXPECT_EQ(home.Gpg({"--passphrase", "alice pass", "-u", "alice@example.com", "--armor", mode,
                        "--output", file + ".asc", file})
                  .exit_code,
              0);
    fs::remove(file);
    return file;
  };
  const std::string clear_signed = gpg_signed("clear", "--clearsign"),
                    signed_message = gpg_signed("signed", "--sign");
  const std::string letter = LetterToBob(home, "letter");
  home.StopAgent();
  WriteFile(home.File("gpg-agent.conf"),
            ReadFile(home.File("gpg-agent.conf")) + "log-file " + log + "\n");
  struct Case {
    std::vector<std::string> args;
    bool starts_agent;
  };
  const Case cases[] = {
      {{"+force", "-ea", draft, "<bob@example.org>", "alice"}, false},
      {{"-kv"}, false},
      {{"-kv", "bob"}, false},
      {{"+force", "-kxa", "bob", home.File("bobkey")}, false},
      {{"-ka", Fixture("bob-public.asc").string()}, false},
      {{"+force", clear_signed}, false},
      {{"+force", signed_message}, false},
      // What needs one shows that the log would tell.
      {{"+force", "-z", "bob pass", letter}, true},
      {{"-kv", "secring.pgp"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Words(c.args));
    fs::remove(log);
    const RunResult run = home.Pgp(c.args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(fs::exists(log), c.starts_agent);
    EXPECT_EQ(home.AgentPid(), 0);
  }
}

TEST(AgentLifetime, AnInterruptAtThePromptStopsTheAgentAndWritesNothing) {
  const TestHome home;
  const std::string letter = LetterToBob(home, "letter");
  home.StopAgent();
  for (const StopRequest& request : StopRequests()) {
    SCOPED_TRACE(request.what);
    const std::unique_ptr<Child> pgp = home.StartPgp({"+force", letter});
    ASSERT_TRUE(pgp->AwaitError("Enter pass phrase:"));
    EXPECT_NE(home.AgentPid(), 0);  // it asked for the pass phrase through the loopback
    pgp->Send(request);
    EXPECT_EQ(pgp->Wait(), 6);
    EXPECT_TRUE(pgp->AwaitError(request.notice));
    EXPECT_EQ(home.AgentPid(), 0);
    EXPECT_FALSE(fs::exists(letter));
  }
}

// A copy of `message` with the byte `from_end` bytes before its end changed.
std::string Flipped(std::string message, std::size_t from_end) {
  message[message.size() - from_end] ^= 0x01;
  return message;
}

// Where the data of `armour` begins: after its first empty line (gpg ends the lines with "\r\n"
// on Windows).
std::size_t DataStart(const std::string& armour) {
  for (std::size_t at = armour.find('\n'); at != std::string::npos; at = armour.find('\n', at)) {
    ++at;
    if (armour.compare(at, 1, "\n") == 0) return at + 1;
    if (armour.compare(at, 2, "\r\n") == 0) return at + 2;
  }
  return std::string::npos;
}

// `binary` in armour made afresh by gpg, so that its checksum matches whatever it holds.
std::string Armoured(const TestHome& home, const std::string& binary) {
  const std::string in = home.File("binary"), out = home.File("armoured");
  WriteFile(in, binary);
  EXPECT_EQ(home.Gpg({"--enarmor", "--output", out, in}).exit_code, 0);
  std::string text = ReadFile(out);
  text.erase(text.find("Comment:"),
             text.find('\n', text.find("Comment:")) + 1 - text.find("Comment:"));
  for (std::size_t at; (at = text.find("ARMORED FILE")) != std::string::npos;)
    text.replace(at, 12, "MESSAGE");
  return text;
}

TEST(DamagedMessage, IsReportedAsDamagedAndNeverAsABadPassPhrase) {
  const TestHome home;
  const std::string file = home.File("report");
  std::string text;
  for (unsigned n = 1; text.size() < 4000; n = n * 1103515245 + 12345) text += std::to_string(n);
  WriteFile(file, text);
  ASSERT_EQ(
      home.Pgp({"+force", "-z", "alice pass", "-se", file, "<bob@example.org>", "-u", "alice"})
          .exit_code,
      0);
  const std::string binary = ReadFile(file + ".pgp");
  ASSERT_EQ(
      home.Pgp({"+force", "-z", "alice pass", "-sea", file, "<bob@example.org>", "-u", "alice"})
          .exit_code,
      0);
  const std::string armoured = ReadFile(file + ".asc");
  ASSERT_EQ(home.Pgp({"+force", "-z", "shared words", "-c", file}).exit_code, 0);
  const std::string conventional = ReadFile(file + ".pgp");
  // gpg still writes messages without an integrity check when asked to.
  ASSERT_EQ(home.Gpg({"--rfc2440", "--trust-model", "always", "-r", "bob@example.org", "--output",
                      file + ".old", "--encrypt", file})
                .exit_code,
            0);
  ASSERT_EQ(home.Gpg({"--rfc2440", "--passphrase", "shared words", "--output", file + ".oldc",
                      "--symmetric", file})
                .exit_code,
            0);
  const std::size_t data = DataStart(armoured);
  ASSERT_NE(data, std::string::npos);
  std::string changed_armour = armoured;
  changed_armour[data + 10] = changed_armour[data + 10] == 'A' ? 'B' : 'A';
  const std::string cut_armour = armoured.substr(0, armoured.find('\n', armoured.size() / 2) + 1);

  const std::string damaged = "the message has been altered or is damaged; nothing was written";
  const std::string unprotected =
      "This message has no integrity protection (it was made by PGP 2 or another old program), so "
      "it is not decrypted; nothing was written.";
  struct Case {
    const char* what;
    std::string message;
    const char* extension;
    const char* pass;
    int exit_code;
    std::string says;
  };
  const Case cases[] = {
      {"last byte changed", Flipped(binary, 1), ".pgp", "bob pass", 34, damaged},
      {"a byte of the check changed", Flipped(binary, 5), ".pgp", "bob pass", 34, damaged},
      {"a byte of the data changed", Flipped(binary, 30), ".pgp", "bob pass", 34, damaged},
      {"an earlier byte changed", Flipped(binary, 100), ".pgp", "bob pass", 34, damaged},
      {"changed, in armour that matches", Armoured(home, Flipped(binary, 30)), ".asc", "bob pass",
       34, damaged},
      {"conventional, changed", Flipped(conventional, 5), ".pgp", "shared words", 34, damaged},
      {"without integrity check", ReadFile(file + ".old"), ".pgp", "bob pass", 34, unprotected},
      {"conventional without integrity check", ReadFile(file + ".oldc"), ".pgp", "shared words", 34,
       unprotected},
      // Made by PGP 2.6.3, whose secret keys GnuPG cannot use either.
      {"PGP 2, conventional", ReadFile(Fixture("pgp2/password-only.asc")), ".asc", "shared secret",
       34, unprotected},
      {"PGP 2, to Bob's PGP 2 key", ReadFile(Fixture("pgp2/signed-encrypted-for-bob.asc")), ".asc",
       "bob pass", 34, unprotected},
      {"armour with a character changed", changed_armour, ".asc", "bob pass", 1,
       "is corrupted (its checksum does not match its contents)"},
      {"armour cut short", cut_armour, ".asc", "bob pass", 1, "is corrupted (it has no end line)"},
  };
  const std::string input = home.File("input");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(input + ".asc");
    fs::remove(input + ".pgp");
    WriteFile(input + c.extension, c.message);
    const RunResult given = home.Pgp({"+force", "-z", c.pass, input});
    EXPECT_EQ(given.exit_code, c.exit_code) << given.err;
    EXPECT_NE(given.err.find(c.says), std::string::npos) << given.err;
    EXPECT_FALSE(fs::exists(input));
    // Typed at the console, the right pass phrase is taken at the first try.
    const std::string pass = std::string(c.pass) + "\n";
    const RunResult typed = home.Pgp({"+force", input}, pass + pass + pass);
    EXPECT_EQ(typed.exit_code, c.exit_code) << typed.err;
    EXPECT_LE(Count(typed.err, "Enter pass phrase:"), 1) << typed.err;
    EXPECT_FALSE(fs::exists(input));
  }
}

TEST(OutputFiles, AreTheUsersAloneWhateverOthersWouldBeAllowed) {
  for (const auto& [what, write] : kWriters) {
    SCOPED_TRACE(what);
    const TestHome scratch = TestHome::Bare("out");
    LetOthersRead(scratch.path());
    const std::string path = scratch.File("temppgp");
    write(path, "the new result", pgp26::kInvalidFile);
    EXPECT_TRUE(IsPrivate(path));
  }

  const TestHome home;
  LetOthersRead(home.path());
  const std::string letter = LetterToBob(home, "letter"), draft = home.File("draft"),
                    key = home.File("key");
  WriteFile(draft, kText);
  const std::pair<std::vector<std::string>, std::string> runs[] = {
      {{"+force", "-z", "bob pass", letter}, letter},
      {{"+force", "-z", "alice pass", "-sea", draft, "<bob@example.org>", "-u", "alice"},
       draft + ".asc"},
      {{"-kxa", "<bob@example.org>", key}, key + ".asc"},
  };
  for (const auto& [args, output] : runs) {
    SCOPED_TRACE(Words(args));
    const RunResult run = home.Pgp(args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(IsPrivate(output));
  }
}

TEST(OutputFiles, AKilledRunLeavesNoPlainText) {
  const TestHome home;
  const LongReport report(home);
  // Killed the moment anything appears beside the message: only the whole result may.
  const std::unique_ptr<Child> pgp = home.StartPgp({"+force", "-z", "bob pass", report.plain});
  while (pgp->Running() && report.Beside().empty()) {
  }
  pgp->Kill();
  for (const std::string& name : report.Beside()) {
    EXPECT_EQ(name, "report");
    EXPECT_TRUE(ReadFile(report.plain) == report.text);
  }
}

}  // namespace
}  // namespace pgp26_test
