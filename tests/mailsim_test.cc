// The simulated mail client, used the way the program uses it: its objects are created by ProgID
// and every call crosses the dispatch interface by name.
#include "mailsim/mail_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mailsim/c3pohost.h"
#include "platform/linux/file_registry.h"
#include "platform/linux/process_com.h"
#include "tests/test_platform.h"

namespace quillet::mailsim {
namespace {

using ole::Value;
namespace hr = ole::hr;

const User kAnn{"ann@example.com", "Ann Archer"};
const User kBob{"bob@example.com", "Bob Baker"};
constexpr char kUntouched[] = "(untouched)";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The description of the error that `call` raises.
std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

// What a failing command must leave as it was.
struct Snapshot {
  View view;
  std::optional<Item> new_item;
  std::vector<Item> ann;
  std::vector<Item> bob;
  bool operator==(const Snapshot&) const = default;
};

class MailSimTest : public ::testing::Test {
 protected:
  MailSimTest() {
    client_.AddUser(kBob);
    client_.Register(com_, registry_);
    commander_ = com_.CreateOleObject(kCommanderProgId);
  }

  // Sends a command as the program does, with `reply` as the reply variable's earlier value.
  std::string Execute(const std::string& command, std::string reply = kUntouched) {
    std::string text = command;
    ole::Call(commander_, "execute", {Value(&text), Value(&reply)});
    return reply;
  }

  // Sends a command that must fail; checks that it was recorded and changed nothing, and returns
  // the error's description.
  std::string Fails(const std::string& command) {
    const Snapshot before = Snap();
    std::string text = command;
    std::string reply = kUntouched;
    const std::string error = ErrorOf([&] {
      ole::Call(commander_, "execute", {Value(&text), Value(&reply)});
    });
    EXPECT_EQ(reply, kUntouched) << command;
    EXPECT_TRUE(Snap() == before) << command;
    EXPECT_EQ(client_.transcript().back(), command);
    return error;
  }

  Snapshot Snap() const {
    std::optional<Item> new_item;
    if (client_.view().kind == ViewKind::kCompose) new_item = client_.NewItem();
    return {client_.view(), new_item, client_.Mailbox(kAnn.address), client_.Mailbox(kBob.address)};
  }

  std::string Path(const std::string& name) const { return (dir_.path() / name).string(); }

  testing::TempDir dir_;
  linux_platform::FileRegistry registry_{(dir_.path() / "registry.reg").string()};
  linux_platform::ProcessCom com_{registry_};
  MailClient client_{kAnn};
  ole::Ref<ole::Dispatch> commander_;
};

TEST_F(MailSimTest, ItemOfTheCurrentViewInEachKindOfView) {
  const std::string id = client_.Deliver(kAnn.address, Item{.sender = "Bob", .subject = "Hi"});
  // The client starts in the item list with nothing selected.
  EXPECT_EQ(Execute("envcheckcurrentwindow(624)"), "TRUE");
  EXPECT_EQ(Fails("ItemMessageIDFromView()"), "No item is selected");

  client_.ShowItemList({id});
  EXPECT_EQ(Execute("ItemMessageIDFromView()"), id);
  EXPECT_EQ(Execute("envcheckcurrentwindow(625)"), "FALSE");

  std::string text = "NewMail()";
  std::string reply = kUntouched;
  // Told to, the client answers FALSE for a command it refuses, and does nothing.
  client_.FailCommandsStartingWith("NewMail", "Refused");
  client_.AnswerFalseForFaults(true);
  EXPECT_EQ(ole::Get(commander_, "execute", {Value(&text), Value(&reply)}), Value(false));
  EXPECT_EQ(client_.view().kind, ViewKind::kItemList);
  client_.ClearFaults();
  EXPECT_EQ(ole::Get(commander_, "execute", {Value(&text), Value(&reply)}), Value(true));
  EXPECT_EQ(reply, kUntouched);
  EXPECT_EQ(client_.view().kind, ViewKind::kCompose);
  EXPECT_EQ(client_.NewItem().sender, kAnn.display_name);
  EXPECT_EQ(Execute("itemmessageidfromview()"), "X00");
  EXPECT_EQ(Execute("ItemMessageIDFromView()"), "X00");
  EXPECT_EQ(Execute("envcheckcurrentwindow(624)"), "FALSE");

  EXPECT_EQ(Execute("ItemOpen(" + id + ")"), kUntouched);
  EXPECT_EQ(client_.view().kind, ViewKind::kOpenedItem);
  EXPECT_EQ(Execute("itemmessageidfromview()"), id);
  EXPECT_EQ(Execute("envcheckcurrentwindow(624)"), "FALSE");
  EXPECT_EQ(Fails("ItemSetText(\"X00\"; Message!; \"\"; )"), "Item not found: X00");
}

TEST_F(MailSimTest, ObserverSeesEachWindowAsItOpensAndMayCallBack) {
  const std::string id = client_.Deliver(kAnn.address, Item{.sender = "Bob"});
  std::vector<View> seen;
  std::vector<std::string> replies;
  client_.SetViewObserver([&](const View& view) {
    seen.push_back(view);
    replies.push_back(Execute("envcheckcurrentwindow(624)"));
  });
  Execute("NewMail()");
  client_.OpenItem(id);
  client_.ShowItemList({id});
  Execute("ItemOpen(" + id + ")");
  EXPECT_EQ(seen, (std::vector<View>{{1, ViewKind::kCompose, "X00", "GW.MESSAGE.MAIL"},
                                     {2, ViewKind::kOpenedItem, id, "GW.MESSAGE.MAIL"},
                                     {3, ViewKind::kItemList, id, "GW.APPLICATION.BROWSER"},
                                     {4, ViewKind::kOpenedItem, id, "GW.MESSAGE.MAIL"}}));
  EXPECT_EQ(replies, (std::vector<std::string>{"FALSE", "FALSE", "TRUE", "FALSE"}));
}

TEST_F(MailSimTest, ItemListOfTheSelection) {
  const std::string first = client_.Deliver(kAnn.address, Item{.subject = "first"});
  const std::string second = client_.Deliver(kAnn.address, Item{.subject = "second"});
  client_.ShowItemList({second, first});

  const std::string handle = Execute("itemlistcreatefromcontrol(219;1;)");
  EXPECT_EQ(Execute("itemlistgetitem(" + handle + ";0)"), second);
  EXPECT_EQ(Execute("itemlistgetitem(" + handle + ";1)"), first);
  EXPECT_EQ(Fails("itemlistgetitem(" + handle + ";2)"), "Item list index out of range: 2");
  EXPECT_EQ(Execute("itemlistdelete"), kUntouched);
  EXPECT_EQ(Fails("itemlistgetitem(" + handle + ";0)"), "Item list not found: " + handle);
  EXPECT_EQ(Fails("itemlistdelete"), "There is no item list");

  const std::string next = Execute("itemlistcreatefromcontrol(219;1;)");
  EXPECT_NE(next, handle);
  EXPECT_EQ(Fails("itemlistgetitem(" + handle + ";0)"), "Item list not found: " + handle);
  EXPECT_EQ(Fails("itemlistcreatefromcontrol(218;1;)"), "The current window has no control 218");
  EXPECT_EQ(Fails("itemlistcreatefromcontrol(219;2;)"), "Unsupported item list kind: 2");
  EXPECT_EQ(Fails("itemlistcreatefromcontrol(219;;)"),
            "itemlistcreatefromcontrol: argument 2 is not a number");
  EXPECT_EQ(Fails("itemlistcreatefromcontrol(219)"),
            "itemlistcreatefromcontrol: wrong number of arguments");

  client_.ShowItemList({});
  const std::string empty = Execute("itemlistcreatefromcontrol(219;1;)");
  EXPECT_EQ(Fails("itemlistgetitem(" + empty + ";0)"), "Item list index out of range: 0");

  client_.NewMail();
  EXPECT_EQ(Fails("itemlistcreatefromcontrol(219;1;)"), "The current window has no control 219");
}

TEST_F(MailSimTest, SenderAndSubjectTexts) {
  const std::string subject = "Keys; \"new\" ones";
  const std::string id =
      client_.Deliver(kAnn.address, Item{.sender = "Bob Baker", .subject = subject});
  EXPECT_EQ(Execute("itemgettext(\"" + id + "\";from!)"), "Bob Baker");
  EXPECT_EQ(Execute("itemgettext(\"" + id + "\";Subject!)"), subject);
  EXPECT_EQ(Fails("itemgettext(\"4A1B.9999\";from!)"), "Item not found: 4A1B.9999");
  EXPECT_EQ(Fails("itemgettext(\"" + id + "\";To!)"),
            "itemgettext: argument 2 is not one of from!, Subject!, Message!");
  EXPECT_EQ(Fails("itemgettext(\"" + id + "\")"), "itemgettext: wrong number of arguments");
  EXPECT_EQ(Fails("itemgettext(\"" + id + ";from!)"), "itemgettext: unterminated text");
}

TEST_F(MailSimTest, BodyIsSavedAsTextWithCrLf) {
  client_.NewMail();
  client_.TypeBody("Dear Bob,\nsee below.\r\nAnn\n");
  Execute("ItemSaveMessage(\"X00\";\"" + Path("temppgp") + "\";AnsiText!)");
  EXPECT_EQ(ReadFile(Path("temppgp")), "Dear Bob,\r\nsee below.\r\nAnn\r\n");

  EXPECT_EQ(Fails("ItemSaveMessage(\"X00\";\"" + Path("never") + "\";RichText!)"),
            "ItemSaveMessage: argument 3 is not one of AnsiText!");
  EXPECT_EQ(Fails("ItemSaveMessage(\"X00\";" + Path("never") + ";AnsiText!)"),
            "ItemSaveMessage: argument 2 is not quoted text");
  EXPECT_FALSE(std::filesystem::exists(Path("never")));
  const std::string unwritable = Path("no/such/folder");
  EXPECT_EQ(Fails("ItemSaveMessage(\"X00\";\"" + unwritable + "\";AnsiText!)"),
            "Cannot write file " + unwritable);
}

TEST_F(MailSimTest, BodyIsEmptiedAndFilledLineByLine) {
  client_.NewMail();
  client_.TypeBody("plain text");
  Execute("ItemSetText(\"X00\"; Message!; \"\"; )");
  EXPECT_EQ(client_.NewItem().body, "");

  // Lines go in unchanged, also when they look like the end of the command.
  const std::vector<std::string> lines = {"-----BEGIN PGP MESSAGE-----", "",
                                          "say \"hi\"; then \"bye\";Yes! )", "\""};
  std::string expected;
  for (const std::string& line : lines) {
    Execute("ItemSetText(\"X00\"; Message!; \"" + line + "\";Yes! )");
    Execute("ItemSetText(\"X00\"; Message!;\"\r\n\";Yes! )");
    expected += line + "\r\n";
  }
  EXPECT_EQ(client_.NewItem().body, expected);
  Execute("ItemSaveMessage(\"X00\";\"" + Path("temppgp") + "\";AnsiText!)");
  EXPECT_EQ(ReadFile(Path("temppgp")), expected);

  // The body takes 32,000 characters, and drops what goes beyond without a word.
  Execute("ItemSetText(\"X00\"; Message!; \"" + std::string(31998, 'x') + "\"; )");
  Execute("ItemSetText(\"X00\"; Message!; \"abc\";Yes! )");
  EXPECT_EQ(client_.NewItem().body, std::string(31998, 'x') + "ab");

  EXPECT_EQ(Fails("ItemSetText(\"X00\"; Message!; \"abc\";Maybe! )"),
            "ItemSetText: argument 4 is not one of No!, Yes!");
  EXPECT_EQ(Fails("ItemSetText(\"X00\"; Message!; abc;Yes! )"),
            "ItemSetText: argument 3 is not quoted text");
  EXPECT_EQ(Fails("ItemSetText(\"X00\"; Message!; \"abc;Yes! )"),
            "ItemSetText: argument 3 is not quoted text");
  EXPECT_EQ(Fails("ItemSetText(\"X00\"; Message!)"), "ItemSetText: wrong number of arguments");
  EXPECT_EQ(Fails("ItemSetText(\"4A1B.9999\"; Message!; \"abc\";Yes! )"),
            "Item not found: 4A1B.9999");
  EXPECT_EQ(Fails("ItemSetText(\"X00\"; Message!; \"abc\";Yes! "),
            "Syntax error: ItemSetText(\"X00\"; Message!; \"abc\";Yes! ");
}

TEST_F(MailSimTest, AttachmentsOfTheNewItemSavedDeletedAndAdded) {
  const std::string binary("%PDF\0\x01\xff", 7);
  client_.NewMail();
  client_.Attach("report.pdf", binary);
  client_.Attach("notes.txt", "notes");
  EXPECT_EQ(Execute("ItemAttachmentGetCount(\"X00\")"), "2");
  Execute("ItemAttachmentSaveAs (\"X00\";0;\"" + Path("doc0") + "\")");
  Execute("ItemAttachmentSaveAs (\"X00\";1;\"" + Path("doc1") + "\")");
  EXPECT_EQ(ReadFile(Path("doc0")), binary);
  EXPECT_EQ(ReadFile(Path("doc1")), "notes");
  EXPECT_EQ(Fails("ItemAttachmentSaveAs (\"X00\";2;\"" + Path("doc2") + "\")"),
            "Attachment index out of range: 2");
  EXPECT_EQ(Fails("ItemAttachmentSaveAs (\"X00\";x;\"" + Path("doc2") + "\")"),
            "ItemAttachmentSaveAs: argument 2 is not a number");

  Execute("AttachmentDelete(0)");
  EXPECT_EQ(client_.NewItem().attachments, (std::vector<Attachment>{{"notes.txt", "notes"}}));
  Execute("AttachmentDelete(0)");
  EXPECT_EQ(Execute("ItemAttachmentGetCount(\"X00\")"), "0");
  EXPECT_EQ(Fails("AttachmentDelete(0)"), "Attachment index out of range: 0");

  // The file is read when the command comes, not later.
  WriteFile(Path("doc0.asc"), "armour 0");
  WriteFile(Path("doc1.asc"), "armour 1");
  Execute("AttachmentAdd (\"" + Path("doc0.asc") + "\"; Yes!;)");
  Execute("AttachmentAdd (\"" + Path("doc1.asc") + "\"; Yes!;)");
  WriteFile(Path("doc0.asc"), "changed");
  EXPECT_EQ(client_.NewItem().attachments,
            (std::vector<Attachment>{{"doc0.asc", "armour 0"}, {"doc1.asc", "armour 1"}}));
  const std::string missing = Path("missing.asc");
  EXPECT_EQ(Fails("AttachmentAdd (\"" + missing + "\"; Yes!;)"), "Cannot read file " + missing);
  EXPECT_EQ(Fails("AttachmentAdd (\"" + Path("doc0.asc") + "\"; Maybe!;)"),
            "AttachmentAdd: argument 2 is not one of Yes!, No!");
}

TEST_F(MailSimTest, AttachmentsOfAReceivedItem) {
  const std::string id = client_.Deliver(
      kAnn.address, Item{.attachments = {{"a.pgp", "armour a"}, {"b.pgp", "armour b"}}});
  EXPECT_EQ(Execute("ItemAttachmentGetCount(\"" + id + "\")"), "2");
  Execute("ItemAttachmentSaveAs (\"" + id + "\";1;\"" + Path("doc1.asc") + "\")");
  EXPECT_EQ(ReadFile(Path("doc1.asc")), "armour b");
  // Only a new item's attachments can be changed.
  client_.OpenItem(id);
  EXPECT_EQ(Fails("AttachmentDelete(0)"), "There is no new item in the current view");
  EXPECT_EQ(Fails("AttachmentAdd (\"" + Path("doc1.asc") + "\"; Yes!;)"),
            "There is no new item in the current view");
}

TEST_F(MailSimTest, MalformedCommandsFailAndChangeNothing) {
  client_.NewMail();
  client_.TypeBody("body");
  client_.Attach("a.txt", "a");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Frobnicate()", "Unknown command: Frobnicate"},
      {"(1)", "Unknown command: (1)"},
      {"NewMail(", "Syntax error: NewMail("},
      {"NewMail() x", "Syntax error: NewMail() x"},
      {"NewMail(1)", "NewMail: wrong number of arguments"},
      {"envcheckcurrentwindow(abc)", "envcheckcurrentwindow: argument 1 is not a number"},
      {"envcheckcurrentwindow(\"624\")", "envcheckcurrentwindow: argument 1 is not a number"},
      {"envcheckcurrentwindow()", "envcheckcurrentwindow: wrong number of arguments"},
      {"ItemAttachmentGetCount(\"4A1B.9999\")", "Item not found: 4A1B.9999"},
      {"ItemAttachmentGetCount(\"\")", "ItemAttachmentGetCount: argument 1 is not an item ID"},
      {"ItemOpen(4A1B.9999)", "Item not found: 4A1B.9999"},
      {"ItemOpen(X00)", "Item not found: X00"},
      {"ItemOpen()", "ItemOpen: wrong number of arguments"},
      {"AttachmentDelete(1)", "Attachment index out of range: 1"},
      {"AttachmentDelete(-1)", "Attachment index out of range: -1"},
  };
  for (const auto& [command, description] : cases) EXPECT_EQ(Fails(command), description);
}

TEST_F(MailSimTest, TranscriptHoldsEveryCommandTextInOrder) {
  Execute("envcheckcurrentwindow(624)");
  Execute("NewMail()");
  Fails("Bogus");
  Execute("ItemSetText(\"X00\"; Message!;\"\r\n\";Yes! )");
  // Another commander, as a second window of the program has, adds to the same transcript.
  const ole::Ref<ole::Dispatch> other = com_.CreateOleObject(kCommanderProgId);
  std::string command = "itemlistdelete";
  std::string reply;
  EXPECT_THROW(ole::Call(other, "execute", {Value(&command), Value(&reply)}), ole::OleError);
  EXPECT_EQ(Execute("ItemMessageIDFromView()"), "X00");
  EXPECT_EQ(client_.transcript(),
            (std::vector<std::string>{"envcheckcurrentwindow(624)", "NewMail()", "Bogus",
                                      "ItemSetText(\"X00\"; Message!;\"\r\n\";Yes! )",
                                      "itemlistdelete", "ItemMessageIDFromView()"}));
}

TEST_F(MailSimTest, InjectedFaults) {
  client_.FailCommand(2, "The client is busy");
  client_.FailCommandsStartingWith("ItemSetText", "The item is read-only");
  Execute("NewMail()");
  EXPECT_EQ(Fails("itemmessageidfromview()"), "The client is busy");
  EXPECT_EQ(Execute("itemmessageidfromview()"), "X00");
  EXPECT_EQ(Fails("itemsettext(\"X00\"; Message!; \"\"; )"), "The item is read-only");

  client_.AnswerAttachmentCount("many");
  EXPECT_EQ(Execute("ItemAttachmentGetCount(\"X00\")"), "many");
  EXPECT_EQ(Fails("ItemAttachmentGetCount(\"4A1B.9999\")"), "Item not found: 4A1B.9999");

  client_.FailCreation(kCommanderProgId, hr::kFail);
  ole::Ref<ole::Dispatch> object;
  EXPECT_EQ(com_.CreateObject(kCommanderProgId, &object), hr::kFail);
  EXPECT_FALSE(object);
  EXPECT_EQ(com_.CreateObject(kSessionProgId, &object), hr::kOk);
  EXPECT_TRUE(object);
  EXPECT_EQ(Execute("envcheckcurrentwindow(624)"), "FALSE");  // the existing one works on
}

TEST_F(MailSimTest, RegistrationAndRevocation) {
  EXPECT_EQ(registry_.QueryValue("GroupWiseCommander\\Clsid"), kCommanderClsid);
  EXPECT_EQ(registry_.QueryValue("NovellGroupWareSession\\Clsid"), kSessionClsid);
  EXPECT_TRUE(com_.CreateOleObject("NovellGroupWareSession"));

  client_.Revoke();
  EXPECT_EQ(registry_.QueryValue("GroupWiseCommander\\Clsid"), std::nullopt);
  EXPECT_EQ(registry_.QueryValue("GroupWiseCommander"), std::nullopt);
  EXPECT_EQ(registry_.QueryValue("NovellGroupWareSession\\Clsid"), std::nullopt);
  ole::Ref<ole::Dispatch> object;
  EXPECT_EQ(com_.CreateObject(kCommanderProgId, &object), hr::kInvalidClassString);
  EXPECT_EQ(com_.CreateObject(kSessionProgId, &object), hr::kInvalidClassString);
  // A class object that is gone, with its registry entry left behind.
  registry_.SetValue("GroupWiseCommander\\Clsid", kCommanderClsid);
  EXPECT_EQ(com_.CreateObject(kCommanderProgId, &object), hr::kClassNotRegistered);

  client_.Register(com_, registry_);
  EXPECT_EQ(com_.CreateObject(kCommanderProgId, &object), hr::kOk);
}

TEST_F(MailSimTest, MailboxesAndSendingFromTheComposeView) {
  client_.NewMail();
  client_.TypeSubject("Keys");
  client_.TypeBody("Here it is.\n");
  client_.AddressTo(kBob.address);
  client_.Attach("key.asc", "armour");
  EXPECT_EQ(ErrorOf([&] { client_.AddressTo("eve@example.com"); }),
            "Unknown address: eve@example.com");
  const std::string sent = client_.SendNewMail();
  EXPECT_EQ(client_.view().kind, ViewKind::kItemList);
  EXPECT_NE(sent, "X00");

  const Item note{.sender = kAnn.display_name,
                  .subject = "Keys",
                  .body = "Here it is.\r\n",
                  .attachments = {{"key.asc", "armour"}},
                  .recipients = {kBob.address}};
  const std::vector<Item> ann = client_.Mailbox(kAnn.address);
  ASSERT_EQ(ann.size(), 1u);
  Item expected = note;
  expected.id = sent;
  expected.sent = true;
  EXPECT_EQ(ann[0], expected);
  const std::vector<Item> bob = client_.Mailbox(kBob.address);
  ASSERT_EQ(bob.size(), 1u);
  expected.id = bob[0].id;
  expected.sent = false;
  EXPECT_EQ(bob[0], expected);
  EXPECT_NE(bob[0].id, sent);

  // Commands see the mailbox of the user logged in.
  EXPECT_EQ(Fails("ItemOpen(" + bob[0].id + ")"), "Item not found: " + bob[0].id);
  client_.SwitchUser(kBob.address);
  Execute("ItemOpen(" + bob[0].id + ")");
  EXPECT_EQ(Execute("itemgettext(\"" + bob[0].id + "\";from!)"), kAnn.display_name);
  EXPECT_EQ(Fails("ItemOpen(" + sent + ")"), "Item not found: " + sent);
}

class MailSimObjectApiTest : public MailSimTest {
 protected:
  MailSimObjectApiTest() {
    session_ = com_.CreateOleObject(kSessionProgId);
    account_ = ole::Get(session_, "Login");
  }

  Value GetMessage(std::string id) { return ole::Get(account_, "getmessage", {Value(&id)}); }
  Value NewNote() {
    return ole::Get(ole::Get(ole::Get(account_, "mailbox"), "messages"), "add",
                    {"GW.MESSAGE.MAIL"});
  }

  Value session_;
  Value account_;
};

TEST_F(MailSimObjectApiTest, ReadsAndWritesAStoredMessage) {
  EXPECT_EQ(ole::Get(account_, "owner"), Value(kAnn.address));
  const std::string id = client_.Deliver(
      kAnn.address, Item{.sender = "Bob", .subject = "Secret", .body = "armour\r\n"});
  const Value message = GetMessage(id);
  EXPECT_EQ(ole::Get(message, "messageid"), Value(id));
  EXPECT_EQ(ole::Get(ole::Get(message, "subject"), "plaintext"), Value("Secret"));
  EXPECT_EQ(ole::Get(message, "fromtext"), Value("Bob"));

  // The text object is a live view of the body.
  const Value body = ole::Get(message, "bodytext");
  EXPECT_EQ(ole::Get(body, "plaintext"), Value("armour\r\n"));
  Execute("ItemSetText(\"" + id + "\"; Message!; \"changed\"; )");
  EXPECT_EQ(ole::Get(body, "plaintext"), Value("changed"));
  ole::Put(body, "plaintext", "put");
  EXPECT_EQ(client_.FindItem(id).body, "put");
  ole::Put(message, "bodytext", "assigned");
  EXPECT_EQ(client_.FindItem(id).body, "assigned");

  EXPECT_EQ(ErrorOf([&] { GetMessage("4A1B.9999"); }), "Item not found: 4A1B.9999");
  client_.NewMail();
  EXPECT_EQ(ErrorOf([&] { GetMessage("X00"); }), "Item not found: X00");
}

TEST_F(MailSimObjectApiTest, BuildsAndSendsANoteWhoseFilesAreGoneBeforeSending) {
  const Value note = NewNote();
  const std::string note_id = ole::Get(note, "messageid").AsString();
  ole::Call(ole::Get(note, "recipients"), "add", {ole::Get(account_, "owner")});
  ole::Put(note, "fromtext", "PGP message from Bob");
  ole::Put(ole::Get(note, "subject"), "plaintext", "Secret");
  ole::Put(note, "bodytext", "Decrypted.\r\n");
  for (const char* name : {"temppgp", "doc0"}) {
    std::string path = Path(name);
    WriteFile(path, std::string("plain ") + name);
    ole::Call(ole::Get(note, "attachments"), "add", {Value(&path)});
    std::filesystem::remove(path);
  }
  const Value body = ole::Get(note, "bodytext");
  ole::Put(body, "plaintext", ole::Get(body, "plaintext").AsString() + "doc0 attached\r\n");

  const Value sent = ole::Get(note, "send");
  const std::string sent_id = ole::Get(sent, "messageid").AsString();
  EXPECT_EQ(sent_id, note_id);
  const std::vector<Item> mailbox = client_.Mailbox(kAnn.address);
  ASSERT_EQ(mailbox.size(), 2u);
  const Item expected{.sender = "PGP message from Bob",
                      .subject = "Secret",
                      .body = "Decrypted.\r\ndoc0 attached\r\n",
                      .attachments = {{"temppgp", "plain temppgp"}, {"doc0", "plain doc0"}},
                      .recipients = {kAnn.address}};
  Item sent_item = expected;
  sent_item.id = sent_id;
  sent_item.sent = true;
  EXPECT_EQ(mailbox[0], sent_item);
  Item received = expected;
  received.id = mailbox[1].id;
  EXPECT_EQ(mailbox[1], received);

  // Token commands take the sent message's ID.
  Execute("ItemOpen(" + sent_id + ")");
  EXPECT_EQ(client_.view().kind, ViewKind::kOpenedItem);
  EXPECT_EQ(client_.view().item_id, sent_id);
  EXPECT_EQ(Execute("itemgettext(\"" + sent_id + "\";from!)"), "PGP message from Bob");
  EXPECT_EQ(ErrorOf([&] { ole::Call(note, "send"); }), "The item has already been sent");
}

TEST_F(MailSimObjectApiTest, FailingCalls) {
  EXPECT_EQ(ErrorOf([&] {
              ole::Get(ole::Get(ole::Get(account_, "mailbox"), "messages"), "add",
                       {"GW.MESSAGE.NOTE"});
            }),
            "Unknown message class: GW.MESSAGE.NOTE");
  const Value note = NewNote();
  EXPECT_EQ(client_.Mailbox(kAnn.address).size(), 1u);
  EXPECT_EQ(ErrorOf([&] { ole::Call(note, "send"); }), "The item has no recipients");
  EXPECT_EQ(ErrorOf([&] { ole::Call(ole::Get(note, "recipients"), "add", {"eve@example.com"}); }),
            "Unknown address: eve@example.com");
  std::string missing = Path("missing");
  EXPECT_EQ(ErrorOf([&] { ole::Call(ole::Get(note, "attachments"), "add", {Value(&missing)}); }),
            "Cannot read file " + missing);
  EXPECT_EQ(client_.Mailbox(kAnn.address)[0],
            (Item{.id = client_.Mailbox(kAnn.address)[0].id, .sender = kAnn.display_name}));
}

// AddBefore places an entry before a position counted from 0 or before a caption; left out, or
// passed as omitted, it appends, as does AddMenu's command.
TEST(SimulatedMenus, AddBeforeIsOptionalAndNamesWhereTheEntryGoes) {
  std::list<MenuEntry> bar(2);
  bar.front().caption = "&File";
  bar.back().caption = "&Help";
  const Value items = ole::Get(MenuObject(bar), "MenuItems");
  ole::Call(items, "Add", {"a", Value()});
  ole::Call(items, "Add", {"b", Value(), 1});
  ole::Call(items, "Add", {"c", Value(), "&Help"});
  ole::Call(items, "AddSeparator", {Value::Omitted()});
  ole::Get(items, "AddMenu", {"d"});
  EXPECT_THROW(ole::Call(items, "Add", {"e", Value(), 1, 2}), ole::OleError);
  std::vector<std::string> captions;
  for (const MenuEntry& entry : bar) captions.push_back(entry.separator ? "-" : entry.caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"&File", "b", "c", "&Help", "a", "-", "d"}));
}

}  // namespace
}  // namespace quillet::mailsim
