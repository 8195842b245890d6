// The mail client's object API ("NovellGroupWareSession"), called late-bound by name: the
// program-wide session and account, and the messages read and sent through them.
#pragma once

#include <string>

#include "platform/automation.h"
#include "platform/com.h"

namespace quillet::channel {

// A message of the object API.
class GwMessage {
 public:
  explicit GwMessage(ole::Value object) : object_(std::move(object)) {}

  // bodytext.plaintext
  std::string BodyText() const;
  // Assigns bodytext.
  void AssignBodyText(const std::string& text);
  // Assigns bodytext.plaintext.
  void SetBodyPlainText(const std::string& text);
  // Assigns subject.plaintext.
  void SetSubject(const std::string& text);
  std::string MessageId() const;
  void SetFromText(const std::string& text);
  void AddRecipient(const ole::Value& address);
  // The mail client takes the file's content at once.
  void AddAttachment(const std::string& path);
  // Sends the message; the result is the sent message.
  GwMessage Send();

  const ole::Value& object() const { return object_; }

 private:
  ole::Value object_;
};

// The program-wide references of the object API.
class ObjectApi {
 public:
  explicit ObjectApi(ole::Com& com) : com_(com) {}
  ~ObjectApi() { Release(); }

  // Creates a session and logs in, replacing the earlier session and account.
  void Login();
  // The stored message with this identifier.
  GwMessage GetMessage(const std::string& id);
  // A new, unsent mail message in the user's mailbox.
  GwMessage AddMailMessage();
  // The user's own address.
  ole::Value Owner();
  // Releases the account, the key message and the session, in that order.
  void Release();

  ole::Value GwSession;
  ole::Value GwAccount;
  ole::Value KeyMessage;

 private:
  ole::Com& com_;
};

}  // namespace quillet::channel
