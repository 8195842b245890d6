#include "channel/gwapi.h"

namespace quillet::channel {

using ole::Get;
using ole::Put;
using ole::Value;

std::string GwMessage::BodyText() const {
  return ole::Convert(Get(Get(object_, "bodytext"), "plaintext"), ole::VarType::kString).AsString();
}

void GwMessage::AssignBodyText(const std::string& text) {
  Put(object_, "bodytext", text);
}

void GwMessage::SetBodyPlainText(const std::string& text) {
  Put(Get(object_, "bodytext"), "plaintext", text);
}

void GwMessage::SetSubject(const std::string& text) {
  Put(Get(object_, "subject"), "plaintext", text);
}

std::string GwMessage::MessageId() const {
  return ole::Convert(Get(object_, "messageid"), ole::VarType::kString).AsString();
}

void GwMessage::SetFromText(const std::string& text) {
  Put(object_, "fromtext", text);
}

void GwMessage::AddRecipient(const Value& address) {
  ole::Call(Get(object_, "recipients"), "add", {address});
}

void GwMessage::AddAttachment(const std::string& path) {
  std::string by_reference = path;
  ole::Call(Get(object_, "attachments"), "add", {Value(&by_reference)});
}

GwMessage GwMessage::Send() {
  return GwMessage(Get(object_, "send"));
}

void ObjectApi::Login() {
  GwSession = Value(com_.CreateOleObject("NovellGroupWareSession"));
  GwAccount = Get(GwSession, "Login");
}

GwMessage ObjectApi::GetMessage(const std::string& id) {
  std::string by_reference = id;
  return GwMessage(Get(GwAccount, "getmessage", {Value(&by_reference)}));
}

GwMessage ObjectApi::AddMailMessage() {
  return GwMessage(Get(Get(Get(GwAccount, "mailbox"), "messages"), "add", {"GW.MESSAGE.MAIL"}));
}

Value ObjectApi::Owner() {
  return Get(GwAccount, "owner");
}

void ObjectApi::Release() {
  GwAccount = Value();
  KeyMessage = Value();
  GwSession = Value();
}

}  // namespace quillet::channel
