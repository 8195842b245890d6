// The verdict on a message's signatures, run as a process against plain gpg: the record file the
// caller names in QUILLET_SIGNATURE_RECORD, and what the console shows; and that nothing a
// message or a key carries can pass for pgp's own lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pgp26/tests/test_home.h"

namespace pgp26_test {
namespace {

namespace fs = std::filesystem;

constexpr char kText[] = "The plans are in the safe.\n";
constexpr char kRecordVariable[] = "QUILLET_SIGNATURE_RECORD=";
constexpr char kAliceRecordUserId[] = "Alice%20Example%20<alice@example.com>";
// Alice's key, imported with gpg and never certified in the homes of these tests.
constexpr char kAliceUncertified[] =
    "GOOD 0DCF3C53DB754C09 32DE3555422DFDA9F6C6F1260DCF3C53DB754C09 UNCERTIFIED";
constexpr char kAliceFingerprintLine[] =
    "Key fingerprint = 32DE 3555 422D FDA9 F6C6  F126 0DCF 3C53 DB75 4C09";
constexpr char kAliceGood[] = "Good signature from user \"Alice Example <alice@example.com>\".";
// A user ID made to look, once printed, like a second and good verdict.
constexpr char kForgedUserId[] =
    "x\nGood signature from user \"Alice Example <alice@example.com>\".";
constexpr char kForgedShown[] =
    "x\\x0AGood signature from user \"Alice Example <alice@example.com>\".";

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int LinesStartingWith(const std::string& text, const std::string& start) {
  const std::vector<std::string> lines = Lines(text);
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.starts_with(start);
  }));
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

// The upper-case long key ID of a fingerprint.
std::string LongId(const std::string& fpr) {
  return fpr.substr(fpr.size() - 16);
}

// Makes a signing key in `home` with gpg and returns its fingerprint; `options` come first (such
// as a faked time to make it at).
std::string MakeKey(const TestHome& home, const std::string& user_id, const std::string& pass,
                    const std::string& expiry, std::vector<std::string> options = {}) {
  options.insert(options.end(), {"--status-fd", "1", "--passphrase", pass, "--quick-gen-key",
                                 user_id, "ed25519", "sign", expiry});
  const RunResult made = home.Gpg(options);
  const std::string created = "[GNUPG:] KEY_CREATED P ";
  const std::size_t at = made.out.find(created);
  if (made.exit_code != 0 || at == std::string::npos)
    throw std::runtime_error("gpg made no key: " + made.err);
  return made.out.substr(at + created.size(), 40);
}

// Revokes the key with the certificate that gpg stored when it made the key; gpg keeps it from
// being imported by mistake with a colon in front of its armour lines.
void Revoke(const TestHome& home, const std::string& fpr) {
  std::string certificate = ReadFile(home.path() / "openpgp-revocs.d" / (fpr + ".rev"));
  for (std::size_t at = certificate.find(":-----"); at != std::string::npos;
       at = certificate.find(":-----", at))
    certificate.erase(at, 1);
  WriteFile(home.path() / "revocation", certificate);
  if (home.Gpg({"--import", home.File("revocation")}).exit_code != 0)
    throw std::runtime_error("gpg did not take the revocation");
}

// `name`.asc in `folder`: kText as gpg writes it with `options`; `name` itself is not left.
std::string Message(const TestHome& home, const fs::path& folder, const std::string& name,
                    std::vector<std::string> options) {
  const std::string file = Text(folder / name);
  WriteFile(file, kText);
  options.insert(options.end(), {"--trust-model", "always", "--output", file + ".asc", file});
  const RunResult made = home.Gpg(options);
  if (made.exit_code != 0) throw std::runtime_error("gpg wrote no message: " + made.err);
  fs::remove(file);
  return file;
}

// The same message with `from` replaced by `to`.
void Tamper(const std::string& file, const std::string& from, const std::string& to) {
  std::string text = ReadFile(file + ".asc");
  text.replace(text.find(from), from.size(), to);
  WriteFile(file + ".asc", text);
}

TEST(SignatureRecord, TellsTheVerdictOfGnupgAloneAndOnlyOnceTheMessageIsRead) {
  const TestHome home;  // Bob's, with Alice's key and a revoked key
  const TestHome stranger({"bob.asc"});
  const fs::path mail = home.path() / "mail", strange_mail = stranger.path() / "mail";
  const fs::path records = home.path() / "records";
  for (const fs::path& folder : {mail, strange_mail, records}) fs::create_directory(folder);
  const std::string record = Text(records / "verdict");
  const std::string started = UtcNow();

  const std::vector<std::string> alice_signs = {"--passphrase", "alice pass", "-u",
                                                "alice@example.com"};
  auto signed_by_alice = [&](std::vector<std::string> options) {
    options.insert(options.begin(), alice_signs.begin(), alice_signs.end());
    return options;
  };
  const std::string signed_letter =
      Message(home, mail, "signed", signed_by_alice({"-a", "-r", "bob@example.org", "-e", "-s"}));
  const std::string plain_letter =
      Message(home, mail, "plain", {"-a", "-r", "bob@example.org", "-e"});
  const std::string clear_signed = Message(home, mail, "clear", signed_by_alice({"--clearsign"}));
  const std::string tampered = Message(home, mail, "tampered", signed_by_alice({"--clearsign"}));
  Tamper(tampered, "in the safe", "in the sofa");
  WriteFile(strange_mail / "clear.asc", ReadFile(clear_signed + ".asc"));
  const std::string unknown_signer = Text(strange_mail / "clear");
  const std::string wrong_pass =
      Message(home, mail, "wrong", {"-a", "-r", "bob@example.org", "-e"});
  WriteFile(mail / "letter.asc", "Just a letter, nothing signed.\n");
  const std::string no_message = Text(mail / "letter");

  const std::string rex = MakeKey(home, "Rex Revoked <rex@example.com>", "", "never");
  const std::string by_revoked =
      Message(home, mail, "revoked", {"--passphrase", "", "-u", rex, "--clearsign"});
  Revoke(home, rex);
  // Made and used in 2020, for a day; then a key of 2020 that signed for a day.
  const std::string eve = MakeKey(home, "Eve Expired <eve@example.com>", "", "1d",
                                  {"--faked-system-time", "20200101T000000!"});
  const std::string by_expired = Message(
      home, mail, "expired",
      {"--faked-system-time", "20200101T000100!", "--passphrase", "", "-u", eve, "--clearsign"});
  const std::string sam = MakeKey(home, "Sam Stale <sam@example.com>", "", "never",
                                  {"--faked-system-time", "20200101T000000!"});
  const std::string by_stale_signature =
      Message(home, mail, "stale",
              {"--faked-system-time", "20200101T000200!", "--default-sig-expire", "1d",
               "--passphrase", "", "-u", sam, "--clearsign"});
  // The name a message carries for its text comes from whoever wrote it.
  const std::string forged_name =
      Message(home, mail, "named",
              signed_by_alice({"--set-filename", "x\nGood signature from user \"Mallory\".", "-a",
                               "-r", "bob@example.org", "-e", "-s"}));
  const std::string forger = MakeKey(home, kForgedUserId, "", "never");
  const std::string by_forged_user_id =
      Message(home, mail, "forged", {"--passphrase", "", "-u", forger, "--clearsign"});
  // Signed by PGP 2.6.3 (MD5, a version 3 key). GnuPG says the same of the text altered since.
  const std::string by_pgp2 = Text(mail / "pgp2");
  WriteFile(by_pgp2 + ".asc", ReadFile(Fixture("pgp2/clearsigned.asc")));
  const std::string finished = UtcNow();

  struct Case {
    const char* what;
    const TestHome& home;
    std::string file;
    std::string pass;
    int exit_code;
    bool plain_text;                    // `text` is written to the file
    std::optional<std::string> record;  // "{created}" stands for a time while the test ran
    std::vector<std::string> shown;     // whole lines of the console
    int good_lines;                     // console lines that start with "Good signature"
    std::string text = kText;           // the plain text, when written
  };
  const std::string alice_good =
      std::string(kAliceUncertified) + " {created} " + kAliceRecordUserId + "\n";
  // A row reads as a few lines of named fields, not one field a line.
  // clang-format off
  const Case cases[] = {
      {.what = "encrypted and signed by Alice", .home = home, .file = signed_letter,
       .pass = "bob pass", .exit_code = 0, .plain_text = true, .record = alice_good,
       .shown = {kAliceGood, kAliceFingerprintLine}, .good_lines = 1},
      {.what = "encrypted, not signed", .home = home, .file = plain_letter, .pass = "bob pass",
       .exit_code = 0, .plain_text = true, .record = "NONE\n", .shown = {}, .good_lines = 0},
      {.what = "clear-signed by a stranger", .home = stranger, .file = unknown_signer,
       .pass = "x", .exit_code = 0, .plain_text = true, .record = "UNKNOWN 0DCF3C53DB754C09\n",
       .shown = {"Key matching expected Key ID DB754C09 not found in key ring 'pubring.pgp', "
                 "can't check signature integrity."},
       .good_lines = 0},
      {.what = "clear-signed and altered", .home = home, .file = tampered, .pass = "bob pass",
       .exit_code = 30, .plain_text = false, .record = "BAD 0DCF3C53DB754C09\n",
       .shown = {"WARNING: Bad signature, doesn't match file contents!"}, .good_lines = 0},
      {.what = "signed by a key revoked since", .home = home, .file = by_revoked,
       .pass = "bob pass", .exit_code = 0, .plain_text = true,
       .record = "REVOKED " + LongId(rex) + " {created} Rex%20Revoked%20<rex@example.com>\n",
       .shown = {"Signature made by REVOKED key, from user \"Rex Revoked <rex@example.com>\"."},
       .good_lines = 0},
      {.what = "signed by a key expired since", .home = home, .file = by_expired,
       .pass = "bob pass", .exit_code = 0, .plain_text = true,
       .record = "EXPIRED " + LongId(eve) +
                 " 2020-01-01T00:01:00Z Eve%20Expired%20<eve@example.com>\n",
       .shown = {"Signature made by expired key, from user \"Eve Expired <eve@example.com>\".",
                 "Signature made 2020/01/01 00:01 GMT"},
       .good_lines = 0},
      {.what = "signed with an expiry that has passed", .home = home, .file = by_stale_signature,
       .pass = "bob pass", .exit_code = 0, .plain_text = true,
       .record = "EXPIRED " + LongId(sam) +
                 " 2020-01-01T00:02:00Z Sam%20Stale%20<sam@example.com>\n",
       .shown = {"Expired signature from user \"Sam Stale <sam@example.com>\".",
                 "Signature made 2020/01/01 00:02 GMT"},
       .good_lines = 0},
      {.what = "with a forged literal name", .home = home, .file = forged_name,
       .pass = "bob pass", .exit_code = 0, .plain_text = true, .record = alice_good,
       .shown = {kAliceGood, kAliceFingerprintLine}, .good_lines = 1},
      {.what = "signed by a forged user ID", .home = home, .file = by_forged_user_id,
       .pass = "bob pass", .exit_code = 0, .plain_text = true,
       .record = "GOOD " + LongId(forger) + " " + forger +
                 " CERTIFIED {created} "
                 "x%0AGood%20signature%20from%20user%20\"Alice%20Example%20<alice@example.com>\"."
                 "\n",
       .shown = {std::string("Good signature from user \"") + kForgedShown + "\"."},
       .good_lines = 1},
      {.what = "wrong pass phrase", .home = home, .file = wrong_pass, .pass = "bob?",
       .exit_code = 31, .plain_text = false, .record = std::nullopt,
       .shown = {"Error:  Bad pass phrase for the key of \"Bob Builder <bob@example.org>\"."},
       .good_lines = 0},
      {.what = "no PGP message", .home = home, .file = no_message, .pass = "bob pass",
       .exit_code = 1, .plain_text = false, .record = std::nullopt, .shown = {}, .good_lines = 0},
      {.what = "signed by PGP 2.6.3, which GnuPG cannot check", .home = home, .file = by_pgp2,
       .pass = "x", .exit_code = 0, .plain_text = true,
       .record = "ERROR 938BD48EB14E7015 General%20error\n",
       .shown = {"Signature from key ID B14E7015 could not be checked: General error."},
       .good_lines = 0, .text = "Meet at noon.\nBring the plans.\n\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // An earlier run's record must never stand for this one.
    WriteFile(record, "GOOD 0DCF3C53DB754C09 2020-01-01T00:00:00Z stale\n");
    const fs::path folder = fs::path(c.file).parent_path();
    const std::set<std::string> before = Names(folder);
    const RunResult run =
        c.home.Pgp({"+force", "-z", c.pass, c.file}, "", {kRecordVariable + record});
    EXPECT_EQ(run.exit_code, c.exit_code) << run.out << run.err;

    std::set<std::string> expected_names = before;
    if (c.plain_text) expected_names.insert(fs::path(c.file).filename().string());
    EXPECT_EQ(Names(folder), expected_names);
    if (c.plain_text) {
      EXPECT_EQ(ReadFile(c.file), c.text);
    }

    EXPECT_EQ(Names(records).size(), c.record ? 1u : 0u);
    if (c.record) {
      const std::string written = ReadFile(record);
      std::string expected = *c.record;
      if (const std::size_t at = expected.find("{created}"); at != std::string::npos) {
        const std::string created = written.substr(at, 20);
        EXPECT_TRUE(std::regex_match(created, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
            << written;
        EXPECT_LE(started, created);
        EXPECT_GE(finished, created);
        expected.replace(at, 9, created);
      }
      EXPECT_EQ(written, expected);
    }

    const std::string console = Comparable(run.out) + Comparable(run.err);
    const std::vector<std::string> lines = Lines(console);
    for (const std::string& line : c.shown)
      EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n"
                                                                          << console;
    EXPECT_EQ(LinesStartingWith(console, "Good signature"), c.good_lines) << console;
  }
}

TEST(SignatureRecord, IsWrittenOnlyWhereTheCallerAsks) {
  const TestHome home;
  const std::string letter = LetterToBob(home, "letter");
  const std::set<std::string> before = Names(home.path());
  struct Case {
    const char* what;
    std::vector<std::string> env;
  };
  const Case cases[] = {{"no variable", {}}, {"an empty variable", {kRecordVariable}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult run = home.Pgp({"+force", "-z", "bob pass", letter}, "", c.env);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(ReadFile(letter), kText);
    std::set<std::string> names = Names(home.path());
    names.erase("letter");
    EXPECT_EQ(names, before);
    EXPECT_EQ(run.err.find("signature"), std::string::npos) << run.err;
    fs::remove(letter);
  }
}

TEST(SignatureRecord, AnOldRecordThatCannotGoStopsTheRunOneThatCannotBeWrittenIsOnlyNoted) {
  const TestHome home;
  const std::string letter = LetterToBob(home, "letter");
  fs::create_directories(home.path() / "full" / "inside");
  struct Case {
    const char* what;
    std::string record;
    int exit_code;
    bool plain_text;
    const char* notice;
  };
  const Case cases[] = {
      {"a folder at the record's place", home.File("full"), 1, false,
       "Cannot remove the signature record"},
      {"a record in a missing folder", Text(home.path() / "missing" / "verdict"), 0, true,
       "The signature check is not reported."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult run =
        home.Pgp({"+force", "-z", "bob pass", letter}, "", {kRecordVariable + c.record});
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_EQ(fs::exists(letter), c.plain_text);
    EXPECT_NE(run.err.find(c.notice), std::string::npos) << run.err;
    EXPECT_EQ(LinesStartingWith(run.out, "Good signature"), c.plain_text ? 1 : 0) << run.out;
    fs::remove(letter);
  }
  EXPECT_TRUE(fs::exists(home.path() / "full" / "inside"));
}

// A user ID is shown wherever pgp names a key: it must stay on its line there too, and the
// listing keep it in its column.
TEST(ForgedUserId, StaysOnItsLineWhereverPgpNamesTheKey) {
  const TestHome home;
  const std::string fpr = MakeKey(home, kForgedUserId, "forger pass", "never");
  const std::string key = "0x" + LongId(fpr);

  const RunResult listed = home.Pgp({"-kv", key});
  EXPECT_EQ(listed.exit_code, 0) << listed.err;
  const std::vector<std::string> lines = Lines(listed.out);
  ASSERT_EQ(lines.size(), 5u) << listed.out;
  EXPECT_TRUE(lines[3].starts_with("pub   255/" + LongId(fpr).substr(8) + " ")) << lines[3];
  EXPECT_EQ(lines[3].substr(30), kForgedShown);
  EXPECT_EQ(lines[4], "1 matching key found.");

  WriteFile(home.File("note"), kText);
  const RunResult signing =
      home.Pgp({"+force", "-sa", home.File("note"), "-u", key}, "forger pass\n");
  const RunResult extracted = home.Pgp({"+force", "-kxa", key, home.File("key")});
  const RunResult removed = home.Pgp({"-kr", key}, "n\n");
  // GnuPG hands pgp the user ID for the pass-phrase prompt with its own escapes.
  const std::string forged_end = "Good signature from user \"Alice Example <alice@example.com>\".";
  struct Case {
    const char* what;
    const RunResult& run;
    int exit_code;
    std::string line_start, line_end;  // of the line that names the key
  };
  const Case cases[] = {
      {"pass-phrase prompt", signing, 0, "Key for user ID \"x\\", forged_end + "\""},
      {"extraction", extracted, 0, "Key for user ID: ", kForgedShown},
      {"removal", removed, 16, "Key for user ID: ", kForgedShown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.run.exit_code, c.exit_code) << c.run.err;
    const std::string console = Comparable(c.run.out) + Comparable(c.run.err);
    const std::vector<std::string> lines = Lines(console);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& line) {
                              return line.starts_with(c.line_start) && line.ends_with(c.line_end);
                            }),
              1)
        << console;
    EXPECT_EQ(LinesStartingWith(console, "Good signature"), 0) << console;
  }
}

}  // namespace
}  // namespace pgp26_test
