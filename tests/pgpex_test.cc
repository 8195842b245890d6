// The PGP command component: the exact command lines PGP receives, the run log, and the key
// listings it regenerates, with the test PGP program standing in for PGP.
#include "pgp/pgpex.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/fakepgp/environment.h"
#include "tests/fakepgp/recorded_runs.h"
#include "tests/test_platform.h"

namespace quillet::pgp {
namespace {

using Args = std::vector<std::string>;

class TPGPTest : public ::testing::Test {
 protected:
  void SetUp() override { UsePgpDirectory("pgp"); }

  // Puts the test PGP program into a directory of that name as "pgp".
  void UsePgpDirectory(const std::string& name) {
    const std::filesystem::path dir = tp_.dir.path() / name;
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(FAKEPGP_EXE, dir / "pgp",
                               std::filesystem::copy_options::overwrite_existing);
    pgp_.PGPPath = dir.string() + "/";
    pgp_.PGPProg = "pgp";
    fakepgp::UseDirectory(tp_.dir.path());
  }

  // The arguments of each run, as the test program recorded them.
  std::vector<Args> Runs() {
    return fakepgp::RecordedRuns(testing::ReadFile(tp_.dir.path() / "args"));
  }

  std::string Log() { return testing::ReadFile(tp_.system.RunLogPath()); }
  // The run log's lines at these positions. A run writes "Command line", its command line,
  // "parameters", the parameters, "Exit Code" and the code: six lines.
  void ExpectLogLines(const std::vector<std::pair<std::size_t, std::string>>& expected);

  testing::TestPlatform tp_;
  Platform platform_ = tp_.platform();
  TPGP pgp_{platform_, nullptr};
};

TEST_F(TPGPTest, TheRunLogOfAKeyGeneration) {
  pgp_.GenerateKey();
  const std::string p = pgp_.PGPPath + "pgp";
  EXPECT_EQ(Log(),
            "Command line\r\n" + p + " -kg\r\nparameters\r\n" + p + "  -kg\r\nExit Code\r\n0\r\n");
  EXPECT_EQ(Runs(), std::vector<Args>{{"-kg"}});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

void TPGPTest::ExpectLogLines(const std::vector<std::pair<std::size_t, std::string>>& expected) {
  const std::vector<std::string> log = Lines(Log());
  for (const auto& [position, line] : expected) {
    ASSERT_LT(position, log.size());
    EXPECT_EQ(log[position], line) << "log line " << position;
  }
}

TEST_F(TPGPTest, ExitCodesFailedStartsAndAMissingLog) {
  ASSERT_FALSE(std::filesystem::exists(tp_.system.RunLogPath()));  // created by the first run
  setenv("FAKEPGP_EXIT", "3", 1);
  pgp_.GenerateKey();
  pgp_.PGPProg = "missing";
  pgp_.GenerateKey();
  EXPECT_EQ(Lines(Log()).size(), 12u);
  ExpectLogLines({{4, "Exit Code"}, {5, "3"}, {9, pgp_.PGPPath + "missing  -kg"}, {11, "2"}});
}

TEST_F(TPGPTest, KeyOperationsAndDecryption) {
  const std::string f = pgp_.PGPPath + "temppgp";
  pgp_.RemoveKey("<bob@example.com>");
  pgp_.AddKey(f);
  pgp_.ExtractKey("<alice@example.com>", f);
  pgp_.DecryptFile(f, "secret");
  pgp_.DecryptFile(f, "");
  EXPECT_EQ(Runs(), (std::vector<Args>{{"-kr", "<bob@example.com>"},
                                       {"-ka", f},
                                       {"-kxa", "<alice@example.com>", f},
                                       {"+force", "-z", "secret", f},
                                       {"+force", "-z", "", f}}));
  const std::string p = pgp_.PGPPath + "pgp ";
  ExpectLogLines({{1, p + "-kr <bob@example.com>"},
                  {13, p + "-kxa <alice@example.com> " + f},
                  {19, p + "+force -z \"********\" " + f},
                  {21, p + " +force -z \"********\" " + f},
                  {25, p + "+force -z \"********\" " + f}});  // the empty pass phrase too
  EXPECT_EQ(Log().find("secret"), std::string::npos);
}

// A decryption names the signature record in the PGP directory to PGP; a record from an earlier
// run never counts, and none outlives the run.
TEST_F(TPGPTest, DecryptionTakesThisRunsSignatureRecord) {
  const std::string f = pgp_.PGPPath + "temppgp";
  const std::string record = pgp_.PGPPath + "temppgp.sig";
  std::ofstream(record) << "NONE\n";
  const DecryptResult classic = pgp_.DecryptFile(f, "");
  EXPECT_EQ(classic.exit_code, 1);  // there was nothing to decrypt
  EXPECT_FALSE(classic.signature.has_value());
  EXPECT_FALSE(std::filesystem::exists(record));

  setenv("FAKEPGP_RECORD", "UNKNOWN 89ABCDEF01234567\n", 1);
  const DecryptResult reported = pgp_.DecryptFile(f, "");
  ASSERT_TRUE(reported.signature.has_value());
  EXPECT_EQ(reported.signature->state, SignatureState::kUnknown);
  EXPECT_EQ(reported.signature->key_id, "89ABCDEF01234567");
  EXPECT_FALSE(std::filesystem::exists(record));
}

TEST_F(TPGPTest, EncryptionInEveryMode) {
  const std::string f = pgp_.PGPPath + "temppgp";
  const Args recipients = {"<r1@x>", "<r2@x>"};
  const Args signers = {"<s@x>", "<ignored@x>"};
  for (int mode : {0, 1, 2, 3, 7}) pgp_.EncryptFile(f, recipients, signers, "pw", mode);
  EXPECT_EQ(Runs(), (std::vector<Args>{
                        {"+force", "-z", "pw", "-eaw", f, "<r1@x>", "<r2@x>", "-u", "<s@x>"},
                        {"+force", "-z", "pw", "-seaw", f, "<r1@x>", "<r2@x>", "-u", "<s@x>"},
                        {"+force", "-z", "pw", "-saw", f},
                        {"-caw", f},
                        {f}}));
  const std::string p = pgp_.PGPPath + "pgp ";
  ExpectLogLines({{1, p + "+force -z \"********\" -eaw " + f + " <r1@x> <r2@x>  -u <s@x>"},
                  {3, p + " +force -z \"********\" -eaw " + f + " <r1@x> <r2@x>  -u <s@x>"},
                  {7, p + "+force -z \"********\" -seaw " + f + " <r1@x> <r2@x>  -u <s@x>"},
                  {13, p + "+force -z \"********\" -saw " + f + " "},
                  {19, p + " -caw " + f + " "},
                  {21, p + "  -caw " + f + " "},
                  {25, p + f + " "}});
}

TEST_F(TPGPTest, EncryptionWithoutRecipientsOrSigner) {
  const std::string f = pgp_.PGPPath + "temppgp";
  pgp_.EncryptFile(f, {}, {"<s@x>"}, "pw", 0);
  pgp_.EncryptFile(f, {"<r@x>"}, {}, "pw", 1);
  pgp_.EncryptFile(f, {"<r@x>"}, {""}, "pw", 0);
  // The empty last line of a listing names no key: PGP is never given an empty user ID.
  pgp_.EncryptFile(f, {"", "<r@x>", " "}, {" "}, "pw", 1);
  EXPECT_EQ(Runs(), (std::vector<Args>{{"+force", "-z", "pw", "-eaw", f, "-u", "<s@x>"},
                                       {"+force", "-z", "pw", "-seaw", f, "<r@x>"},
                                       {"+force", "-z", "pw", "-eaw", f, "<r@x>"},
                                       {"+force", "-z", "pw", "-seaw", f, "<r@x>"}}));
  EXPECT_EQ(Lines(Log())[1], pgp_.PGPPath + "pgp +force -z \"********\" -eaw " + f + "  -u <s@x>");
}

// A result counts only when PGP succeeded and left one whole armoured block of the kind asked for.
TEST(PgpResult, OnlyAWholeArmouredBlockOfASuccessfulRunCounts) {
  const testing::TempDir dir;
  const std::string path = (dir.path() / "temppgp.asc").string();
  const std::string message =
      "-----BEGIN PGP MESSAGE-----\r\n\r\nhQEMA1b2\r\n=ab+/\r\n-----END PGP MESSAGE-----\r\n";
  struct Case {
    const char* what;
    std::int32_t exit_code;
    std::optional<std::string> content;  // nothing: a folder in the file's place
    bool counts;
    std::string_view kind = "MESSAGE";
  };
  const std::string key =
      "-----BEGIN PGP PUBLIC KEY BLOCK-----\r\nVersion: 2.6.3ia\r\n\r\nmQ\r\n"
      "=ab+/\r\n-----END PGP PUBLIC KEY BLOCK-----\r\n";
  // What the classic program writes before the block.
  const std::string listing =
      "Type Bits/KeyID    Date       User ID\r\n"
      "pub  1024/B14E7015 2026/12/08 Alice Example <alice@example.com>\r\n\r\n";
  const Case cases[] = {
      {"a whole message", 0, message, true},
      {"with LF line ends and blank lines after it", 0,
       "-----BEGIN PGP MESSAGE-----\n\nhQEMA1b2\n=ab+/\n-----END PGP MESSAGE-----\n\n\n", true},
      {"a failed run", 3, message, false},
      {"empty", 0, "", false},
      {"cut short", 0, message.substr(0, 40), false},
      {"without a checksum line", 0,
       "-----BEGIN PGP MESSAGE-----\r\n\r\nhQEMA1b2\r\n-----END PGP MESSAGE-----\r\n", false},
      {"an error text", 0, "Error: the disk is full.\r\n", false},
      {"text before the armour", 0, "Hello\r\n" + message, false},
      {"a key block", 0,
       "-----BEGIN PGP PUBLIC KEY BLOCK-----\r\nmQ\r\n=ab+/\r\n"
       "-----END PGP PUBLIC KEY BLOCK-----\r\n",
       false},
      {"a folder", 0, std::nullopt, false},
      {"a key block", 0, key, true, "PUBLIC KEY BLOCK"},
      {"a key block after the key's listing", 0, listing + key, true, "PUBLIC KEY BLOCK"},
      {"two key blocks", 0, listing + key + key, false, "PUBLIC KEY BLOCK"},
      {"a listing and a key block cut short", 0, listing + key.substr(0, 50), false,
       "PUBLIC KEY BLOCK"},
      {"a listing and a key block without a checksum line", 0,
       listing + "-----BEGIN PGP PUBLIC KEY BLOCK-----\r\nmQ\r\n-----END PGP PUBLIC KEY BLOCK-----",
       false, "PUBLIC KEY BLOCK"},
      {"a listing alone", 0, listing, false, "PUBLIC KEY BLOCK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearOutput(path);
    EXPECT_FALSE(std::filesystem::exists(path));
    if (c.content)
      std::ofstream(path, std::ios::binary) << *c.content;
    else
      std::filesystem::create_directory(path);
    EXPECT_EQ(ReadArmouredOutput(c.exit_code, path, c.kind).has_value(), c.counts);
  }
  // An earlier run's armour split into parts goes too.
  for (const char* part : {"temppgp.as1", "temppgp.as2"})
    std::ofstream(dir.path() / part) << message;
  ClearOutput(path);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "temppgp.as1") ||
               std::filesystem::exists(dir.path() / "temppgp.as2"));
  // A folder with something in it cannot be cleared away, so no run may be trusted to write there.
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path + "/inside");
  EXPECT_THROW(ClearOutput(path), Error);

  // Plain output only needs a successful run and a file, even an empty one.
  const std::string plain = (dir.path() / "temppgp").string();
  std::ofstream(plain, std::ios::binary) << "";
  EXPECT_EQ(ReadOutput(0, plain), std::optional<std::string>(""));
  EXPECT_EQ(ReadOutput(1, plain), std::nullopt);
  EXPECT_EQ(ReadOutput(0, plain + ".missing"), std::nullopt);
}

TEST_F(TPGPTest, AwkwardPassPhrasesUserIDsAndPathsArriveWhole) {
  UsePgpDirectory("Program Files/PGP");
  const std::string f = pgp_.PGPPath + "temppgp";
  const std::string pass = "a \"quoted\" pass\\ phrase\\";
  pgp_.EncryptFile(f, {" Bob Builder", "<r@x>"}, {" Sam Signer"}, pass, 1);
  pgp_.RemoveKey(" Bob Builder");
  EXPECT_EQ(Runs(), (std::vector<Args>{{"+force", "-z", pass, "-seaw", f, "Bob Builder", "<r@x>",
                                        "-u", "Sam Signer"},
                                       {"-kr", "Bob Builder"}}));
  const std::string log = Log();
  EXPECT_EQ(log.find("quoted"), std::string::npos);
  EXPECT_EQ(Lines(log)[1], "\"" + pgp_.PGPPath + "pgp\" +force -z \"********\" -seaw \"" + f +
                               "\" \"Bob Builder\" <r@x>  -u \"Sam Signer\"");
}

TEST_F(TPGPTest, WithoutAProgramNothingRuns) {
  pgp_.PGPProg = "";
  tp_.gui.QueueAnswer(gui::Answer::kOk);
  pgp_.EncryptFile(pgp_.PGPPath + "temppgp", {"<r@x>"}, {"<s@x>"}, "pw", 0);
  ASSERT_EQ(tp_.gui.messages().size(), 1u);
  EXPECT_EQ(tp_.gui.messages()[0].spec.text, "You must first select the PGP program.");
  EXPECT_EQ(tp_.gui.messages()[0].spec.caption, "Confirm");
  EXPECT_EQ(tp_.gui.messages()[0].spec.buttons, gui::Buttons::kOk);
  EXPECT_EQ(Lines(Log()), (std::vector<std::string>{"Command line",
                                                    pgp_.PGPPath + " +force -z \"********\" -eaw " +
                                                        pgp_.PGPPath + "temppgp <r@x>  -u <s@x>"}));
  EXPECT_TRUE(Runs().empty());
}

class KeyListingsTest : public TPGPTest {
 protected:
  void SetUp() override {
    TPGPTest::SetUp();
    std::ofstream(tp_.dir.path() / "keys") << "pub|1024|0A1B2C3D|2026/01/01|Alice <a@x>\n"
                                              "sec|1024|0A1B2C3D|2026/01/01|Alice <a@x>\n"
                                              "pub|2048|11223344|2026/02/02|Bob <b@x>\n";
    pgp_.WriteKeyListBatch();
  }
  std::string Listing(const char* name) { return testing::ReadFile(pgp_.PGPPath + name); }
  int Questions() const { return static_cast<int>(tp_.gui.messages().size()); }
};

TEST_F(KeyListingsTest, TheBatchListsBothRings) {
  EXPECT_EQ(testing::ReadFile(pgp_.PGPPath + "pgpkey.bat"),
            pgp_.PGPPath + "pgp -kvc > quillet.key\r\n" + pgp_.PGPPath +
                "pgp -kvc secring.pgp > quillet.sec\r\n");
  pgp_.Forcecheck = forcetype::Force;
  tp_.gui.QueueAnswer(gui::Answer::kOk);
  pgp_.RefreshKeyListings();
  ASSERT_EQ(Questions(), 1);
  EXPECT_EQ(tp_.gui.messages()[0].spec.text, "Click OK after DOS program runs");
  EXPECT_EQ(tp_.gui.messages()[0].spec.buttons, gui::Buttons::kOkCancel);
  EXPECT_EQ(Listing("quillet.key"), " Alice <a@x>\r\n Bob <b@x>\r\n\r\n");
  EXPECT_EQ(Listing("quillet.sec"), " Alice <a@x>\r\n\r\n");
  // Each key is named by the fingerprint its listing line came with (the test program's is its
  // key ID five times).
  const std::string alice = "0x0A1B2C3D0A1B2C3D0A1B2C3D0A1B2C3D0A1B2C3D";
  EXPECT_EQ(Listing("quillet.key.ids"),
            alice + "\r\n0x1122334411223344112233441122334411223344\r\n\r\n");
  EXPECT_EQ(Listing("quillet.sec.ids"), alice + "\r\n\r\n");

  // With the public listing present and no force, nothing runs and nothing is asked.
  pgp_.Forcecheck = forcetype::NoForce;
  pgp_.RefreshKeyListings();
  EXPECT_EQ(Questions(), 1);
}

TEST_F(KeyListingsTest, CancelLeavesTheListingsUntrimmedUntilAForcedRefresh) {
  tp_.gui.QueueAnswer(gui::Answer::kCancel);
  pgp_.RefreshKeyListings();  // no listing yet: regenerated even without force
  EXPECT_EQ(Listing("quillet.key").substr(0, 15), "\nKey ring: 'pub");
  pgp_.RefreshKeyListings();
  EXPECT_EQ(Questions(), 1);
  pgp_.Forcecheck = forcetype::Force;
  tp_.gui.QueueAnswer(gui::Answer::kOk);
  pgp_.RefreshKeyListings();
  EXPECT_EQ(Listing("quillet.key"), " Alice <a@x>\r\n Bob <b@x>\r\n\r\n");
}

TEST_F(KeyListingsTest, AListingThatWasNotRewrittenIsNotTrimmedTwice) {
  pgp_.Forcecheck = forcetype::Force;
  tp_.gui.QueueAnswer(gui::Answer::kOk);
  pgp_.RefreshKeyListings();
  std::ofstream(pgp_.PGPPath + "pgpkey.bat", std::ios::trunc)
      .close();  // a batch that lists nothing
  tp_.gui.QueueAnswer(gui::Answer::kOk);
  try {
    pgp_.RefreshKeyListings();
    FAIL();
  } catch (const ENoFile& e) {
    EXPECT_STREQ(e.what(), "Key File Does Not Exist");
  }
  EXPECT_FALSE(std::filesystem::exists(pgp_.PGPPath + "quillet.sec"));
}

}  // namespace
}  // namespace quillet::pgp
