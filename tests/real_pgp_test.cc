// The PGP driver with the real PGP program in place of the test one: listings trimmed to user
// IDs, and every command line doing what the driver's callers rely on.
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "pgp/pgpex.h"
#include "tests/test_platform.h"

namespace quillet::pgp {
namespace {

using Texts = std::vector<std::string>;

class RealPgpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(home_);
    std::filesystem::copy_file(PGP_EXE, home_ / "pgp");
    // Small s2k counts keep pass-phrase checks fast; nothing is cached between runs.
    std::ofstream(home_ / "gpg.conf") << "s2k-count 65536\n";
    std::ofstream(home_ / "gpg-agent.conf")
        << "s2k-count 65536\ndefault-cache-ttl 0\nmax-cache-ttl 0\nallow-loopback-pinentry\n";
    for (const char* keys : {"alice.asc", "bob.asc"}) {
      const std::string import = (home_ / "pgp").string() + " -ka " + PGP26_FIXTURES "/" + keys;
      ASSERT_EQ(testing::RunShell(import + " 2>/dev/null").exit_code, 0) << keys;
    }
    unsetenv("PGPPATH");
    pgp_.PGPPath = home_.string() + "/";
    pgp_.PGPProg = "pgp";
  }
  void TearDown() override {
    testing::RunShell("gpgconf --homedir '" + home_.string() + "' --kill gpg-agent");
  }

  std::string File(const char* name) const { return (home_ / name).string(); }

  testing::TestPlatform tp_;
  std::filesystem::path home_ = tp_.dir.path() / "PGP";
  Platform platform_ = tp_.platform();
  TPGP pgp_{platform_, nullptr};
};

TEST_F(RealPgpTest, ListingsTrimToOneUserIdPerLine) {
  pgp_.WriteKeyListBatch();
  pgp_.Forcecheck = forcetype::Force;
  tp_.gui.QueueAnswer(gui::Answer::kOk);
  pgp_.RefreshKeyListings();
  EXPECT_EQ(testing::ReadFile(File("quillet.key")),
            " Alice Example <alice@example.com>\r\n Alice Work <alice@work.example>\r\n"
            " Bob Builder <bob@example.org>\r\n\r\n");
  EXPECT_EQ(testing::ReadFile(File("quillet.sec")),
            " Alice Example <alice@example.com>\r\n Alice Work <alice@work.example>\r\n"
            " Bob Builder <bob@example.org>\r\n\r\n");
}

// On Linux a mail's text is UTF-8 throughout, and comes back byte for byte.
TEST_F(RealPgpTest, EncryptSignAndDecrypt) {
  const std::string text = "Gr\u00fc\u00dfe aus K\u00f6ln \u2013 5 \u20ac f\u00fcr Stra\u00dfe\r\n";
  std::ofstream(File("temppgp"), std::ios::binary) << text;
  pgp_.EncryptFile(File("temppgp"), {"<bob@example.org>"}, {"<alice@example.com>"}, "alice pass",
                   1);
  ASSERT_TRUE(std::filesystem::exists(File("temppgp.asc")));
  EXPECT_FALSE(std::filesystem::exists(File("temppgp")));  // -w wiped the plain text
  EXPECT_NE(testing::ReadFile(File("temppgp.asc")).find("-----BEGIN PGP MESSAGE-----"),
            std::string::npos);

  pgp_.DecryptFile(File("temppgp"), "wrong");
  EXPECT_FALSE(std::filesystem::exists(File("temppgp")));
  pgp_.DecryptFile(File("temppgp"), "bob pass");
  EXPECT_EQ(testing::ReadFile(File("temppgp")), text);
}

TEST_F(RealPgpTest, SignOnlyAndKeyExtraction) {
  std::ofstream(File("doc0"), std::ios::binary) << "signed text";
  pgp_.EncryptFile(File("doc0"), {}, {}, "alice pass", 2);
  ASSERT_TRUE(std::filesystem::exists(File("doc0.asc")));
  pgp_.DecryptFile(File("doc0"), "");
  EXPECT_EQ(testing::ReadFile(File("doc0")), "signed text");

  pgp_.ExtractKey("<bob@example.org>", File("key"));
  const std::string key = testing::ReadFile(File("key.asc"));
  EXPECT_NE(key.find("-----BEGIN PGP PUBLIC KEY BLOCK-----"), std::string::npos);

  // A key mailed in a body goes onto the ring.
  std::ofstream(File("mail.asc")) << "Here is Carol's key:\r\n"
                                  << testing::ReadFile(PGP26_FIXTURES "/carol-revoked.asc");
  pgp_.AddKey(File("mail.asc"));
  EXPECT_NE(testing::RunShell(File("pgp") + " -kv 2>/dev/null").output.find("carol@example.net"),
            std::string::npos);
  EXPECT_EQ(testing::ReadFile(tp_.system.RunLogPath()).find("alice pass"), std::string::npos);
}

// PGP's own words on why a run failed reach the driver; its console may have closed.
TEST_F(RealPgpTest, APgp2KeyIsRefusedInPgpsWords) {
  EXPECT_EQ(pgp_.AddKey(PGP26_FIXTURES "/pgp2/pubring.pgp"), 12);
  EXPECT_EQ(pgp_.LastNotice,
            "These are PGP 2.x keys, which current OpenPGP does not accept; make a new key with "
            "pgp -kg.");
  EXPECT_FALSE(std::filesystem::exists(File("temppgp.msg")));
}

}  // namespace
}  // namespace quillet::pgp
