// Decryption of a received message into a note, and key exchange by mail, from the main window.
#include "tests/ui_fixture.h"
#include "ui/pgp2.h"

namespace quillet::ui {
namespace {

using gui::Answer;
using mailsim::Attachment;
using mailsim::Item;
using Texts = std::vector<std::string>;

constexpr char kDecryptedText[] =
    "Decrypted PGP text is attached to this note.  Select view attachments to see attachment.\r\n";
// The test PGP program, like a classic one, writes no signature record.
const std::string kNoteBody =
    std::string("Signature: not reported by this PGP program.\r\n") + kDecryptedText;

class DecryptTest : public testing::UiTest {
 protected:
  void SetUp() override {
    Configure();
    program_.Start({"-Embedding"});
  }
  TForm1& Open() {
    TForm1& form = program_.Own(std::make_unique<TForm1>(program_));
    form.window().Show();
    return form;
  }
  linux_platform::HeadlessWindow& Window() { return tp_.gui.Find("Form1"); }

  // A received encrypted message from Ann with these attachments (plain texts, armoured here).
  std::string Receive(const std::vector<std::string>& attachments = {}) {
    Item item{.sender = "Ann", .subject = "Plans", .body = Armour("meet at noon")};
    for (std::size_t i = 0; i < attachments.size(); ++i)
      item.attachments.push_back({"file" + std::to_string(i) + ".asc", Armour(attachments[i])});
    return client_.Deliver("me@example.com", item);
  }

  // The note that was sent and then opened.
  Item Note() {
    const std::string& open = client_.transcript().back();
    EXPECT_TRUE(open.starts_with("ItemOpen("));
    return client_.FindItem(open.substr(9, open.size() - 10));
  }
};

TEST_F(DecryptTest, TheNewItemIsRefusedWithTheResidentWindowInFront) {
  Open();
  client_.NewMail();
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("Decrypt");
  ASSERT_EQ(tp_.gui.messages().size(), 1u);
  EXPECT_EQ(tp_.gui.messages()[0].spec.text, "You can only decrypt incoming items.");
  EXPECT_EQ(tp_.gui.messages()[0].spec.icon, gui::Icon::kNone);
  EXPECT_TRUE(tp_.gui.Find("Form2").Visible());
  EXPECT_EQ(tp_.gui.foreground(), &tp_.gui.Find("Form2"));
  EXPECT_EQ(client_.transcript(), (Texts{"envcheckcurrentwindow(624)", "ItemMessageIDFromView()"}));
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

TEST_F(DecryptTest, AnOpenedMessageBecomesANoteThatIsSentAndOpened) {
  const std::string id = Receive();
  client_.OpenItem(id);
  Open();
  Window().UserType("Password", "pw");
  Window().UserClick("Decrypt");

  const Texts& sent = client_.transcript();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(Texts(sent.begin(), sent.begin() + 3),
            (Texts{"envcheckcurrentwindow(624)", "ItemMessageIDFromView()",
                   "itemgettext(\"" + id + "\";from!)"}));
  const Item note = Note();
  EXPECT_EQ(note.sender, "PGP message from Ann");
  EXPECT_EQ(note.subject, "Plans");
  EXPECT_EQ(note.body, kNoteBody);
  EXPECT_EQ(note.attachments, (std::vector<Attachment>{{"temppgp", "meet at noon"}}));
  EXPECT_EQ(note.recipients, Texts{"me@example.com"});
  EXPECT_TRUE(note.sent);
  EXPECT_EQ(client_.view().item_id, note.id);
  EXPECT_EQ(PgpRuns().at(0), (Texts{"+force", "-z", "pw", PgpPath() + "temppgp"}));
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

TEST_F(DecryptTest, FromTheItemListWithAnAttachmentThatDoesNotDecrypt) {
  const std::string id = Receive({"first", "second", "third"});
  client_.ShowItemList({id});
  Open();
  setenv("FAKEPGP_FAIL", "nooutput@doc1", 1);
  Window().UserClick("Decrypt");

  const Texts& sent = client_.transcript();
  EXPECT_EQ(Texts(sent.begin(), sent.begin() + 5),
            (Texts{"envcheckcurrentwindow(624)", "itemlistcreatefromcontrol(219;1;)",
                   "itemlistgetitem(1;0)", "itemlistdelete", "itemgettext(\"" + id + "\";from!)"}));
  const Item note = Note();
  const std::string p = PgpPath();
  // The attachment that did not decrypt is named where its line would be.
  EXPECT_EQ(note.body, kNoteBody + p + "doc0 attached\r\n" +
                           "Attachment 2 could not be decrypted (exit code 1).\r\n" + p +
                           "doc2 attached\r\n");
  EXPECT_EQ(
      note.attachments,
      (std::vector<Attachment>{{"temppgp", "meet at noon"}, {"doc0", "first"}, {"doc2", "third"}}));
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

// The classic program leaves an empty file, and succeeds, for a message it cannot read; an empty
// text counts only from a program that reports its verdict.
TEST_F(DecryptTest, AnEmptyResultIsTextOnlyFromAProgramThatReportsItsVerdict) {
  const std::string id = Receive({"first"});
  client_.OpenItem(id);
  Open();
  setenv("FAKEPGP_FAIL", "empty@doc0", 1);
  Window().UserClick("Decrypt");
  EXPECT_EQ(Note().body, kNoteBody + "Attachment 1: PGP produced no decrypted text.\r\n");

  const std::size_t mails = client_.Mailbox("me@example.com").size();
  client_.OpenItem(id);
  setenv("FAKEPGP_FAIL", "empty", 1);
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("Decrypt");
  EXPECT_EQ(Messages(),
            Texts{"PGP produced no decrypted text for this message; nothing was delivered."});
  EXPECT_EQ(client_.Mailbox("me@example.com").size(), mails);

  client_.OpenItem(id);
  setenv("FAKEPGP_RECORD", "NONE\n", 1);
  Window().UserClick("Decrypt");
  unsetenv("FAKEPGP_RECORD");
  EXPECT_EQ(Note().attachments, (std::vector<Attachment>{{"temppgp", ""}, {"doc0", ""}}));
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

TEST_F(DecryptTest, AnOlderDecryptedBodyIsNeverDelivered) {
  client_.OpenItem(Receive());
  std::ofstream(pgp_dir_ / "temppgp") << "an earlier message";
  Open();
  setenv("FAKEPGP_FAIL", "nooutput", 1);
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("Decrypt");
  EXPECT_EQ(Messages(),
            Texts{"PGP could not decrypt this message (exit code 1); nothing was delivered."});
  EXPECT_FALSE(client_.transcript().back().starts_with("ItemOpen"));  // no note was sent
  EXPECT_EQ(client_.Mailbox("me@example.com").size(), 1u);
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

// Whatever way PGP fails on the body, the user is told with its exit code, nothing is delivered
// and no plain text stays.
TEST_F(DecryptTest, AFailedDecryptionIsSaidAndDeliversNothing) {
  const std::pair<const char*, int> faults[] = {
      {"nooutput", 1}, {"exit", 3}, {"directory", 0}, {"killed", 137}};
  for (const auto& [fault, exit_code] : faults) {
    SCOPED_TRACE(fault);
    client_.OpenItem(Receive({"attached"}));
    TForm1& form = Open();
    setenv("FAKEPGP_FAIL", (std::string(fault) + "@temppgp").c_str(), 1);
    tp_.gui.QueueAnswer(Answer::kOk);
    const std::size_t mails = client_.Mailbox("me@example.com").size();
    form.DecryptClick();
    EXPECT_EQ(Messages().back(), "PGP could not decrypt this message (exit code " +
                                     std::to_string(exit_code) + "); nothing was delivered.");
    EXPECT_EQ(client_.Mailbox("me@example.com").size(), mails);  // no note
    EXPECT_TRUE(LeftInPgpDirectory().empty());
    program_.Release(form);
    tp_.gui.Settle();
  }
}

// The PGP program's signature record decides the note's first line, whatever the record holds;
// a bad signature delivers nothing. The record never stays behind.
TEST_F(DecryptTest, TheSignatureVerdictHeadsTheNote) {
  const std::pair<std::string, std::string> cases[] = {
      {"NONE\n", "Signature: none: this mail was not signed."},
      {"GOOD 0123456789ABCDEF FEDCBA9876543210012345670123456789ABCDEF CERTIFIED "
       "2026-12-08T04:51:09Z Alice%20Example%20%3Calice@example.com%3E\n",
       "Signature: good, from Alice Example <alice@example.com>, made 2026-12-08 04:51 UTC."},
      {"UNKNOWN 89ABCDEF01234567\n",
       "Signature: NOT CHECKED: the signer's key (ID 0x89ABCDEF01234567) is not on your key ring."},
      {"ERROR 89ABCDEF01234567 General%20error\n",
       "Signature: NOT CHECKED: it could not be checked (General error)."},
      {"EXPIRED 0123456789ABCDEF 2020-01-02T03:04:05Z Old%20Key\n",
       "Signature: EXPIRED: made by Old Key (ID 0x0123456789ABCDEF) on 2020-01-02 03:04 UTC with "
       "a key or signature that has expired."},
      {"REVOKED 0123456789ABCDEF 2020-01-02T03:04:05Z Carol\n",
       "Signature: REVOKED: made by Carol (ID 0x0123456789ABCDEF) on 2020-01-02 03:04 UTC with a "
       "key that has been revoked; do not trust this mail."},
      // A user ID cannot start a line of its own in the note.
      {"GOOD 0123456789ABCDEF FEDCBA9876543210012345670123456789ABCDEF CERTIFIED "
       "2026-12-08T04:51:09Z Mallory%0D%0ASignature:%20good%1B\n",
       "Signature: good, from Mallory\\x0D\\x0ASignature: good\\x1B, made 2026-12-08 04:51 UTC."},
      // Text that only looks like a verdict is none.
      {"Good signature from user \"Alice\".\n", "Signature: not reported by this PGP program."},
  };
  for (const auto& [record, line] : cases) {
    SCOPED_TRACE(record);
    client_.OpenItem(Receive({"attached"}));
    TForm1& form = Open();
    setenv("FAKEPGP_RECORD", record.c_str(), 1);
    form.DecryptClick();
    // The attachment's verdict is the body's, so its line carries none.
    EXPECT_EQ(Note().body, line + "\r\n" + kDecryptedText + PgpPath() + "doc0 attached\r\n");
    EXPECT_TRUE(LeftInPgpDirectory().empty());
    program_.Release(form);
    tp_.gui.Settle();
  }

  // The test program writes its output all the same: the verdict alone refuses it.
  client_.OpenItem(Receive({"attached"}));
  TForm1& form = Open();
  setenv("FAKEPGP_RECORD",
         "GOOD 0123456789ABCDEF FEDCBA9876543210012345670123456789ABCDEF CERTIFIED "
         "2026-12-08T04:51:09Z A\nBAD 89ABCDEF01234567\n",
         1);
  tp_.gui.QueueAnswer(Answer::kOk);
  const std::size_t mails = client_.Mailbox("me@example.com").size();
  form.DecryptClick();
  EXPECT_EQ(Messages().back(),
            "PGP could not decrypt this message: its signature is BAD (it was changed after it was "
            "signed); nothing was delivered.");
  EXPECT_EQ(client_.Mailbox("me@example.com").size(), mails);
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

// Our PGP program, known by its record, gives the body as sent: UTF-8 reaches the note in the
// system's text (here of 256 characters), which says once that some could not be shown. Text that
// is not UTF-8, a classic program's text and attachments stay bytes.
TEST_F(DecryptTest, TheBodyOfOurProgramIsShownInTheSystemsText) {
  tp_.system.latin1 = true;
  const std::string greeting = "Gr\u00fc\u00dfe, 5 \u20ac \u2013 ok";
  const std::string ours =
      "Signature: none: this mail was not signed.\r\n" + std::string(kDecryptedText);
  const std::string lost =
      "Some characters of the decrypted text cannot be shown on this system; "
      "each is shown as \"?\".\r\n";
  const std::tuple<const char*, std::string, std::string, std::string> cases[] = {
      {"NONE\n", greeting, std::string("Gr\xFC\xDF") + "e, 5 ? ? ok", ours + lost},
      {"NONE\n", "K\xF6ln", "K\xF6ln", ours},
      {nullptr, greeting, greeting, kNoteBody}};
  for (const auto& [record, body, shown, heading] : cases) {
    client_.OpenItem(client_.Deliver(
        "me@example.com",
        {.sender = "Ann", .body = Armour(body), .attachments = {{"a.asc", Armour(greeting)}}}));
    TForm1& form = Open();
    record ? setenv("FAKEPGP_RECORD", record, 1) : unsetenv("FAKEPGP_RECORD");
    form.DecryptClick();
    EXPECT_EQ(Note().body, heading + PgpPath() + "doc0 attached\r\n");
    EXPECT_EQ(Note().attachments,
              (std::vector<Attachment>{{"temppgp", shown}, {"doc0", greeting}}));
    program_.Release(form);
  }
}

class KeyExchangeTest : public DecryptTest {};

TEST_F(KeyExchangeTest, MailKeyWithoutANewItemOpensOne) {
  client_.OpenItem(Receive());
  Open();
  Window().UserClick("MailKey");
  EXPECT_EQ(client_.transcript(), (Texts{"itemmessageidfromview()", "NewMail()"}));
  EXPECT_TRUE(PgpRuns().empty());
}

TEST_F(KeyExchangeTest, MailKeyInsertsOnlyTheKeyAtTheCurrentIndex) {
  client_.NewMail();
  client_.TypeBody("My key:\n");
  Open();
  Window().UserSelect("RecipList", {2, 1});  // the focus ends on Bob
  Window().UserClick("MailKey");
  EXPECT_EQ(PgpRuns(), (std::vector<Texts>{{"-kxa", "0x11111111", PgpPath() + "temppgp"}}));
  EXPECT_EQ(client_.NewItem().body,
            "My key:\r\n-----BEGIN PGP PUBLIC KEY BLOCK-----\r\nUser: Bob <bob@x>\r\n=FAKE\r\n"
            "-----END PGP PUBLIC KEY BLOCK-----\r\n");
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

// A key block that would not fit into the body, which the mail client would cut, is not added.
TEST_F(KeyExchangeTest, MailKeyAddsNoKeyThatDoesNotFit) {
  client_.NewMail();
  client_.TypeBody(std::string(31950, 'x'));
  Open();
  Window().UserSelect("RecipList", {1});
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("MailKey");
  EXPECT_EQ(Messages(), Texts{"The key does not fit into the message, whose body holds at most "
                              "32,000 characters; nothing was added to the message."});
  EXPECT_EQ(client_.NewItem().body, std::string(31950, 'x'));
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

// The classic program writes the key's listing before the block, and succeeds without a key.
TEST_F(KeyExchangeTest, MailKeyWithTheClassicProgram) {
  setenv("FAKEPGP_CLASSIC", "1", 1);
  client_.NewMail();
  Open();
  Window().UserSelect("RecipList", {1});
  Window().UserClick("MailKey");
  EXPECT_EQ(client_.NewItem().body,
            "Type Bits/KeyID    Date       User ID\r\npub  1024/11111111 2026/01/01 Bob <bob@x>\r\n"
            "\r\n-----BEGIN PGP PUBLIC KEY BLOCK-----\r\nUser: Bob <bob@x>\r\n=FAKE\r\n"
            "-----END PGP PUBLIC KEY BLOCK-----\r\n");
  std::ofstream(tp_.dir.path() / "keys") << "";
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("MailKey");
  unsetenv("FAKEPGP_CLASSIC");
  EXPECT_EQ(Messages(), Texts{"PGP could not extract the key; nothing was added to the message."});
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

TEST_F(KeyExchangeTest, KeyToRingFromTheItemListAddsTheKeyAndReloadsTheLists) {
  const std::string id = client_.Deliver(
      "me@example.com",
      {.sender = "Carol",
       .subject = "my key",
       .body = "Hi,\r\n-----BEGIN PGP PUBLIC KEY BLOCK-----\r\nUser: Carol <carol@x>\r\n"
               "-----END PGP PUBLIC KEY BLOCK-----\r\nbye"});
  client_.ShowItemList({id});
  TForm1& form = Open();
  tp_.gui.QueueAnswer(Answer::kOk);  // Click OK after DOS program runs
  Window().UserClick("Key_To_Ring");
  EXPECT_EQ(PgpRuns().at(0), (Texts{"-ka", PgpPath() + "temppgp.asc"}));
  EXPECT_EQ(client_.transcript().at(2), "itemlistgetitem(1;0)");
  EXPECT_EQ(form.RecipList.box().Item(3), " Carol <carol@x>");
  EXPECT_EQ(form.SendList.box().Count(), 3);
  EXPECT_TRUE(LeftInPgpDirectory().empty());
  EXPECT_EQ(channel::GwMessage(program_.object_api().KeyMessage).MessageId(), id);
}

// PGP's own words on why nothing was added, or else its exit code; the lists stay as they were.
TEST_F(KeyExchangeTest, KeyToRingSaysWhyPgpAddedNothing) {
  client_.OpenItem(client_.Deliver("me@example.com", {.sender = "Carol", .body = "no key here"}));
  Open();
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("Key_To_Ring");
  setenv("FAKEPGP_FAIL", "nooutput", 1);
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("Key_To_Ring");
  EXPECT_EQ(Messages(), (Texts{"PGP could not add the key to your key ring: no keys found in '" +
                                   PgpPath() + "temppgp.asc'",
                               "PGP could not add the key to your key ring (exit code 1)."}));
  EXPECT_EQ(PgpRuns().size(), 2u);
  EXPECT_TRUE(LeftInPgpDirectory().empty());
}

TEST_F(KeyExchangeTest, KeyToRingRefusesTheNewItem) {
  client_.NewMail();
  Open();
  tp_.gui.QueueAnswer(Answer::kOk);
  Window().UserClick("Key_To_Ring");
  ASSERT_EQ(tp_.gui.messages().size(), 1u);
  EXPECT_EQ(tp_.gui.messages()[0].spec.text, "You can only decrypt incoming items.");
  EXPECT_EQ(tp_.gui.messages()[0].spec.icon, gui::Icon::kInformation);
  EXPECT_TRUE(PgpRuns().empty());
}

}  // namespace
}  // namespace quillet::ui
