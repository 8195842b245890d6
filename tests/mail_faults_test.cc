// Encryption of the mail being composed under every fault that PGP or the mail client can show.
// For each one the message ends exactly as it was, completely encrypted, or (where the mail client
// refused to remove an original attachment) with both versions; no plain text stays in the PGP
// folder; and the user is told exactly what happened.
#include <sys/stat.h>

#include <functional>
#include <iostream>

#include "tests/ui_fixture.h"
#include "ui/encryption.h"
#include "ui/pgp2.h"

namespace quillet::ui {
namespace {

using Attachments = std::vector<mailsim::Attachment>;
using Texts = std::vector<std::string>;

constexpr char kBody[] = "line one\r\nline two";
const Attachments kOriginals = {{"a.txt", "A data"}, {"b.txt", "B data, longer than the body"}};

enum class Outcome { kUnchanged, kEncrypted, kBoth, kDamaged };

const char* Name(Outcome outcome) {
  switch (outcome) {
    case Outcome::kUnchanged:
      return "unchanged";
    case Outcome::kEncrypted:
      return "encrypted";
    case Outcome::kBoth:
      return "original and encrypted attachments";
    case Outcome::kDamaged:
      return "damaged";
  }
  return "?";
}

class MailFaultsTest : public testing::UiTest {
 protected:
  void SetUp() override {
    Configure();
    program_.Own(std::make_unique<TForm1>(program_)).window().Show();
    cipher_body_ = Armour(kBody);
    for (std::size_t i = 0; i < kOriginals.size(); ++i)
      encrypted_.push_back({"doc" + std::to_string(i) + ".asc", Armour(kOriginals[i].bytes)});
  }
  linux_platform::HeadlessWindow& Window() { return tp_.gui.Find("Form1"); }

  // A fresh mail with the body and the attachments, encrypted from the main window; returns the
  // messages the user saw.
  Texts Encrypt(std::size_t answers) {
    client_.NewMail();
    client_.TypeBody("line one\nline two");
    for (const mailsim::Attachment& attachment : kOriginals)
      client_.Attach(attachment.name, attachment.bytes);
    for (std::size_t i = 0; i < answers; ++i) tp_.gui.QueueAnswer(gui::Answer::kOk);
    const std::size_t shown = tp_.gui.messages().size();
    Window().UserSelect("RecipList", {0, 1});
    Window().UserSelect("SendList", {0});
    Window().UserType("Password", "pw");
    Window().UserClick("Encrypt");
    const Texts all = Messages();
    return Texts(all.begin() + static_cast<std::ptrdiff_t>(shown), all.end());
  }

  Outcome Observed() const {
    const mailsim::Item& item = client_.NewItem();
    if (item.body == kBody && item.attachments == kOriginals) return Outcome::kUnchanged;
    if (item.body != cipher_body_) return Outcome::kDamaged;
    if (item.attachments == encrypted_) return Outcome::kEncrypted;
    // Some originals at the front, every encrypted one after them.
    const std::size_t left = item.attachments.size() - encrypted_.size();
    const bool both = item.attachments.size() > encrypted_.size() && left <= kOriginals.size() &&
                      std::equal(kOriginals.end() - static_cast<std::ptrdiff_t>(left),
                                 kOriginals.end(), item.attachments.begin()) &&
                      std::equal(encrypted_.begin(), encrypted_.end(),
                                 item.attachments.begin() + static_cast<std::ptrdiff_t>(left));
    return both ? Outcome::kBoth : Outcome::kDamaged;
  }

  // The body is lost when the message holds neither its text nor its cipher text, and no whole
  // cipher text of it was kept aside.
  bool BodyLost() const {
    const std::string& body = client_.NewItem().body;
    return body != kBody && body != cipher_body_ &&
           testing::ReadFile(pgp_dir_ / "temppgp.asc") != cipher_body_;
  }

  // Attachments that are in the message neither as themselves nor encrypted.
  int AttachmentsLost() const {
    const Attachments& now = client_.NewItem().attachments;
    int lost = 0;
    for (std::size_t i = 0; i < kOriginals.size(); ++i) {
      const bool kept = std::find(now.begin(), now.end(), kOriginals[i]) != now.end() ||
                        std::find(now.begin(), now.end(), encrypted_[i]) != now.end();
      lost += kept ? 0 : 1;
    }
    return lost;
  }

  // Files of the PGP folder that hold plain text: by name, or by what is in them.
  Texts PlainTextLeft() const {
    Texts plain;
    for (const std::string& name : LeftInPgpDirectory()) {
      const std::string content = testing::ReadFile(pgp_dir_ / name);
      const bool named_plain =
          name == "temppgp" || (name.starts_with("doc") && !name.ends_with(".asc"));
      bool holds_plain = false;
      for (const char* text : {"line one", "A data", "B data"})
        holds_plain = holds_plain || content.find(text) != std::string::npos;
      if (named_plain || holds_plain) plain.push_back(name);
    }
    return plain;
  }

  std::string cipher_body_;
  Attachments encrypted_;
};

TEST_F(MailFaultsTest, TheMessageIsNeverWorseAndEveryFailureIsSaid) {
  // A clean run gives the commands of one encryption, and each step is then made to fail.
  EXPECT_EQ(Encrypt(0), Texts{});
  ASSERT_EQ(Observed(), Outcome::kEncrypted);
  const Texts clean(client_.transcript());

  struct Case {
    std::string what;
    std::function<void()> inject;
    Outcome outcome;
    Texts messages;
    std::string refused = "";  // the command whose refusal the message "Refused." tells
  };
  std::vector<Case> cases;
  const std::string kept = PgpPath() + "temppgp.asc";

  // PGP fails on the body or on one attachment, in every way a run can fail.
  const std::pair<std::string, std::string> targets[] = {{"temppgp", kTextNotEncrypted},
                                                         {"doc0", AttachmentNotEncrypted(1)},
                                                         {"doc1", AttachmentNotEncrypted(2)}};
  for (const std::string kind :
       {"nooutput", "exit", "empty", "truncated", "errortext", "directory", "killed", "split"}) {
    for (const auto& [target, message] : targets) {
      const std::string fault = kind + "@" + target;
      cases.push_back({"PGP " + fault,
                       [fault] { setenv("FAKEPGP_FAIL", fault.c_str(), 1); },
                       Outcome::kUnchanged,
                       {kind == "split" ? pgp::kSplitArmourMessage : message}});
    }
  }
  // A result left by an earlier run is not this run's.
  cases.push_back({"PGP writes nothing beside an earlier result",
                   [&] {
                     std::ofstream(pgp_dir_ / "doc0.asc", std::ios::binary) << encrypted_[0].bytes;
                     setenv("FAKEPGP_FAIL", "nooutput@doc0", 1);
                   },
                   Outcome::kUnchanged,
                   {AttachmentNotEncrypted(1)}});
  // The disk fills while the mail client saves the body, or the second attachment.
  for (const std::size_t room : {4, 24})
    cases.push_back({"disk full with room for " + std::to_string(room) + " bytes",
                     [this, room] { client_.LimitDiskSpace(room); },
                     Outcome::kUnchanged,
                     {"Disk full."}});

  // The mail client refuses each command of the encryption in turn.
  int deletes = 0;
  for (std::size_t k = 0; k < clean.size(); ++k) {
    const std::string& command = clean[k];
    Case c{"command " + std::to_string(k + 1) + " refused: " + command,
           [this, k] {
             client_.FailCommand(static_cast<int>(client_.transcript().size() + k + 1), "Refused");
           },
           Outcome::kUnchanged,
           {"Refused."},
           command.substr(0, command.find_first_of("( "))};
    if (command.starts_with("ItemSetText")) c.messages = {kTextPutBack};
    if (command.starts_with("AttachmentAdd")) c.messages = {kAttachmentsNotReplaced};
    if (command.starts_with("AttachmentDelete") && deletes++ == 0)
      c.messages = {kAttachmentsNotReplaced};
    else if (command.starts_with("AttachmentDelete")) {
      c.outcome = Outcome::kBoth;
      c.messages = {OriginalAttachmentsLeft(static_cast<int>(kOriginals.size()) - 1)};
    }
    cases.push_back(c);
  }
  // Whole kinds of command refused, so that putting things back fails too.
  const auto refuse = [this](const std::string& prefix) {
    return [this, prefix] { client_.FailCommandsStartingWith(prefix, "Refused"); };
  };
  cases.push_back({"every body command refused",
                   refuse("ItemSetText"),
                   Outcome::kUnchanged,
                   {TextNotPutBack(kept)}});
  cases.push_back({"every attachment add refused",
                   refuse("AttachmentAdd"),
                   Outcome::kUnchanged,
                   {kAttachmentsNotReplaced}});
  cases.push_back({"every attachment delete refused",
                   refuse("AttachmentDelete"),
                   Outcome::kBoth,
                   {kAttachmentsNotPutBack}});
  cases.push_back(
      {"the rebuild and then the original text refused",
       [this, refuse,
        k = std::find_if(clean.begin(), clean.end(),
                         [](const std::string& command) {
                           return command.starts_with("ItemSetText(\"X00\"; Message!; \"-----");
                         }) -
            clean.begin()] {
         client_.FailCommand(static_cast<int>(client_.transcript().size() + k + 1), "Refused");
         refuse("ItemSetText(\"X00\"; Message!; \"line one")();
       },
       Outcome::kDamaged,
       {TextNotPutBack(kept)}});

  // The mail client refuses a command by raising its description, or by answering FALSE.
  for (const bool answer_false : {false, true}) {
    SCOPED_TRACE(answer_false ? "refusals answer FALSE" : "refusals raise");
    client_.AnswerFalseForFaults(answer_false);
    int bodies_lost = 0, attachments_lost = 0, plain_files_left = 0;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      client_.ClearFaults();
      unsetenv("FAKEPGP_FAIL");
      // A run that was killed left plain text behind; the next operation removes it first.
      std::ofstream(pgp_dir_ / "temppgp", std::ios::binary) << kBody;
      std::ofstream(pgp_dir_ / "doc7", std::ios::binary) << kOriginals[0].bytes;
      c.inject();
      Texts messages = c.messages;
      for (std::string& message : messages)
        if (answer_false && message == "Refused.")
          message = "The mail client refused the command " + c.refused + ".";
      EXPECT_EQ(Encrypt(messages.size()), messages);
      EXPECT_EQ(Observed(), c.outcome) << Name(Observed());
      EXPECT_EQ(PlainTextLeft(), Texts{});
      for (const std::string& name : LeftInPgpDirectory())
        EXPECT_FALSE(name.ends_with(".as1") || name.ends_with(".as2")) << name;
      bodies_lost += BodyLost() ? 1 : 0;
      attachments_lost += AttachmentsLost();
      plain_files_left += static_cast<int>(PlainTextLeft().size());
      std::filesystem::remove(pgp_dir_ / "temppgp.asc");
    }
    EXPECT_EQ(bodies_lost, 0);
    EXPECT_EQ(attachments_lost, 0);
    EXPECT_EQ(plain_files_left, 0);
    std::cout << cases.size() << " fault cases, refusals "
              << (answer_false ? "answering FALSE" : "raising") << ": " << bodies_lost
              << " bodies lost, " << attachments_lost << " attachments lost, " << plain_files_left
              << " plain-text files left\n";
  }
}

// A body put back after a refused rebuild is the user's text byte for byte, whatever its lines
// hold that looks like the end of a quoted argument or of the command.
TEST_F(MailFaultsTest, ABodyPutBackIsTheUsersTextByteForByte) {
  const std::string text = "say \"hi\"; then\r\n\";Yes! )\r\n(\\x\\) \"\"\r\nC:\\PGP\\\r\n\"";
  client_.NewMail();
  client_.TypeBody(text);
  client_.FailCommandsStartingWith("ItemSetText(\"X00\"; Message!; \"-----", "Refused");
  tp_.gui.QueueAnswer(gui::Answer::kOk);
  Window().UserSelect("RecipList", {0});
  Window().UserSelect("SendList", {0});
  Window().UserClick("Encrypt");
  EXPECT_EQ(Messages(), Texts{kTextPutBack});
  EXPECT_EQ(client_.NewItem().body, text);
}

// While PGP runs, the saved body is the user's alone, and closing the main window does not pull
// the files from under the operation.
TEST_F(MailFaultsTest, ClosingTheWindowWhilePgpRunsLeavesTheOperationItsFiles) {
  setenv("FAKEPGP_DELAY", "0.3", 1);
  mode_t mode = 0;
  tp_.gui.QueueStep(
      [&] {
        struct stat info {};
        if (stat((pgp_dir_ / "temppgp").c_str(), &info) == 0) mode = info.st_mode & 0777;
        Window().UserClick("Quit");
      },
      /*while_busy=*/true);
  EXPECT_EQ(Encrypt(0), Texts{});
  EXPECT_EQ(mode, 0600u);
  EXPECT_FALSE(Window().Visible());
  EXPECT_EQ(Observed(), Outcome::kEncrypted);
  EXPECT_EQ(PlainTextLeft(), Texts{});
}

}  // namespace
}  // namespace quillet::ui
