// The Encrypt dialog: its options, its checks and its encryption of the mail being composed.
#include "ui/encrypt.h"

#include "tests/ui_fixture.h"
#include "ui/encryption.h"

namespace quillet::ui {
namespace {

using gui::Answer;
using Texts = std::vector<std::string>;

class EncryptDialogTest : public testing::UiTest {
 protected:
  TEncryptForm& Open() {
    TEncryptForm& form = program_.Own(std::make_unique<TEncryptForm>(program_));
    form.window().Show();
    return form;
  }
  linux_platform::HeadlessWindow& Dialog() { return tp_.gui.Find("EncryptForm"); }
  void Settle() { tp_.gui.Settle(); }
};

TEST_F(EncryptDialogTest, SignerIsTheFirstSecretKeyAndOptionsRunWithoutRecipients) {
  Configure();
  client_.NewMail();
  client_.TypeBody("hello");
  TEncryptForm& form = Open();
  EXPECT_EQ(form.sendlist.SelectedIDs, Texts{"0x22222222"});
  EXPECT_EQ(form.RecipList.box().Count(), 4);
  Dialog().UserChoose("EOption", 2);
  Dialog().UserType("Password", "pw");
  Dialog().UserClick("OKBtn");
  ASSERT_EQ(PgpRuns().size(), 1u);
  EXPECT_EQ(PgpRuns()[0], (Texts{"+force", "-z", "pw", "-saw", PgpPath() + "temppgp"}));
  EXPECT_EQ(client_.NewItem().body.substr(0, 27), "-----BEGIN PGP MESSAGE-----");
  Settle();
  EXPECT_EQ(tp_.gui.FindOrNull("EncryptForm"), nullptr);  // released
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

TEST_F(EncryptDialogTest, EncryptAndSignWithRecipients) {
  Configure();
  client_.NewMail();
  client_.TypeBody("hello");
  client_.Attach("a.txt", "A");
  Open();
  Dialog().UserSelect("RecipList", {1, 0});
  Dialog().UserChoose("EOption", 1);
  Dialog().UserType("Password", "pw");
  Dialog().UserClick("OKBtn");
  const auto runs = PgpRuns();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0], (Texts{"+force", "-z", "pw", "-seaw", PgpPath() + "temppgp", "0x0A1B2C3D",
                            "0x11111111", "-u", "0x22222222"}));
  EXPECT_EQ(runs[1][4], PgpPath() + "doc0");
  EXPECT_EQ(client_.NewItem().attachments.at(0).name, "doc0.asc");
}

TEST_F(EncryptDialogTest, PasswordOnlyHidesThePasswordBox) {
  Configure();
  client_.NewMail();
  Open();
  auto& password = Dialog().control("Password");
  auto& warn = Dialog().control("Warn");
  EXPECT_TRUE(password.Visible());
  EXPECT_FALSE(warn.Visible());
  Dialog().UserChoose("EOption", 3);
  EXPECT_FALSE(password.Visible());
  EXPECT_TRUE(warn.Visible());
  Dialog().UserChoose("EOption", 0);
  EXPECT_TRUE(password.Visible());
  EXPECT_FALSE(warn.Visible());

  Dialog().UserChoose("EOption", 3);
  Dialog().UserClick("OKBtn");
  EXPECT_EQ(PgpRuns().at(0), (Texts{"-caw", PgpPath() + "temppgp"}));
}

TEST_F(EncryptDialogTest, NoRecipientForOptionsThatNeedOne) {
  Configure();
  client_.NewMail();
  client_.TypeBody("hello");
  for (int option : {0, 1}) {
    Open();
    Dialog().UserChoose("EOption", option);
    tp_.gui.QueueAnswer(Answer::kOk);
    Dialog().UserClick("OKBtn");
    EXPECT_FALSE(Dialog().Visible());
    Settle();
  }
  EXPECT_EQ(Messages(), (Texts{"You must select a recipient", "You must select a recipient"}));
  EXPECT_TRUE(client_.transcript().empty());
  EXPECT_TRUE(PgpRuns().empty());
  EXPECT_EQ(tp_.gui.FindOrNull("EncryptForm"), nullptr);
}

TEST_F(EncryptDialogTest, TheEmptyListingLineIsNoRecipient) {
  Configure();
  client_.NewMail();
  client_.TypeBody("hello");
  Open();
  Dialog().UserSelect("RecipList", {3});  // the empty last line
  tp_.gui.QueueAnswer(Answer::kOk);
  Dialog().UserClick("OKBtn");
  EXPECT_EQ(Messages(), Texts{"You must select a recipient"});
  EXPECT_TRUE(PgpRuns().empty());
  Settle();

  Open();
  Dialog().UserSelect("RecipList", {1, 3});
  Dialog().UserType("Password", "pw");
  Dialog().UserClick("OKBtn");
  EXPECT_EQ(PgpRuns(), (std::vector<Texts>{{"+force", "-z", "pw", "-eaw", PgpPath() + "temppgp",
                                            "0x11111111", "-u", "0x22222222"}}));
}

TEST_F(EncryptDialogTest, CancelAndCloseSendNothing) {
  Configure();
  client_.NewMail();
  Open();
  Dialog().UserClick("CancelBtn");
  Settle();
  Open();
  Dialog().UserClose();
  Settle();
  EXPECT_EQ(tp_.gui.FindOrNull("EncryptForm"), nullptr);
  EXPECT_TRUE(client_.transcript().empty());
  EXPECT_TRUE(PgpRuns().empty());
}

TEST_F(EncryptDialogTest, WithoutAConfigurationTheProgramIsChosenAndTheListsStayEmpty) {
  tp_.gui.QueueFile(PgpPath() + "pgp");
  TEncryptForm& form = Open();
  EXPECT_TRUE(std::filesystem::exists(UserIni()));
  EXPECT_TRUE(std::filesystem::exists(pgp_dir_ / "pgpkey.bat"));
  EXPECT_EQ(form.RecipList.box().Count(), 0);
  EXPECT_TRUE(PgpRuns().empty());  // no listing was made
  const gui::OpenFileSettings& dialog = tp_.gui.file_dialogs().at(0).settings;
  EXPECT_EQ(dialog.filter, "");
  EXPECT_FALSE(dialog.file_must_exist);
}

TEST_F(EncryptDialogTest, AnEmptySecretListingSignsWithPgpsDefaultKey) {
  Configure();
  std::ofstream(pgp_dir_ / "quillet.sec", std::ios::binary | std::ios::trunc).close();
  client_.NewMail();
  client_.TypeBody("hello");
  Open();
  Dialog().UserSelect("RecipList", {0});
  Dialog().UserClick("OKBtn");
  EXPECT_EQ(PgpRuns().at(0),
            (Texts{"+force", "-z", "", "-eaw", PgpPath() + "temppgp", "0x0A1B2C3D"}));
}

}  // namespace
}  // namespace quillet::ui
