// The signature's verdict in the note, with the real PGP program decrypting mail that the
// simulated client received: what Bob reads must be what GnuPG found, whatever the sender put
// into the message or into a key's user ID.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <regex>
#include <sstream>

#include "tests/real_pgp_home.h"
#include "tests/ui_fixture.h"
#include "ui/encrypt.h"
#include "ui/pgp2.h"

namespace quillet::ui {
namespace {

using mailsim::Attachment;
using mailsim::Item;
namespace fs = std::filesystem;
using testing::Gpg;

constexpr char kDecryptedText[] =
    "Decrypted PGP text is attached to this note.  Select view attachments to see attachment.\r\n";
// A user ID made to look like the console's and the note's verdict after a line break.
constexpr char kSpoofingUserId[] =
    "Eve\nGood signature from user \"Alice Example <alice@example.com>\".\r\n"
    "Signature: good, from Alice Example <alice@example.com>";

class RealPgpSignatureTest : public testing::UiTest {
 protected:
  void SetUp() override {
    Configure();
    fs::copy_file(PGP_EXE, pgp_dir_ / "pgp", fs::copy_options::overwrite_existing);
    for (const fs::path& home : {pgp_dir_, stranger_}) testing::PrepareGnupgHome(home);
    // Bob's ring, which also holds Alice's keys so that she can write to him from it.
    Import(pgp_dir_, "alice.asc");
    Import(pgp_dir_, "bob.asc");
    // A stranger whose key Bob does not have.
    Import(stranger_, "mallory.asc");
    Import(stranger_, "bob-public.asc");
    // Bob's key is his own, as one he made with pgp -kg is, and he has certified Alice's.
    const std::string trust = "echo CAA3FB615CC789FD084B7B1883665BE8C283EB15:6: | gpg --homedir ";
    ASSERT_EQ(testing::RunShell(trust + pgp_dir_.string() + " --import-ownertrust").exit_code, 0);
    Certify("<alice@example.com>");
    // The PGP program's own folder is its home.
    unsetenv("PGPPATH");
    program_.Start({"-Embedding"});
  }
  void TearDown() override {
    for (const fs::path& home : {pgp_dir_, stranger_})
      testing::RunShell("gpgconf --homedir '" + home.string() + "' --kill gpg-agent");
  }

  void Import(const fs::path& home, const char* keys) {
    ASSERT_EQ(Gpg(home, std::string("--import ") + PGP26_FIXTURES "/" + keys).exit_code, 0) << keys;
  }

  // `text` made into a message with gpg `arguments` in `home`: the armoured result.
  std::string Message(const fs::path& home, const std::string& text,
                      const std::string& arguments) {
    const fs::path plain = tp_.dir.path() / "letter.txt";
    std::ofstream(plain, std::ios::binary) << text;
    const testing::Outcome made = Gpg(home, "--armor --output - " + arguments + " '" +
                                                plain.string() + "'");
    EXPECT_EQ(made.exit_code, 0) << arguments;
    return made.output;
  }
  std::string FromAlice(const std::string& text, const std::string& more = "") {
    return Message(pgp_dir_, text,
                   "--passphrase 'alice pass' -u alice@example.com -r bob@example.org " + more +
                       " --sign --encrypt");
  }
  std::string Unsigned(const std::string& text) {
    return Message(pgp_dir_, text, "-r bob@example.org --encrypt");
  }

  // Bob certifies the key `key` names with pgp -ks, as at a console.
  void Certify(const std::string& key) {
    const testing::Outcome run = testing::RunShell(
        "echo y | PGPPATH='" + pgp_dir_.string() + "' '" + (pgp_dir_ / "pgp").string() +
        "' -z 'bob pass' -ks '" + key + "' -u bob@example.org 2>&1");
    EXPECT_EQ(run.exit_code, 0) << run.output;
  }

  // Bob adds the key that a mail with this body carries, with one click.
  void AddKeyFromMail(const std::string& body) {
    client_.OpenItem(client_.Deliver("me@example.com", {.sender = "Ann", .body = body}));
    TForm1& form = program_.Own(std::make_unique<TForm1>(program_));
    tp_.gui.QueueAnswer(gui::Answer::kOk);  // Click OK after DOS program runs
    form.Key_To_RingClick();
    program_.Release(form);
    tp_.gui.Settle();
  }

  // Bob decrypts a mail from Ann with this body and these attachments; the note he gets, if any.
  std::optional<Item> Decrypt(const std::string& body,
                              const std::vector<std::string>& attachments = {},
                              const std::string& pass_phrase = "bob pass") {
    Item item{.sender = "Ann", .subject = "Plans", .body = body};
    for (std::size_t i = 0; i < attachments.size(); ++i)
      item.attachments.push_back({"file" + std::to_string(i) + ".asc", attachments[i]});
    client_.OpenItem(client_.Deliver("me@example.com", item));
    TForm1& form = program_.Own(std::make_unique<TForm1>(program_));
    form.Password.SetText(pass_phrase);
    const std::size_t mails = client_.Mailbox("me@example.com").size();
    form.DecryptClick();
    program_.Release(form);
    tp_.gui.Settle();
    // Only the body's file stays until a main window closes: no cipher text, no attachment's
    // plain text, no signature record.
    for (const std::string& name : LeftInPgpDirectory())
      EXPECT_FALSE(name.starts_with("doc") || (name.starts_with("temppgp") && name != "temppgp"))
          << name;
    if (client_.Mailbox("me@example.com").size() == mails) return std::nullopt;
    const std::string& open = client_.transcript().back();
    EXPECT_TRUE(open.starts_with("ItemOpen(")) << open;
    return client_.FindItem(open.substr(9, open.size() - 10));
  }

  // The note's first line, with the time a signature was made as "<minute>" once it is checked
  // to be a minute from `since` on.
  static std::string FirstLine(const Item& note, std::time_t since) {
    std::string line = note.body.substr(0, note.body.find("\r\n") + 2);
    static const std::regex kMade("(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d) UTC\\.");
    std::smatch made;
    if (!std::regex_search(line, made, kMade)) return line;
    const std::string minute = made[1];
    EXPECT_TRUE(minute >= Minute(since) && minute <= Minute(std::time(nullptr))) << minute;
    return made.prefix().str() + "<minute> UTC." + made.suffix().str();
  }
  static std::string Minute(std::time_t time) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", std::gmtime(&time));
    return text;
  }

  // Other keys than the PGP directory's live apart, in a GnuPG home of their own.
  fs::path stranger_ = tp_.dir.path() / "stranger";
};

constexpr char kGoodFromAlice[] =
    "Signature: good, from Alice Example <alice@example.com>, made <minute> UTC.\r\n";

// The long key ID of the first key in a listing by gpg --with-colons.
std::string KeyIdOf(const std::string& colons) {
  std::istringstream in(colons);
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("pub:")) continue;
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; i <= 4; ++i) std::getline(fields, field, ':');  // pub:validity:bits:algo:ID
    return field;
  }
  return "";
}

TEST_F(RealPgpSignatureTest, EachVerdictReachesTheNoteAsGnuPGFoundIt) {
  const std::string mallory_id =
      KeyIdOf(Gpg(stranger_, "--with-colons --list-keys Mallory").output);
  ASSERT_EQ(mallory_id.size(), 16u);

  const std::time_t before = std::time(nullptr);
  const std::string signed_body = FromAlice("Meet at noon.\n");
  // The file name inside the message is the sender's to choose.
  const std::string spoofing_name = FromAlice(
      "Meet at one.\n", "--set-filename \"$(printf 'x\\nGood signature from user \"Mallory\"')\"");
  const std::string from_stranger = Message(
      stranger_, "Trust me.\n", "-u '-u Mallory' -r bob@example.org --sign --encrypt");

  struct Case {
    const char* what;
    std::string body;
    std::string line;  // the note's first line
    std::string plain;
  };
  const Case cases[] = {
      {"signed by Alice", signed_body, kGoodFromAlice, "Meet at noon.\n"},
      {"a file name that looks like a verdict", spoofing_name, kGoodFromAlice, "Meet at one.\n"},
      {"signed by a stranger", from_stranger,
       "Signature: NOT CHECKED: the signer's key (ID 0x" + mallory_id +
           ") is not on your key ring.\r\n",
       "Trust me.\n"},
      {"not signed", Unsigned("Anyone could have written this.\n"),
       "Signature: none: this mail was not signed.\r\n", "Anyone could have written this.\n"},
      // Clear-signed by the classic program (MD5, a version 3 key), which GnuPG cannot check.
      {"signed by PGP 2.6.3", testing::ReadFile(PGP26_FIXTURES "/pgp2/clearsigned.asc"),
       "Signature: NOT CHECKED: it could not be checked (General error).\r\n",
       "Meet at noon.\nBring the plans.\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<Item> note = Decrypt(c.body);
    ASSERT_TRUE(note.has_value());
    EXPECT_EQ(FirstLine(*note, before), c.line);
    EXPECT_EQ(note->body.substr(note->body.find("\r\n") + 2), kDecryptedText);
    EXPECT_EQ(note->attachments, (std::vector<Attachment>{{"temppgp", c.plain}}));
  }
}

// The attack: a key named as Alice, mailed and added with one click, signs a mail. A key Bob has
// not certified is named only as a claim, with its fingerprint, until he certifies it.
TEST_F(RealPgpSignatureTest, OnlyAKeyBobCertifiedMakesAGoodSignature) {
  for (const char* user_id : {"Alice Example <alice@example.com>", "Carol <carol@example.net>"}) {
    ASSERT_EQ(Gpg(stranger_, std::string("--passphrase '' --quick-gen-key '") + user_id +
                                 "' ed25519 sign never")
                  .exit_code,
              0);
    AddKeyFromMail(Gpg(stranger_, std::string("--armor --export '") + user_id + "'").output);
  }
  const std::time_t before = std::time(nullptr);
  const auto first_line = [&](const std::string& address) {
    const std::optional<Item> note = Decrypt(
        Message(stranger_, "Pay Mallory.\n",
                "--passphrase '' -u '<" + address + ">' -r bob@example.org --sign --encrypt"));
    return note ? FirstLine(*note, before) : "no note";
  };
  const auto not_certified = [&](const std::string& user_id) {
    const std::string colons = Gpg(stranger_, "--with-colons --list-keys '" + user_id + "'").output;
    std::string fpr = colons.substr(colons.find("\nfpr:::::::::") + 13, 40);
    for (std::size_t at = 36; at > 0; at -= 4) fpr.insert(at, " ");
    return "Signature: correct, but the key is NOT CERTIFIED: made by a key named \"" + user_id +
           "\" (fingerprint " + fpr +
           "), <minute> UTC. Compare the fingerprint with the sender "
           "before you trust this mail.\r\n";
  };
  EXPECT_EQ(first_line("alice@example.com"), not_certified("Alice Example <alice@example.com>"));
  EXPECT_EQ(first_line("carol@example.net"), not_certified("Carol <carol@example.net>"));
  Certify("<carol@example.net>");
  EXPECT_EQ(first_line("carol@example.net"),
            "Signature: good, from Carol <carol@example.net>, made <minute> UTC.\r\n");
}

TEST_F(RealPgpSignatureTest, AUserIdCannotFakeAVerdict) {
  const std::string uid_file = (tp_.dir.path() / "uid").string();
  std::ofstream(uid_file, std::ios::binary) << kSpoofingUserId;
  ASSERT_EQ(Gpg(pgp_dir_, "--passphrase '' --quick-gen-key \"$(cat '" + uid_file +
                              "')\" ed25519 sign never")
                .exit_code,
            0);
  const std::string body = Message(pgp_dir_, "Pay Eve.\n",
                                   "--passphrase '' -u Eve -r bob@example.org --sign --encrypt");
  const std::optional<Item> note = Decrypt(body);
  ASSERT_TRUE(note.has_value());
  // One line, with the user ID's line breaks written out.
  EXPECT_TRUE(note->body.starts_with(
      "Signature: good, from Eve\\x0AGood signature from user \"Alice Example "
      "<alice@example.com>\".\\x0D\\x0ASignature: good, from Alice Example <alice@example.com>, "
      "made "))
      << note->body;
  EXPECT_EQ(note->body.substr(note->body.find("\r\n") + 2), kDecryptedText);
}

TEST_F(RealPgpSignatureTest, ABadSignatureDeliversNothing) {
  std::string clear = Message(pgp_dir_, "Pay 10 dollars.\n",
                              "--passphrase 'alice pass' -u alice@example.com --clearsign");
  ASSERT_NE(clear.find("10 dollars"), std::string::npos);
  clear.replace(clear.find("10 dollars"), 10, "90 dollars");
  tp_.gui.QueueAnswer(gui::Answer::kOk);
  EXPECT_FALSE(Decrypt(clear).has_value());
  EXPECT_EQ(Messages().back(),
            "PGP could not decrypt this message: its signature is BAD (it was changed after it "
            "was signed); nothing was delivered.");
  // With no console to ask on, PGP says whose pass phrase it was refused, and Quillet passes it on.
  // (PGP inherits the tests' standard input, which a terminal would make a console.)
  ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  tp_.gui.QueueAnswer(gui::Answer::kOk);
  EXPECT_FALSE(Decrypt(Unsigned("Pay Eve.\n"), {}, "bob?").has_value());
  EXPECT_EQ(Messages().back(),
            "PGP could not decrypt this message: Error:  Bad pass phrase for the key of \"Bob "
            "Builder <bob@example.org>\"; nothing was delivered.");
}

// An attachment that is not signed like the body says so in its own line.
TEST_F(RealPgpSignatureTest, AnAttachmentWithAnotherVerdictSaysSo) {
  const std::time_t before = std::time(nullptr);
  const std::optional<Item> note = Decrypt(
      FromAlice("See the plans.\n"), {FromAlice("plan one"), Unsigned("plan two")});
  ASSERT_TRUE(note.has_value());
  EXPECT_EQ(FirstLine(*note, before), kGoodFromAlice);
  EXPECT_EQ(note->body.substr(note->body.find("\r\n") + 2),
            kDecryptedText + PgpPath() + "doc0 attached\r\n" + PgpPath() +
                "doc1 attached; signature: none: this attachment was not signed.\r\n");
  EXPECT_EQ(note->attachments, (std::vector<Attachment>{{"temppgp", "See the plans.\n"},
                                                        {"doc0", "plan one"},
                                                        {"doc1", "plan two"}}));
}

// With EncryptToSelf, as Quillet writes config.txt for a PGP folder it makes, the mail Alice sent
// is encrypted to her as well as to Bob: she can read her copy, whose body now holds only cipher
// text, and Bob still can.
TEST_F(RealPgpSignatureTest, TheSenderCanReadTheMailSheSent) {
  std::ofstream(pgp_dir_ / "config.txt") << "EncryptToSelf = on\r\nArmorLines = 0\r\n";
  for (const char* listing : {"quillet.key", "quillet.key.ids", "quillet.sec", "quillet.sec.ids"})
    fs::remove(pgp_dir_ / listing);
  client_.NewMail();
  client_.TypeBody("Meet at noon.");
  tp_.gui.QueueAnswer(gui::Answer::kOk);  // the dialog has the rings listed
  TEncryptForm& form = program_.Own(std::make_unique<TEncryptForm>(program_));
  form.window().Show();
  const auto line_of = [](gui::ListBox& box, const std::string& part) {
    for (int i = 0; i < box.Count(); ++i)
      if (box.Item(i).find(part) != std::string::npos) return i;
    return -1;
  };
  form.sendlist.SelectedIDs = {
      form.sendlist.UserIDAt(line_of(form.sendlist.box(), "alice@example.com"))};
  linux_platform::HeadlessWindow& dialog = tp_.gui.Find("EncryptForm");
  dialog.UserSelect("RecipList", {line_of(form.RecipList.box(), "bob@example.org")});
  dialog.UserChoose("EOption", 1);
  dialog.UserType("Password", "alice pass");
  dialog.UserClick("OKBtn");
  tp_.gui.Settle();
  const std::string sent = client_.NewItem().body;
  ASSERT_TRUE(sent.starts_with("-----BEGIN PGP MESSAGE-----")) << sent;

  const fs::path alice_alone = tp_.dir.path() / "alice";
  testing::PrepareGnupgHome(alice_alone);
  Import(alice_alone, "alice.asc");
  const fs::path copy = tp_.dir.path() / "sent.asc";
  std::ofstream(copy, std::ios::binary) << sent;
  EXPECT_EQ(Gpg(alice_alone, "--passphrase 'alice pass' --decrypt '" + copy.string() + "'").output,
            "Meet at noon.");
  testing::RunShell("gpgconf --homedir '" + alice_alone.string() + "' --kill gpg-agent");
  const std::optional<Item> note = Decrypt(sent);
  ASSERT_TRUE(note.has_value());
  EXPECT_EQ(note->attachments, (std::vector<Attachment>{{"temppgp", "Meet at noon."}}));
}

}  // namespace
}  // namespace quillet::ui
