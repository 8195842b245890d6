// The token channel and the object API, against the simulated mail client.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "channel/gwapi.h"
#include "channel/wpcom32.h"
#include "mailsim/mail_client.h"
#include "platform/autoobject.h"
#include "tests/test_platform.h"

namespace quillet::channel {
namespace {

using mailsim::Attachment;
using mailsim::Item;

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { client_.Register(tp_.com, tp_.registry); }

  std::string Path(const char* name) const { return (tp_.dir.path() / name).string(); }

  testing::TestPlatform tp_;
  mailsim::MailClient client_{{"me@example.com", "Me"}};
};

// Every command the program sends, as the mail client receives it and acts on it.
TEST_F(ChannelTest, EveryTokenCommandRoundTrips) {
  Item received;
  received.sender = "Ann";
  received.subject = "Hello";
  received.body = "cipher";
  received.attachments = {{"a.asc", "AAA"}, {"b.asc", "BBB"}};
  const std::string id = client_.Deliver("me@example.com", received);
  client_.NewMail();
  client_.TypeBody("first\nsecond");
  client_.Attach("plan.txt", std::string("P\0Q", 3));

  TWP wpo(tp_.com);
  EXPECT_EQ(wpo.ItemMessageIdFromView(TWP::Spelling::kLower), "X00");
  wpo.ItemSaveMessage(kNewItem, Path("temppgp"));
  EXPECT_EQ(testing::ReadFile(Path("temppgp")), "first\r\nsecond");
  EXPECT_EQ(wpo.ItemAttachmentGetCount(kNewItem), 1);
  wpo.ItemAttachmentSaveAs(kNewItem, 0, Path("doc0"));
  EXPECT_EQ(testing::ReadFile(Path("doc0")), std::string("P\0Q", 3));
  wpo.ClearBody();
  EXPECT_EQ(client_.NewItem().body, "");
  // Whatever a line holds comes back as it was.
  const std::string text = "say \"hi\"; now\r\n\";Yes! )\n(\\x\\) \"\"\n\"";
  wpo.AppendToBody(text);
  EXPECT_EQ(client_.NewItem().body, "say \"hi\"; now\r\n\";Yes! )\r\n(\\x\\) \"\"\r\n\"");
  EXPECT_EQ(TWP::LengthInBody(text), client_.NewItem().body.size());
  wpo.AttachmentDelete(0);
  std::ofstream(Path("doc0.asc")) << "ARMOUR";
  wpo.AttachmentAdd(Path("doc0.asc"));
  EXPECT_EQ(client_.NewItem().attachments, (std::vector<Attachment>{{"doc0.asc", "ARMOUR"}}));
  wpo.NewMail();
  EXPECT_TRUE(client_.NewItem().body.empty());

  client_.ShowItemList({id});
  EXPECT_TRUE(wpo.EnvCheckCurrentWindow(624));
  EXPECT_EQ(wpo.FirstSelectedItem(219), id);
  EXPECT_EQ(wpo.ItemGetText(id, TWP::Field::kFrom), "Ann");
  EXPECT_EQ(wpo.ItemGetText(id, TWP::Field::kSubject), "Hello");
  EXPECT_EQ(wpo.ItemAttachmentGetCount(id), 2);
  wpo.ItemAttachmentSaveAs(id, 1, Path("doc1.asc"));
  EXPECT_EQ(testing::ReadFile(Path("doc1.asc")), "BBB");
  wpo.ItemOpen(id);
  EXPECT_EQ(wpo.ItemMessageIdFromView(TWP::Spelling::kMixed), id);
  EXPECT_FALSE(wpo.EnvCheckCurrentWindow(624));

  const std::string q = "\"";
  EXPECT_EQ(client_.transcript(),
            (std::vector<std::string>{
                "itemmessageidfromview()",
                "ItemSaveMessage(\"X00\";" + q + Path("temppgp") + q + ";AnsiText!)",
                "ItemAttachmentGetCount(\"X00\")",
                "ItemAttachmentSaveAs (\"X00\";0;" + q + Path("doc0") + q + ")",
                "ItemSetText(\"X00\"; Message!; \"\"; )",
                "ItemSetText(\"X00\"; Message!; \"say \"hi\"; now\";Yes! )",
                "ItemSetText(\"X00\"; Message!;\"\r\n\";Yes! )",
                "ItemSetText(\"X00\"; Message!; \"\";Yes! )\";Yes! )",
                "ItemSetText(\"X00\"; Message!;\"\r\n\";Yes! )",
                "ItemSetText(\"X00\"; Message!; \"(\\x\\) \"\"\";Yes! )",
                "ItemSetText(\"X00\"; Message!;\"\r\n\";Yes! )",
                "ItemSetText(\"X00\"; Message!; \"\"\";Yes! )",
                "AttachmentDelete(0)",
                "AttachmentAdd (" + q + Path("doc0.asc") + q + "; Yes!;)",
                "NewMail()",
                "envcheckcurrentwindow(624)",
                "itemlistcreatefromcontrol(219;1;)",
                "itemlistgetitem(1;0)",
                "itemlistdelete",
                "itemgettext(\"" + id + "\";from!)",
                "itemgettext(\"" + id + "\";Subject!)",
                "ItemAttachmentGetCount(\"" + id + "\")",
                "ItemAttachmentSaveAs (\"" + id + "\";1;" + q + Path("doc1.asc") + q + ")",
                "ItemOpen(" + id + ")",
                "ItemMessageIDFromView()",
                "envcheckcurrentwindow(624)",
            }));
}

// An ID or a file name is read up to the first quote (a bare one up to a separator): one that
// holds such a character would end its argument early, and is never sent.
TEST_F(ChannelTest, AnArgumentThatWouldEndEarlyIsNotSent) {
  client_.NewMail();
  TWP wpo(tp_.com);
  EXPECT_THROW(wpo.ItemSaveMessage(kNewItem, "C:\\a\";AnsiText!)"), Error);
  EXPECT_THROW(wpo.ItemGetText("X\"00", TWP::Field::kFrom), Error);
  EXPECT_THROW(wpo.ItemOpen("4711);NewMail("), Error);
  EXPECT_TRUE(client_.transcript().empty());
}

TEST_F(ChannelTest, AFailingCommandRaisesTheClientsDescriptionAndKeepsTheReply) {
  client_.NewMail();
  TWP wpo(tp_.com);
  wpo.ExecuteToken("itemmessageidfromview()");
  client_.FailCommandsStartingWith("ItemOpen", "The item cannot be opened");
  try {
    wpo.ExecuteToken("ItemOpen(4711)");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "The item cannot be opened");
  }
  EXPECT_EQ(wpo.ResultText, "X00");
  EXPECT_THROW(wpo.ExecuteToken("NoSuchCommand()"), Error);
  EXPECT_EQ(wpo.ResultText, "X00");
}

TEST_F(ChannelTest, WithoutTheClientTheChannelCannotBeMade) {
  client_.Revoke();
  try {
    TWP wpo(tp_.com);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Invalid class string");
  }
  client_.Register(tp_.com, tp_.registry);
  client_.FailCreation("GroupWiseCommander", ole::hr::kFail);
  try {
    TWP wpo(tp_.com);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Unspecified error");
  }
}

// A token object that answers only the ID query, so that other replies stay as they were.
class QuietCommander : public ole::AutoObject {
 public:
  QuietCommander() : AutoObject(Table()) {}
  static const ole::DispatchTable& Table() {
    static const ole::DispatchTable table =
        std::move(ole::DispatchTable("Commander").Method("execute", &QuietCommander::execute));
    return table;
  }
  std::int32_t execute(std::string& command, std::string& reply) {
    if (command == "itemmessageidfromview()") reply = "X00";
    command = "overwritten";
    return 7;
  }
};

TEST(TokenChannel, AReplyLeftUntouchedKeepsThePreviousOne) {
  testing::TestPlatform tp;
  std::uint32_t cookie = 0;
  tp.registry.SetValue("GroupWiseCommander\\Clsid", "{00000000-0000-0000-0000-000000000001}");
  tp.com.RegisterClassObject("{00000000-0000-0000-0000-000000000001}",
                             ole::MakeRef<ole::AutoObjectFactory>([] {
                               return ole::Ref<ole::Dispatch>(ole::MakeRef<QuietCommander>());
                             }),
                             &cookie);
  TWP wpo(tp.com);
  EXPECT_EQ(wpo.ResultText, "");
  wpo.ExecuteToken("itemmessageidfromview()");
  wpo.ExecuteToken("NewMail()");
  EXPECT_EQ(wpo.GetResult(), "X00");
  EXPECT_EQ(wpo.ResultCode, 7);
}

TEST_F(ChannelTest, ObjectApiReadsAMessageAndSendsANote) {
  Item received;
  received.sender = "Ann";
  received.subject = "Plans";
  received.body = "-----BEGIN PGP MESSAGE-----";
  const std::string id = client_.Deliver("me@example.com", received);

  ObjectApi api(tp_.com);
  api.Login();
  GwMessage message = api.GetMessage(id);
  EXPECT_EQ(message.BodyText(), "-----BEGIN PGP MESSAGE-----");
  EXPECT_EQ(message.MessageId(), id);

  GwMessage note = api.AddMailMessage();
  note.AddRecipient(api.Owner());
  note.SetFromText("PGP message from Ann");
  note.SetSubject("Plans");
  note.AssignBodyText("Decrypted.\r\n");
  note.SetBodyPlainText(note.BodyText() + "doc0 attached\r\n");
  std::ofstream(Path("temppgp")) << "plain text";
  note.AddAttachment(Path("temppgp"));
  std::filesystem::remove(Path("temppgp"));  // the client took the content at add
  const std::string sent_id = note.Send().MessageId();

  const Item& sent = client_.FindItem(sent_id);
  EXPECT_EQ(sent.sender, "PGP message from Ann");
  EXPECT_EQ(sent.subject, "Plans");
  EXPECT_EQ(sent.body, "Decrypted.\r\ndoc0 attached\r\n");
  EXPECT_EQ(sent.attachments, (std::vector<Attachment>{{"temppgp", "plain text"}}));
  EXPECT_EQ(sent.recipients, std::vector<std::string>{"me@example.com"});
  EXPECT_THROW(api.GetMessage("no such item"), Error);
}

// Records the order in which the program-wide references are released.
class Tracked : public ole::AutoObject {
 public:
  Tracked(std::string name, std::vector<std::string>& log)
      : AutoObject(Table()), name_(std::move(name)), log_(log) {}
  ~Tracked() override { log_.push_back(name_); }
  static const ole::DispatchTable& Table() {
    static const ole::DispatchTable table = ole::DispatchTable("Tracked");
    return table;
  }

 private:
  std::string name_;
  std::vector<std::string>& log_;
};

TEST(ObjectApiReferences, ReleasedAccountFirstThenKeyMessageThenSession) {
  testing::TestPlatform tp;
  std::vector<std::string> released;
  {
    ObjectApi api(tp.com);
    api.GwSession = ole::Value(ole::MakeRef<Tracked>("session", released));
    api.KeyMessage = ole::Value(ole::MakeRef<Tracked>("key message", released));
    api.GwAccount = ole::Value(ole::MakeRef<Tracked>("account", released));
  }
  EXPECT_EQ(released, (std::vector<std::string>{"account", "key message", "session"}));
}

}  // namespace
}  // namespace quillet::channel
