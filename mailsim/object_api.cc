#include "mailsim/object_api.h"

#include <string>
#include <utility>

#include "base/error.h"
#include "base/text.h"

namespace quillet::mailsim {

using ole::DispatchTable;
using ole::MakeRef;
using ole::Value;

namespace {

// Writable properties take their new value through a put_ member, after COM's naming.

// One text field of a message.
class Text : public ole::AutoObject {
 public:
  Text(MailClient& client, std::string id, Field field)
      : AutoObject(Table()), client_(client), id_(std::move(id)), field_(field) {}
  static const DispatchTable& Table() {
    static const DispatchTable table = std::move(
        DispatchTable("Text").Property("plaintext", &Text::plaintext, &Text::put_plaintext));
    return table;
  }

  std::string plaintext() { return FieldOf(client_.StoredItem(id_), field_); }
  void put_plaintext(const std::string& text) { FieldOf(client_.StoredItem(id_), field_) = text; }

 private:
  MailClient& client_;
  std::string id_;
  Field field_;
};

class RecipientList : public ole::AutoObject {
 public:
  RecipientList(MailClient& client, std::string id)
      : AutoObject(Table()), client_(client), id_(std::move(id)) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("Recipients").Method("add", &RecipientList::add));
    return table;
  }

  // Returns the address added.
  std::string add(const Value& address) {
    const std::string text = ole::Convert(address, ole::VarType::kString).AsString();
    client_.AddRecipient(client_.StoredItem(id_), text);
    return text;
  }

 private:
  MailClient& client_;
  std::string id_;
};

class AttachmentList : public ole::AutoObject {
 public:
  AttachmentList(MailClient& client, std::string id)
      : AutoObject(Table()), client_(client), id_(std::move(id)) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("Attachments").Method("add", &AttachmentList::add));
    return table;
  }

  // The file's content is taken now: the caller may delete the file before the message is sent.
  // Returns the attachment's name.
  std::string add(std::string& path) {
    Item& item = client_.StoredItem(id_);
    Attachment attachment = LoadAttachment(path);
    const std::string name = attachment.name;
    item.attachments.push_back(std::move(attachment));
    return name;
  }

 private:
  MailClient& client_;
  std::string id_;
};

class Message : public ole::AutoObject {
 public:
  Message(MailClient& client, std::string id)
      : AutoObject(Table()), client_(client), id_(std::move(id)) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("Message")
                      .Property("bodytext", &Message::bodytext, &Message::put_bodytext)
                      .Property("subject", &Message::subject)
                      .Property("messageid", &Message::messageid)
                      .Property("recipients", &Message::recipients)
                      .Property("fromtext", &Message::fromtext, &Message::put_fromtext)
                      .Property("attachments", &Message::attachments)
                      .Method("send", &Message::send));
    return table;
  }

  Value bodytext() { return TextOf(Field::kBody); }
  void put_bodytext(const std::string& text) {
    client_.StoredItem(id_).body = text.substr(0, kBodyLimit);
  }
  Value subject() { return TextOf(Field::kSubject); }
  std::string messageid() { return client_.StoredItem(id_).id; }
  Value recipients() { return Value(MakeRef<RecipientList>(client_, id_)); }
  std::string fromtext() { return client_.StoredItem(id_).sender; }
  void put_fromtext(const std::string& text) { client_.StoredItem(id_).sender = text; }
  Value attachments() { return Value(MakeRef<AttachmentList>(client_, id_)); }
  Value send() { return Value(MakeRef<Message>(client_, client_.Send(id_))); }

 private:
  Value TextOf(Field field) { return Value(MakeRef<Text>(client_, id_, field)); }

  MailClient& client_;
  std::string id_;
};

class MessageList : public ole::AutoObject {
 public:
  explicit MessageList(MailClient& client) : AutoObject(Table()), client_(client) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("Messages").Method("add", &MessageList::add));
    return table;
  }

  // A new, unsent message in the mailbox.
  Value add(const std::string& message_class) {
    if (!EqualsIgnoreCase(message_class, kMessageContext))
      throw Error("Unknown message class: " + message_class);
    return Value(MakeRef<Message>(client_, client_.CreateNote()));
  }

 private:
  MailClient& client_;
};

class Folder : public ole::AutoObject {
 public:
  explicit Folder(MailClient& client) : AutoObject(Table()), client_(client) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("Folder").Property("messages", &Folder::messages));
    return table;
  }

  Value messages() { return Value(MakeRef<MessageList>(client_)); }

 private:
  MailClient& client_;
};

class Account : public ole::AutoObject {
 public:
  explicit Account(MailClient& client) : AutoObject(Table()), client_(client) {}
  static const DispatchTable& Table() {
    static const DispatchTable table = std::move(DispatchTable("Account")
                                                     .Method("getmessage", &Account::getmessage)
                                                     .Property("mailbox", &Account::mailbox)
                                                     .Property("owner", &Account::owner));
    return table;
  }

  Value getmessage(std::string& id) {
    return Value(MakeRef<Message>(client_, client_.StoredItem(id).id));
  }
  Value mailbox() { return Value(MakeRef<Folder>(client_)); }
  std::string owner() { return client_.user().address; }

 private:
  MailClient& client_;
};

}  // namespace

Session::Session(MailClient& client) : AutoObject(Table()), client_(client) {}

const DispatchTable& Session::Table() {
  static const DispatchTable table =
      std::move(DispatchTable("Session").Method("Login", &Session::Login));
  return table;
}

Value Session::Login() {
  return Value(MakeRef<Account>(client_));
}

}  // namespace quillet::mailsim
