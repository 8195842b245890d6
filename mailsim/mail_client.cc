#include "mailsim/mail_client.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "base/error.h"
#include "base/text.h"
#include "mailsim/commander.h"
#include "mailsim/object_api.h"
#include "platform/autoobject.h"

namespace quillet::mailsim {

using ole::HResult;
using ole::MakeRef;
using ole::Ref;
namespace hr = ole::hr;

std::string& FieldOf(Item& item, Field field) {
  switch (field) {
    case Field::kSender:
      return item.sender;
    case Field::kSubject:
      return item.subject;
    case Field::kBody:
      break;
  }
  return item.body;
}

Attachment LoadAttachment(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error("Cannot read file " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return Attachment{std::filesystem::path(path).filename().string(), bytes.str()};
}

namespace {

// A class object that can be told to refuse creation, as a client that is not running does.
class ClientFactory : public ole::ClassFactory {
 public:
  ClientFactory(const MailClient& client, std::string progid,
                std::function<Ref<ole::Dispatch>()> create)
      : client_(client),
        progid_(std::move(progid)),
        inner_(MakeRef<ole::AutoObjectFactory>(std::move(create))) {}

  HResult CreateInstance(bool aggregated, ole::Interface iid, Ref<ole::Dispatch>* object) override {
    if (HResult fault = client_.CreationFault(progid_); hr::Failed(fault)) return fault;
    return inner_->CreateInstance(aggregated, iid, object);
  }
  HResult LockServer(bool lock) override { return inner_->LockServer(lock); }

 private:
  const MailClient& client_;
  std::string progid_;
  Ref<ole::AutoObjectFactory> inner_;
};

// Typed line breaks, in either convention, become the body's CR LF.
std::string WithCrLf(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      out += "\r\n";
      if (text[i] == '\r') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

MailClient::MailClient(User user) : current_(user.address) {
  AddUser(std::move(user));
}

MailClient::~MailClient() {
  Revoke();
}

// --- Users ---

void MailClient::AddUser(User user) {
  const std::string address = user.address;
  accounts_.emplace(address, Account{std::move(user), {}});
}

void MailClient::SwitchUser(const std::string& address) {
  AccountOf(address);
  current_ = address;
  new_item_.reset();
  selection_.clear();
  Show(ViewKind::kItemList, "", kBrowserContext);
}

const User& MailClient::user() const {
  return AccountOf(current_).user;
}

MailClient::Account& MailClient::AccountOf(const std::string& address) {
  auto it = accounts_.find(address);
  if (it == accounts_.end()) throw Error("Unknown address: " + address);
  return it->second;
}

const MailClient::Account& MailClient::AccountOf(const std::string& address) const {
  return const_cast<MailClient*>(this)->AccountOf(address);
}

// --- What a user does ---

void MailClient::NewMail() {
  new_item_ = Item{.id = kNewItemId, .sender = user().display_name};
  selection_.clear();
  Show(ViewKind::kCompose, kNewItemId, kMessageContext);
}

void MailClient::TypeSubject(const std::string& text) {
  NewItem().subject += text;
}

void MailClient::TypeBody(const std::string& text) {
  NewItem().body += WithCrLf(text);
}

void MailClient::AddressTo(const std::string& address) {
  AddRecipient(NewItem(), address);
}

void MailClient::Attach(std::string name, std::string bytes) {
  NewItem().attachments.push_back(Attachment{std::move(name), std::move(bytes)});
}

std::string MailClient::SendNewMail() {
  return Send(kNewItemId);
}

std::string MailClient::Deliver(const std::string& address, Item item) {
  Account& account = AccountOf(address);
  item.id = NextId();
  item.sent = false;
  return account.items.emplace_back(std::move(item)).id;
}

void MailClient::OpenItem(const std::string& id) {
  StoredItem(id);
  new_item_.reset();
  selection_.clear();
  Show(ViewKind::kOpenedItem, id, kMessageContext);
}

void MailClient::ShowItemList(std::vector<std::string> selection) {
  for (const std::string& id : selection) StoredItem(id);
  new_item_.reset();
  selection_ = std::move(selection);
  Show(ViewKind::kItemList, selection_.empty() ? "" : selection_.front(), kBrowserContext);
}

void MailClient::SetViewObserver(std::function<void(const View&)> observer) {
  observer_ = std::move(observer);
}

void MailClient::Show(ViewKind kind, std::string item_id, std::string context) {
  view_ = View{view_.serial + 1, kind, std::move(item_id), std::move(context)};
  // A copy, since the observer may open another view while it looks at this one.
  if (observer_) observer_(View(view_));
}

// --- Items ---

Item& MailClient::NewItem() {
  if (!new_item_) throw Error("There is no new item in the current view");
  return *new_item_;
}

const Item& MailClient::NewItem() const {
  return const_cast<MailClient*>(this)->NewItem();
}

Item& MailClient::FindItem(const std::string& id) {
  if (id != kNewItemId) return StoredItem(id);
  if (!new_item_) throw Error("Item not found: " + id);
  return *new_item_;
}

const Item& MailClient::FindItem(const std::string& id) const {
  return const_cast<MailClient*>(this)->FindItem(id);
}

Item& MailClient::StoredItem(const std::string& id) {
  for (Item& item : AccountOf(current_).items)
    if (item.id == id) return item;
  throw Error("Item not found: " + id);
}

std::vector<Item> MailClient::Mailbox(const std::string& address) const {
  const std::deque<Item>& items = AccountOf(address).items;
  return {items.begin(), items.end()};
}

std::string MailClient::ViewItemId() const {
  if (view_.item_id.empty()) throw Error("No item is selected");
  return view_.item_id;
}

std::string MailClient::CreateNote() {
  return Deliver(current_, Item{.sender = user().display_name});
}

void MailClient::AddRecipient(Item& item, const std::string& address) {
  AccountOf(address);
  item.recipients.push_back(address);
}

std::string MailClient::Send(const std::string& id) {
  Item* item = &FindItem(id);
  if (item->sent) throw Error("The item has already been sent");
  if (item->recipients.empty()) throw Error("The item has no recipients");
  const bool composed = id == kNewItemId;
  if (composed) {
    Item note = std::move(*new_item_);
    new_item_.reset();
    note.id = NextId();
    item = &AccountOf(current_).items.emplace_back(std::move(note));
  }
  item->sent = true;
  for (const std::string& address : item->recipients) Deliver(address, *item);
  if (composed) Show(ViewKind::kItemList, "", kBrowserContext);
  return item->id;
}

std::string MailClient::NextId() {
  char id[16];
  std::snprintf(id, sizeof id, "4A1B.%04d", next_id_++);
  return id;
}

// --- Token commands and faults ---

std::optional<std::string> MailClient::RecordCommand(const std::string& text) {
  transcript_.push_back(text);
  auto numbered = failing_numbers_.find(static_cast<int>(transcript_.size()));
  if (numbered != failing_numbers_.end()) return numbered->second;
  for (const auto& [prefix, description] : failing_prefixes_)
    if (StartsWithIgnoreCase(text, prefix)) return description;
  return std::nullopt;
}

void MailClient::FailCommand(int number, std::string description) {
  failing_numbers_[number] = std::move(description);
}

void MailClient::FailCommandsStartingWith(std::string name, std::string description) {
  failing_prefixes_.emplace_back(std::move(name), std::move(description));
}

void MailClient::AnswerAttachmentCount(std::string text) {
  attachment_count_answer_ = std::move(text);
}

void MailClient::FailCreation(const std::string& progid, HResult code) {
  creation_faults_[progid] = code;
}

void MailClient::LimitDiskSpace(std::size_t bytes) {
  disk_space_ = bytes;
}

void MailClient::ClearFaults() {
  failing_numbers_.clear();
  failing_prefixes_.clear();
  attachment_count_answer_.reset();
  creation_faults_.clear();
  disk_space_.reset();
}

HResult MailClient::CreationFault(const std::string& progid) const {
  auto it = creation_faults_.find(progid);
  return it == creation_faults_.end() ? hr::kOk : it->second;
}

// --- Registration ---

void MailClient::Register(ole::Com& com, Registry& registry) {
  Revoke();
  com_ = &com;
  registry_ = &registry;
  struct Class {
    const char* progid;
    const char* clsid;
    std::function<Ref<ole::Dispatch>()> create;
  };
  const Class classes[] = {
      {kCommanderProgId, kCommanderClsid,
       [this] { return Ref<ole::Dispatch>(MakeRef<Commander>(*this)); }},
      {kSessionProgId, kSessionClsid,
       [this] { return Ref<ole::Dispatch>(MakeRef<Session>(*this)); }},
  };
  for (const Class& cls : classes) {
    std::uint32_t cookie = 0;
    const HResult r = com.RegisterClassObject(
        cls.clsid, MakeRef<ClientFactory>(*this, cls.progid, cls.create), &cookie);
    if (hr::Failed(r)) throw ole::OleError(r);
    registrations_.push_back(Registration{cls.progid, cookie});
    if (registry.SetValue(std::string(cls.progid) + "\\Clsid", cls.clsid) != 0)
      throw Error(std::string("Cannot register ") + cls.progid);
  }
}

void MailClient::Revoke() {
  for (const Registration& registration : registrations_) {
    com_->RevokeClassObject(registration.cookie);
    registry_->DeleteKey(registration.progid + "\\Clsid");
    registry_->DeleteKey(registration.progid);
  }
  registrations_.clear();
}

}  // namespace quillet::mailsim
