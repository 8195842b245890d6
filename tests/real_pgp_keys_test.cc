// Keys that look alike, with the real PGP program and the simulated client: the line the user
// selects is the key that PGP encrypts to, signs with, mails and removes, whichever other key
// carries the same user ID.
#include <fcntl.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "tests/real_pgp_home.h"
#include "tests/ui_fixture.h"
#include "ui/encrypt.h"
#include "ui/pgp2.h"

namespace quillet::ui {
namespace {

namespace fs = std::filesystem;
using testing::Gpg;

// The lines of the listings, as GnuPG keeps the keys: the fixtures' Alice (two user IDs) and Bob,
// then a look-alike of each, made with the same user ID. Alice's look-alike has its secret key
// here too; Bob's arrived by mail.
enum PublicLine { kBob = 2, kFakeBob = 4 };
enum SecretLine { kAliceSigns = 0, kFakeAliceSigns = 3 };

class RealPgpKeysTest : public testing::UiTest {
 protected:
  void SetUp() override {
    Configure();
    for (const char* listing : {"quillet.key", "quillet.key.ids", "quillet.sec", "quillet.sec.ids"})
      fs::remove(pgp_dir_ / listing);
    fs::copy_file(PGP_EXE, pgp_dir_ / "pgp", fs::copy_options::overwrite_existing);
    for (const fs::path& home : {pgp_dir_, stranger_}) testing::PrepareGnupgHome(home);
    for (const char* keys : {"alice.asc", "bob.asc"})
      ASSERT_EQ(Gpg(pgp_dir_, std::string("--import ") + PGP26_FIXTURES "/" + keys).exit_code, 0);
    const std::string make = " --passphrase 'alice pass' --quick-gen-key ";
    ASSERT_EQ(Gpg(pgp_dir_, make + "'Alice Example <alice@example.com>' future-default - never")
                  .exit_code,
              0);
    ASSERT_EQ(
        Gpg(stranger_, make + "'Bob Builder <bob@example.org>' future-default - never").exit_code,
        0);
    const fs::path mailed = tp_.dir.path() / "mailed.asc";
    ASSERT_EQ(Gpg(stranger_, "--armor --export --output '" + mailed.string() + "'").exit_code, 0);
    ASSERT_EQ(Gpg(pgp_dir_, "--import '" + mailed.string() + "'").exit_code, 0);
    unsetenv("PGPPATH");
    program_.Start({"-Embedding"});
  }
  void TearDown() override {
    for (const fs::path& home : {pgp_dir_, stranger_})
      testing::RunShell("gpgconf --homedir '" + home.string() + "' --kill gpg-agent");
  }

  // Each key of Bob's ring by its fingerprint, in the ring's order, with its subkeys' IDs.
  std::vector<std::pair<std::string, std::set<std::string>>> Keys() {
    std::vector<std::pair<std::string, std::set<std::string>>> keys;
    std::istringstream in(Gpg(pgp_dir_, "--with-colons --list-keys").output);
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> fields;
      std::istringstream split(line);
      for (std::string field; std::getline(split, field, ':');) fields.push_back(field);
      if (fields[0] == "pub") keys.emplace_back();
      if (fields[0] == "fpr" && keys.back().first.empty()) keys.back().first = fields.at(9);
      if (fields[0] == "sub") keys.back().second.insert(fields.at(4));
    }
    return keys;
  }

  fs::path stranger_ = tp_.dir.path() / "stranger";
};

TEST_F(RealPgpKeysTest, TheSelectedLineIsTheKeyPgpEncryptsToSignsWithMailsAndRemoves) {
  tp_.gui.QueueAnswer(gui::Answer::kOk);  // the first window lists the rings
  const auto keys = Keys();
  ASSERT_EQ(keys.size(), 4u);
  const auto& [alice, bob, fake_alice, fake_bob] = std::tie(keys[0], keys[1], keys[2], keys[3]);
  struct Case {
    int recipient, signer;
    const std::pair<std::string, std::set<std::string>>&to, &by;
  };
  const Case cases[] = {{kBob, kAliceSigns, bob, alice},
                        {kBob, kFakeAliceSigns, bob, fake_alice},
                        {kFakeBob, kAliceSigns, fake_bob, alice}};
  const fs::path body = tp_.dir.path() / "body.asc";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recipient * 10 + c.signer);
    client_.NewMail();
    client_.TypeBody("Meet at noon.");
    TEncryptForm& form = program_.Own(std::make_unique<TEncryptForm>(program_));
    form.window().Show();
    // The dialog's hidden sender list holds the signer's line, as the dialog fills it.
    form.sendlist.SelectedIDs = {form.sendlist.UserIDAt(c.signer)};
    tp_.gui.Find("EncryptForm").UserSelect("RecipList", {c.recipient});
    tp_.gui.Find("EncryptForm").UserChoose("EOption", 1);
    tp_.gui.Find("EncryptForm").UserType("Password", "alice pass");
    tp_.gui.Find("EncryptForm").UserClick("OKBtn");
    tp_.gui.Settle();
    std::ofstream(body, std::ios::binary) << client_.NewItem().body;
    std::set<std::string> to;
    std::istringstream packets(Gpg(stranger_, "--list-packets '" + body.string() + "'").output);
    for (std::string line; std::getline(packets, line);)
      if (line.find("pubkey enc packet:") != std::string::npos)
        to.insert(line.substr(line.find("keyid ") + 6, 16));
    ASSERT_EQ(to.size(), 1u) << client_.NewItem().body;
    EXPECT_TRUE(c.to.second.contains(*to.begin()));
    if (&c.to != &bob) continue;  // only Bob's own key can read it here
    const std::string status =
        Gpg(pgp_dir_, "--passphrase 'bob pass' --status-fd 1 --decrypt '" + body.string() + "'")
            .output;
    EXPECT_NE(status.find("VALIDSIG " + c.by.first), std::string::npos) << status;
  }

  client_.NewMail();
  TForm1& form = program_.Own(std::make_unique<TForm1>(program_));
  linux_platform::HeadlessWindow& window = tp_.gui.Find("Form1");
  window.Show();
  window.UserSelect("RecipList", {kFakeBob});
  window.UserClick("MailKey");
  std::ofstream(body, std::ios::binary) << client_.NewItem().body;
  EXPECT_NE(Gpg(stranger_, "--with-colons --show-keys '" + body.string() + "'")
                .output.find("fpr:::::::::" + fake_bob.first),
            std::string::npos);
  // The person at PGP's console agrees to the removal.
  const fs::path answers = tp_.dir.path() / "answers";
  std::ofstream(answers) << "y\n";
  const int console = dup(0);
  const int typed = open(answers.c_str(), O_RDONLY);
  dup2(typed, 0);
  tp_.gui.QueueAnswer(gui::Answer::kOk);  // the listings are made anew
  window.UserClick("KeyRemove");
  dup2(console, 0);
  close(typed);
  close(console);
  const auto left = Keys();
  ASSERT_EQ(left.size(), 3u);
  EXPECT_EQ(left[1].first, bob.first);  // Bob's own key stays
  EXPECT_EQ(form.RecipList.box().Count(), 5);
}

}  // namespace
}  // namespace quillet::ui
