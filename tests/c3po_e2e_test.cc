// The whole program driven as GroupWise drives it: the simulated client's extension host fills the
// menus of every window it opens and picks entries; the scripted user answers; the test PGP
// program plays PGP.
#include "mailsim/c3pohost.h"
#include "tests/ui_fixture.h"
#include "ui/encrypt.h"
#include "ui/pgp2.h"

namespace quillet {
namespace {

using gui::Answer;
using mailsim::Attachment;
using mailsim::Item;
using Texts = std::vector<std::string>;

class EndToEnd : public testing::UiTest {
 protected:
  void SetUp() override {
    Configure();
    program_.Start({"-Embedding"});
    host_.Start();
    client_.SetViewObserver([this](const mailsim::View& view) { host_.OpenWindow(view.context); });
  }

  void Pick(const std::string& entry) {
    const mailsim::Execution result = host_.Pick("&PGP", entry);
    EXPECT_EQ(result.result, ole::hr::kOk) << entry << ": " << result.excep.description;
  }
  int WindowsOf(const std::string& form) const {
    int count = 0;
    for (const auto* window : tp_.gui.windows()) count += window->spec().name == form;
    return count;
  }

  mailsim::C3POHost host_{tp_.com};
};

// As GroupWise: each command is validated before it runs, and at shutdown CanShutdown and then
// DeInit, after which Quillet holds nothing of the C3POManager it was given at Init.
TEST_F(EndToEnd, CommandsAreValidatedAndShutdownReleasesTheManager) {
  client_.NewMail();
  Pick("&New PGP Key");
  EXPECT_GE(host_.manager_holds(), 1u);
  host_.Close();
  EXPECT_EQ(host_.calls(), (Texts{"Validate", "Execute", "CanShutdown", "DeInit"}));
  EXPECT_EQ(host_.manager_holds(), 0u);
}

TEST_F(EndToEnd, EncryptInAReceivedItemOpensANewMailFirst) {
  client_.OpenItem(client_.Deliver("me@example.com", {.sender = "Ann", .subject = "Hi"}));
  tp_.gui.Find("Form2").Show();
  Pick("&Encrypt");
  EXPECT_EQ(client_.view().kind, mailsim::ViewKind::kCompose);
  EXPECT_FALSE(tp_.gui.Find("EncryptForm").Visible());
  EXPECT_FALSE(tp_.gui.Find("Form2").Visible());
  Pick("&Encrypt");  // now in the new mail's window
  EXPECT_TRUE(tp_.gui.Find("EncryptForm").Visible());
  EXPECT_EQ(tp_.gui.foreground(), &tp_.gui.Find("EncryptForm"));
}

// However often the menu is used, the program keeps only the windows the user has open: a main
// window the user closed, an Encrypt dialog that was cancelled or never shown, and the hidden
// main windows of the other entries are released.
TEST_F(EndToEnd, FiftyRoundsOfTheMenuLeaveOnlyTheWindowsTheUserHasOpen) {
  const std::string received = client_.Deliver("me@example.com", {.sender = "Ann", .subject = "Hi"});
  for (int round = 0; round < 50; ++round) {
    client_.OpenItem(received);
    Pick("&Encrypt");
    Pick("&Encrypt");
    tp_.gui.Find("EncryptForm").UserClick("CancelBtn");
    Pick("&Mail PGP Key");
    Pick("&Quillet");
    tp_.gui.Find("Form1").UserClose();
    tp_.gui.Settle();
  }
  Pick("&Quillet");
  tp_.gui.Settle();
  EXPECT_EQ(WindowsOf("Form1"), 1);
  EXPECT_EQ(WindowsOf("EncryptForm"), 0);
  EXPECT_EQ(tp_.gui.windows().size(), 2u);  // and the resident window
}

TEST_F(EndToEnd, MailPgpKeyInAReceivedItemPutsTheKeyIntoANewMail) {
  client_.OpenItem(client_.Deliver("me@example.com", {.sender = "Ann", .subject = "Hi"}));
  Pick("&Mail PGP Key");
  EXPECT_EQ(client_.NewItem().body,
            "-----BEGIN PGP PUBLIC KEY BLOCK-----\r\nUser: Me <me@x>\r\n=FAKE\r\n"
            "-----END PGP PUBLIC KEY BLOCK-----\r\n");
  tp_.gui.Settle();
  EXPECT_EQ(WindowsOf("Form1"), 0);  // the hidden main window is released
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

TEST_F(EndToEnd, MailPgpKeyWithoutASecretKeyTellsTheUser) {
  std::ofstream(pgp_dir_ / "quillet.sec", std::ios::binary | std::ios::trunc) << "\r\n";
  client_.NewMail();
  tp_.gui.QueueAnswer(Answer::kOk);
  Pick("&Mail PGP Key");
  EXPECT_EQ(Messages(), Texts{"No secret key found. Make a key with New PGP Key first."});
  EXPECT_TRUE(PgpRuns().empty());
}

TEST_F(EndToEnd, MainWindowsAndThePullDown) {
  client_.NewMail();
  Pick("&Quillet");
  Pick("&Quillet");
  EXPECT_EQ(WindowsOf("Form1"), 2);
  EXPECT_TRUE(tp_.gui.Find("Form1").Visible());
  std::vector<std::string> menu_bar;
  for (const mailsim::MenuEntry& entry : host_.newest_window().menu_bar)
    menu_bar.push_back(entry.caption);
  EXPECT_EQ(menu_bar, (std::vector<std::string>{"&File", "&Edit", "&View", "&Actions", "&Tools",
                                                "&PGP", "&Window", "&Help"}));
  EXPECT_EQ(host_.Execute(mailsim::C3POHost::Find(host_.newest_window().menu_bar, "&PGP")).result,
            ole::hr::kOk);
  EXPECT_EQ(host_.factory_init_answer(), 17);
}

TEST_F(EndToEnd, NewPgpKeyRunsPgpAndReleasesTheWindow) {
  client_.NewMail();
  Pick("&New PGP Key");
  EXPECT_EQ(PgpRuns(), (std::vector<Texts>{{"-kg"}}));
  tp_.gui.Settle();
  EXPECT_EQ(WindowsOf("Form1"), 0);
}

TEST_F(EndToEnd, AnErrorReachesTheHostAsADispatchException) {
  client_.NewMail();
  client_.FailCommandsStartingWith("envcheckcurrentwindow", "The client is busy");
  const mailsim::Execution result = host_.Pick("&PGP", "&Decrypt this item");
  EXPECT_EQ(result.result, ole::hr::kException);
  EXPECT_EQ(result.excep.source, "Command");
  EXPECT_EQ(result.excep.description, "The client is busy");
  tp_.gui.Settle();
  EXPECT_EQ(WindowsOf("Form1"), 0);  // released although the operation failed
}

// A body whose cipher text does not fit into a message body (32,000 characters) travels whole as
// the first attachment, and arrives as any body does.
TEST_F(EndToEnd, RoundTripFromComposerToRecipient) {
  client_.AddUser({"bob@example.com", "Bob"});
  std::string long_text;
  for (int i = 0; long_text.size() < 100000; ++i)
    long_text += "Line " + std::to_string(i) + " of a long letter.\r\n";
  // The test PGP program's armour of 15,478 and 15,479 characters is 31,999 and 32,001 long.
  const struct {
    std::string text;
    bool attached;
  } cases[] = {{"Meet at noon.\r\nBring the plans.", false},
               {std::string(15478, 'x'), false},
               {std::string(15479, 'x'), true},
               {long_text, true}};
  for (const auto& [text, attached] : cases) {
    SCOPED_TRACE(text.size());
    client_.SwitchUser("me@example.com");
    client_.NewMail();
    client_.TypeSubject("Plans");
    client_.TypeBody(text);
    client_.Attach("plans.txt", "first floor");
    client_.Attach("map.bin", std::string("\x00\x01\x02", 3));
    client_.AddressTo("bob@example.com");

    Pick("&Encrypt");
    auto& dialog = tp_.gui.Find("EncryptForm");
    dialog.UserSelect("RecipList", {1});
    dialog.UserChoose("EOption", 1);
    dialog.UserType("Password", "secret");
    dialog.UserClick("OKBtn");
    const Item& encrypted = client_.NewItem();
    if (attached) {
      EXPECT_EQ(encrypted.body,
                "The encrypted text of this message is in the attachment message.asc.");
      EXPECT_EQ(encrypted.attachments.at(0).name, "message.asc");
    } else {
      EXPECT_TRUE(encrypted.body.starts_with("-----BEGIN PGP MESSAGE-----\r\nMode: seaw\r\n"));
      if (text.size() > 100) {
        EXPECT_EQ(encrypted.body.size(), 31999u);
      }
    }
    EXPECT_EQ(encrypted.attachments.back().name, "doc1.asc");
    const std::string sent = client_.SendNewMail();
    EXPECT_EQ(client_.FindItem(sent).body.find("noon"), std::string::npos);

    client_.SwitchUser("bob@example.com");
    const std::string received = client_.Mailbox("bob@example.com").back().id;
    client_.ShowItemList({received});
    // The item list gets no menu.
    EXPECT_EQ(host_.newest_window().menu_bar.size(), mailsim::kClientMenus.size());
    host_.OpenContextMenu("GW.MESSAGE.MAIL");  // the user right-clicks the item
    EXPECT_EQ(host_.PickFromContextMenu("&Decrypt this item").result, ole::hr::kOk);

    const Item note = client_.FindItem(client_.view().item_id);
    EXPECT_EQ(note.sender, "PGP message from Me");
    const std::string first = attached ? "doc1" : "doc0";
    EXPECT_EQ(note.attachments, (std::vector<Attachment>{
                                    {"temppgp", text},
                                    {first, "first floor"},
                                    {attached ? "doc2" : "doc1", std::string("\x00\x01\x02", 3)}}));
    // The armoured attachments of the composer's run may stay; no plain text does.
    for (const std::string& left : LeftInPgpDirectory())
      EXPECT_TRUE(left.ends_with(".asc")) << left;
  }
}

}  // namespace
}  // namespace quillet
