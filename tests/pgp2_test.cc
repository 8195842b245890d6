// The main window: configuration, key-ring maintenance and encryption of the mail being composed.
#include "ui/pgp2.h"

#include "tests/ui_fixture.h"
#include "ui/encryption.h"

namespace quillet::ui {
namespace {

using gui::Answer;
using Runs = std::vector<std::vector<std::string>>;
using Texts = std::vector<std::string>;

class MainWindowTest : public testing::UiTest {
 protected:
  TForm1& Open() { return program_.Own(std::make_unique<TForm1>(program_)); }
  linux_platform::HeadlessWindow& Window() { return tp_.gui.Find("Form1"); }
};

TEST_F(MainWindowTest, SetupWritesTheConfigurationAndListsTheKeyRings) {
  tp_.gui.QueueFile(PgpPath() + "pgp");
  tp_.gui.QueueAnswer(Answer::kOk);  // Click OK after DOS program runs
  TForm1& form = Open();

  // The user's choice is the user's alone.
  EXPECT_FALSE(std::filesystem::exists(Ini()));
  EXPECT_EQ(testing::ReadFile(UserIni()),
            tp_.system.ModuleFileName() + "\r\n" + PgpPath() +
                "pgp\r\nQuillet keeps the location of the PGP program "
                "here.\r\nDo not delete.  Required by QUILLET program\r\n");
  EXPECT_EQ(form.PGP.PGPPath, PgpPath());
  EXPECT_EQ(form.PGP.PGPProg, "pgp");
  EXPECT_EQ(form.RecipList.Filename, PgpPath() + "quillet.key");
  EXPECT_EQ(form.SendList.Filename, PgpPath() + "quillet.sec");
  EXPECT_EQ(form.RecipList.box().Items(),
            (Texts{" Alice <alice@x>", " Bob <bob@x>", " Me <me@x>", ""}));
  EXPECT_EQ(form.SendList.box().Items(), (Texts{" Me <me@x>", " Old <old@x>", ""}));
  const gui::OpenFileSettings& dialog = tp_.gui.file_dialogs().at(0).settings;
  EXPECT_EQ(dialog.title, "Please select the PGP program");
  EXPECT_EQ(dialog.filter, "Executables|*.exe");
  EXPECT_EQ(dialog.default_ext, "exe");
  EXPECT_EQ(dialog.initial_dir, tp_.system.DriveRoot());
  EXPECT_TRUE(dialog.file_must_exist);
  EXPECT_TRUE(tp_.gui.Find("Form1").spec().caption == "QUILLET");

  // A second Setup opens in the PGP directory; cancelling it changes nothing.
  const std::string ini = testing::ReadFile(UserIni());
  tp_.gui.QueueFile(std::nullopt);
  Window().Show();
  Window().UserClick("Setup");
  EXPECT_EQ(tp_.gui.file_dialogs().at(1).settings.initial_dir, PgpPath());
  EXPECT_EQ(testing::ReadFile(UserIni()), ini);
}

// The installer's configuration names each user's own PGP folder; the first use makes it from
// the installation's copy of the program, beside this one. The user's own configuration, once
// there, counts instead.
TEST_F(MainWindowTest, TheUsersOwnFolderIsMadeOnFirstUse) {
  const std::string own = tp_.system.ExpandEnvironment("%APPDATA%/Quillet/PGP/");
  const std::filesystem::path master = tp_.dir.path() / "bin" / "GnuPG";
  std::ofstream(Ini(), std::ios::binary) << "/opt/quillet\r\n%APPDATA%/Quillet/PGP/pgp\r\n";
  for (const bool installed : {false, true}) {
    SCOPED_TRACE(installed);
    if (installed) {
      std::filesystem::create_directories(master);
      std::filesystem::copy_file(FAKEPGP_EXE, master / "pgp");
    }
    tp_.gui.QueueAnswer(Answer::kOk);  // the error, or "Click OK after DOS program runs"
    TForm1& form = Open();
    if (!installed) {
      EXPECT_EQ(Messages(), Texts{"The PGP program " + own + "pgp is missing, and there is no " +
                                  (master / "pgp").string() +
                                  " to make it from. Install Quillet again, or choose a PGP "
                                  "program with Setup."});
      EXPECT_FALSE(std::filesystem::exists(own));
      program_.Release(form);
      continue;
    }
    EXPECT_EQ(form.PGP.PGPPath, own);
    EXPECT_EQ(testing::ReadFile(own + "pgp"), testing::ReadFile(FAKEPGP_EXE));
    EXPECT_EQ(testing::ReadFile(own + "pgpkey.bat"),
              own + "pgp -kvc > quillet.key\r\n" + own + "pgp -kvc secring.pgp > quillet.sec\r\n");
    EXPECT_EQ(testing::ReadFile(own + "config.txt"), "EncryptToSelf = on\r\nArmorLines = 0\r\n");
    EXPECT_EQ(form.SendList.box().Items(), (Texts{" Me <me@x>", " Old <old@x>", ""}));
    program_.Release(form);
  }
  // A new installation's program replaces the copy; the user's options stay.
  std::ofstream(master / "pgp", std::ios::binary | std::ios::app) << "new";
  std::ofstream(own + "config.txt") << "MyName = me\n";
  program_.Release(Open());
  EXPECT_EQ(testing::ReadFile(own + "pgp"), testing::ReadFile(master / "pgp"));
  EXPECT_EQ(testing::ReadFile(own + "config.txt"), "MyName = me\n");
  Configure();
  std::filesystem::copy_file(Ini(), UserIni());
  std::ofstream(Ini(), std::ios::binary) << "/opt/quillet\r\n%APPDATA%/Quillet/PGP/pgp\r\n";
  EXPECT_EQ(Open().PGP.PGPPath, PgpPath());
}

TEST(MainWindowForm, ControlsAndTabOrder) {
  const gui::FormSpec spec = TForm1::Spec();
  EXPECT_EQ(spec.caption, "QUILLET");
  EXPECT_EQ(spec.bounds.width, 389);
  EXPECT_EQ(spec.bounds.height, 307);
  EXPECT_TRUE(spec.client_size);
  EXPECT_FALSE(spec.scaled);
  std::vector<const gui::ControlSpec*> focusable;
  for (const gui::ControlSpec& c : spec.controls)
    if (c.tab_order >= 0) focusable.push_back(&c);
  std::sort(focusable.begin(), focusable.end(),
            [](auto* a, auto* b) { return a->tab_order < b->tab_order; });
  Texts order;
  for (const gui::ControlSpec* c : focusable) order.push_back(c->name + ":" + c->text);
  EXPECT_EQ(order,
            (Texts{"RecipList:", "SendList:", "Password:", "Encrypt:Encrypt", "Decrypt:Decrypt",
                   "MailKey:Mail Key", "Key_To_Ring:Key To Ring", "NewKey:New Key",
                   "KeyRemove:Key Remove", "LoadKeys:Load Keys", "Setup:Setup", "Quit:Quit"}));
}

TEST_F(MainWindowTest, StartUpReadsTheFirstTwoLinesAndKeepsExistingListings) {
  std::ofstream(Ini(), std::ios::binary) << "/opt/quillet\r\n" << PgpPath() << "pgp\r\n";
  std::ofstream(pgp_dir_ / "quillet.key", std::ios::binary) << " Alice <alice@x>\r\n";
  std::ofstream(pgp_dir_ / "quillet.sec", std::ios::binary) << " Me <me@x>\r\n";
  TForm1& form = Open();
  EXPECT_EQ(form.PGP.PGPPath, PgpPath());
  EXPECT_EQ(form.RecipList.box().Items(), Texts{" Alice <alice@x>"});
  EXPECT_TRUE(tp_.gui.messages().empty());  // no regeneration was needed
  EXPECT_TRUE(PgpRuns().empty());
}

TEST_F(MainWindowTest, StartUpErrorsAreReportedAndTheWindowExists) {
  std::ofstream(Ini(), std::ios::binary) << "/opt/quillet\r\n" << PgpPath() << "pgp\r\n";
  std::ofstream(pgp_dir_ / "quillet.key", std::ios::binary) << " Alice <alice@x>\r\n";
  tp_.gui.QueueAnswer(Answer::kOk);
  Open();  // quillet.sec is missing
  ASSERT_EQ(tp_.gui.messages().size(), 1u);
  EXPECT_EQ(tp_.gui.messages()[0].spec.text, "Key File Does Not Exist.");
  EXPECT_EQ(tp_.gui.messages()[0].spec.icon, gui::Icon::kError);
  EXPECT_NE(tp_.gui.FindOrNull("Form1"), nullptr);
}

TEST_F(MainWindowTest, KeyRemoveTakesTheEntryAtTheCurrentIndexAndReloads) {
  Configure();
  TForm1& form = Open();
  Window().Show();
  Window().UserSelect("RecipList", {0, 1});  // the focus ends on Bob
  tp_.gui.QueueAnswer(Answer::kOk);          // the listings are regenerated
  Window().UserClick("KeyRemove");
  // The removal, then the batch listing both rings again.
  EXPECT_EQ(PgpRuns(), (Runs{{"-kr", "0x11111111"}, {"-kvc"}, {"-kvc", "secring.pgp"}}));
  EXPECT_EQ(form.RecipList.box().Items(), (Texts{" Alice <alice@x>", " Me <me@x>", ""}));

  Window().UserSelect("RecipList", {});  // focus stays, nothing selected
  form.RecipList.box().SetItemIndex(0);
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("KeyRemove");
  EXPECT_EQ(Messages().back(), "You must select a recipient key to remove.");
  EXPECT_EQ(PgpRuns().size(), 3u);
}

TEST_F(MainWindowTest, NewKeyRegeneratesBothListings) {
  Configure();
  setenv("FAKEPGP_NEWKEY", "Fresh <fresh@x>", 1);
  TForm1& form = Open();
  Window().Show();
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("NewKey");
  unsetenv("FAKEPGP_NEWKEY");
  EXPECT_EQ(PgpRuns(), (Runs{{"-kg"}, {"-kvc"}, {"-kvc", "secring.pgp"}}));
  EXPECT_EQ(form.SendList.box().Items(),
            (Texts{" Me <me@x>", " Old <old@x>", " Fresh <fresh@x>", ""}));
  EXPECT_EQ(form.RecipList.box().Count(), 5);
}

class EncryptTest : public MainWindowTest {
 protected:
  void SetUp() override {
    Configure();
    form_ = &Open();
    Window().Show();
  }
  void SelectAndType() {
    Window().UserSelect("RecipList", {0, 1});
    Window().UserSelect("SendList", {0});
    Window().UserType("Password", "pw");
  }
  // The armoured text the test PGP program makes of a text, as lines.
  Texts ArmouredLines(const std::string& plain) {
    std::istringstream in(Armour(plain));
    Texts lines;
    for (std::string line; std::getline(in, line);)
      lines.push_back(line.substr(0, line.size() - 1));
    return lines;
  }
  TForm1* form_ = nullptr;
};

TEST_F(EncryptTest, WithoutANewItemANewMailIsOpened) {
  client_.OpenItem(client_.Deliver("me@example.com", {.sender = "Ann", .subject = "Hi"}));
  Window().UserClick("Encrypt");
  EXPECT_EQ(client_.transcript(), (Texts{"itemmessageidfromview()", "NewMail()"}));
  EXPECT_TRUE(PgpRuns().empty());
}

TEST_F(EncryptTest, AFailedSelectionCheckStopsAfterTheBodyWasSaved) {
  client_.NewMail();
  client_.TypeBody("secret");
  Window().UserSelect("SendList", {0});
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("Encrypt");  // focus on the first entry, which is not selected
  const std::string temp = PgpPath() + "temppgp";
  EXPECT_EQ(client_.transcript(), (Texts{"itemmessageidfromview()",
                                         "ItemSaveMessage(\"X00\";\"" + temp + "\";AnsiText!)"}));
  EXPECT_EQ(Messages(), Texts{"You must select sender and recipient"});
  EXPECT_EQ(client_.NewItem().body, "secret");
  EXPECT_TRUE(LeftInPgpDirectory().empty());  // the saved body is gone too
}

TEST_F(EncryptTest, BodyAndAttachmentsAreReplacedInOrder) {
  client_.NewMail();
  client_.TypeBody("line one\n\nline three");
  for (const char* name : {"a.txt", "b.txt", "c.txt"})
    client_.Attach(name, std::string("data ") + name);
  SelectAndType();
  Window().UserClick("Encrypt");

  // Everything is encrypted before the item changes: the body is rebuilt, then the encrypted
  // attachments are added before the originals are deleted.
  const std::string p = PgpPath();
  Texts expected = {"itemmessageidfromview()",
                    "ItemSaveMessage(\"X00\";\"" + p + "temppgp\";AnsiText!)",
                    "ItemAttachmentGetCount(\"X00\")"};
  for (int i = 0; i < 3; ++i)
    expected.push_back("ItemAttachmentSaveAs (\"X00\";" + std::to_string(i) + ";\"" + p + "doc" +
                       std::to_string(i) + "\")");
  expected.push_back("ItemSetText(\"X00\"; Message!; \"\"; )");
  const Texts armoured = ArmouredLines("line one\r\n\r\nline three");
  for (const std::string& line : armoured) {
    expected.push_back("ItemSetText(\"X00\"; Message!; \"" + line + "\";Yes! )");
    expected.push_back("ItemSetText(\"X00\"; Message!;\"\r\n\";Yes! )");
  }
  for (int i = 0; i < 3; ++i)
    expected.push_back("AttachmentAdd (\"" + p + "doc" + std::to_string(i) + ".asc\"; Yes!;)");
  for (int i = 0; i < 3; ++i) expected.push_back("AttachmentDelete(0)");
  EXPECT_EQ(client_.transcript(), expected);

  std::string body;
  for (const std::string& line : armoured) body += line + "\r\n";
  EXPECT_EQ(client_.NewItem().body, body);
  ASSERT_EQ(client_.NewItem().attachments.size(), 3u);
  EXPECT_EQ(client_.NewItem().attachments[2].name, "doc2.asc");
  const Runs runs = PgpRuns();
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0], (std::vector<std::string>{"+force", "-z", "pw", "-eaw", p + "temppgp",
                                               "0x0A1B2C3D", "0x11111111", "-u", "0x22222222"}));
  EXPECT_EQ(runs[3][4], p + "doc2");
  EXPECT_EQ(LeftInPgpDirectory(), (Texts{"doc0.asc", "doc1.asc", "doc2.asc"}));
  EXPECT_TRUE(tp_.gui.messages().empty());
}

TEST_F(EncryptTest, NoAttachmentsNoAttachmentCommands) {
  client_.NewMail();
  client_.TypeBody("x");
  SelectAndType();
  Window().UserClick("Encrypt");
  for (const std::string& command : client_.transcript())
    EXPECT_FALSE(command.starts_with("ItemAttachmentSaveAs") || command.starts_with("Attachment"))
        << command;
  EXPECT_TRUE(client_.NewItem().body.starts_with("-----BEGIN PGP MESSAGE-----"));
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

TEST_F(EncryptTest, WhenPgpWritesNothingTheMessageStaysAsItWas) {
  client_.NewMail();
  client_.TypeBody("keep me");
  client_.Attach("a.txt", "A");
  SelectAndType();
  setenv("FAKEPGP_FAIL", "nooutput", 1);
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("Encrypt");
  EXPECT_EQ(Messages(), Texts{kTextNotEncrypted});
  EXPECT_EQ(client_.NewItem().body, "keep me");
  EXPECT_EQ(client_.NewItem().attachments.size(), 1u);
  EXPECT_EQ(client_.transcript().size(), 2u);  // the ID query and the save
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

TEST_F(EncryptTest, TheMessageStaysAsItWasWhenAnAttachmentDoesNotEncrypt) {
  client_.NewMail();
  client_.TypeBody("text");
  client_.Attach("a.txt", "A");
  client_.Attach("b.txt", "B");
  SelectAndType();
  setenv("FAKEPGP_FAIL", "nooutput@doc1", 1);
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("Encrypt");
  EXPECT_EQ(Messages(), Texts{AttachmentNotEncrypted(2)});
  EXPECT_EQ(client_.NewItem().body, "text");
  EXPECT_EQ(client_.NewItem().attachments,
            (std::vector<mailsim::Attachment>{{"a.txt", "A"}, {"b.txt", "B"}}));
  EXPECT_EQ(client_.transcript().back(),
            "ItemAttachmentSaveAs (\"X00\";1;\"" + PgpPath() + "doc1\")");
  EXPECT_EQ(LeftInPgpDirectory(), Texts{"doc0.asc"});  // no plain attachment stays
}

// The empty last line of a listing names no key: alone it is no selection, and with real
// recipients it is left out.
TEST_F(EncryptTest, TheEmptyListingLineNamesNoKey) {
  client_.NewMail();
  client_.TypeBody("x");
  struct Case {
    std::vector<int> recipients;
    const char* button;
    const char* message;  // nullptr: PGP runs
  };
  const Case cases[] = {
      {{3}, "Encrypt", "You must select sender and recipient"},
      {{3}, "KeyRemove", "You must select a recipient key to remove."},
      {{3}, "MailKey", "You must select a recipient key to mail."},
      {{3, 1}, "Encrypt", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    Window().UserSelect("RecipList", c.recipients);
    Window().UserSelect("SendList", {0});
    Window().UserType("Password", "pw");
    if (c.message) tp_.gui.QueueAnswer(Answer::kOk);
    const std::size_t shown = tp_.gui.messages().size();
    Window().UserClick(c.button);
    EXPECT_EQ(tp_.gui.messages().size(), shown + (c.message ? 1 : 0));
    if (c.message) {
      EXPECT_EQ(Messages().back(), c.message);
    }
  }
  EXPECT_EQ(PgpRuns(), (Runs{{"+force", "-z", "pw", "-eaw", PgpPath() + "temppgp", "0x11111111",
                              "-u", "0x22222222"}}));
}

// Lines that look alike name different keys: a key's second user ID, a look-alike key with the
// same user ID, a second secret key of the same name. Each selected line reaches PGP as the
// fingerprint of the key it was listed under.
TEST_F(EncryptTest, EverySelectedLineNamesTheKeyItWasListedUnder) {
  std::ofstream(tp_.dir.path() / "keys") << "pub|1024|0A1B2C3D|2026/01/01|Alice <alice@x>\n"
                                            "pub|1024|0A1B2C3D|2026/01/01|Alice Work <a@work>\n"
                                            "pub|1024|44444444|2026/01/01|Alice <alice@x>\n"
                                            "sec|1024|22222222|2026/01/01|Me <me@x>\n"
                                            "sec|1024|55555555|2026/01/01|Me <me@x>\n";
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("LoadKeys");
  ASSERT_EQ(form_->RecipList.box().Items(),
            (Texts{" Alice <alice@x>", " Alice Work <a@work>", " Alice <alice@x>", ""}));
  const auto key = [](const std::string& id) { return "0x" + id + id + id + id + id; };
  client_.NewMail();
  client_.TypeBody("x");
  Window().UserSelect("RecipList", {1, 2});
  Window().UserSelect("SendList", {1});
  Window().UserType("Password", "pw");
  Window().UserClick("Encrypt");
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("KeyRemove");  // the focus is on the look-alike key
  EXPECT_EQ(PgpRuns(), (Runs{{"-kvc"},
                             {"-kvc", "secring.pgp"},
                             {"+force", "-z", "pw", "-eaw", PgpPath() + "temppgp", key("0A1B2C3D"),
                              key("44444444"), "-u", key("55555555")},
                             {"-kr", key("44444444")},
                             {"-kvc"},
                             {"-kvc", "secring.pgp"}}));
}

// A line that names no single key stops the operation before PGP runs, and says why.
TEST_F(EncryptTest, ALineOfNoSingleKeyStopsBeforePgpRuns) {
  struct Case {
    const char* what;
    const char* keys;  // beside the public listing; none when null
    const char* message;
  };
  const Case cases[] = {
      {"a key ID that two keys share", "?ambiguous\r\n0x11111111\r\n0x22222222\r\n\r\n",
       pgp::kAmbiguousKeyMessage},
      {"a listing whose keys are not known", nullptr, pgp::kUnknownKeyMessage},
  };
  client_.NewMail();
  client_.TypeBody("secret");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(pgp_dir_ / "quillet.key.ids");
    if (c.keys) std::ofstream(pgp_dir_ / "quillet.key.ids", std::ios::binary) << c.keys;
    form_->RecipList.LoadKeys();
    for (const char* button : {"Encrypt", "KeyRemove", "MailKey"}) {
      SelectAndType();
      Window().UserSelect("RecipList", {1, 0});  // the focus ends on Alice's line
      tp_.gui.QueueAnswer(Answer::kOk);
      Window().UserClick(button);
      EXPECT_EQ(Messages().back(), c.message) << button;
    }
  }
  EXPECT_TRUE(PgpRuns().empty());
  EXPECT_EQ(client_.NewItem().body, "secret");
}

TEST_F(EncryptTest, OneOperationAtATime) {
  client_.NewMail();
  client_.TypeBody("x");
  SelectAndType();
  setenv("FAKEPGP_DELAY", "0.5", 1);
  tp_.gui.QueueAnswer(Answer::kOk);
  tp_.gui.QueueStep([&] { Window().UserClick("Encrypt"); }, /*while_busy=*/true);
  Window().UserClick("Encrypt");
  EXPECT_EQ(Messages(), Texts{"Another PGP operation is still running."});
  EXPECT_EQ(PgpRuns().size(), 1u);
  EXPECT_NE(client_.NewItem().body, "x");
}

TEST_F(EncryptTest, QuitDeletesTheTemporaryFiles) {
  std::ofstream(pgp_dir_ / "temppgp") << "plain";
  std::ofstream(pgp_dir_ / "temppgp.asc") << "armour";
  Window().UserClick("Quit");
  EXPECT_FALSE(Window().Visible());
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

}  // namespace
}  // namespace quillet::ui
