// The simulated mail client: a mail store with one mailbox per user, the client's current view,
// and the registration of its two automation classes. Tests drive it as a user would through
// the C++ API below; the program reaches it only through the automation objects.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/com.h"
#include "platform/registry.h"

namespace quillet::mailsim {

inline constexpr char kCommanderProgId[] = "GroupWiseCommander";
inline constexpr char kSessionProgId[] = "NovellGroupWareSession";
inline constexpr char kCommanderClsid[] = "{7B3E9A41-5C2D-4F18-A6B0-2D94E1C7F305}";
inline constexpr char kSessionClsid[] = "{7B3E9A42-5C2D-4F18-A6B0-2D94E1C7F305}";

// The ID under which the item being composed in the current view is addressed.
inline constexpr char kNewItemId[] = "X00";
// The window kind of the item-list window and the number of its item-list control.
// A message body takes at most this many characters, through token commands or the object API;
// what goes beyond is dropped without a word, as GroupWise does.
inline constexpr std::size_t kBodyLimit = 32000;
inline constexpr std::int32_t kItemListWindow = 624;
inline constexpr std::int32_t kItemListControl = 219;
// The contexts in which the client opens its windows.
inline constexpr char kMessageContext[] = "GW.MESSAGE.MAIL";
inline constexpr char kBrowserContext[] = "GW.APPLICATION.BROWSER";

struct User {
  std::string address;
  std::string display_name;
};

struct Attachment {
  std::string name;  // the file name, without directory
  std::string bytes;
  bool operator==(const Attachment&) const = default;
};

// Every member has an initializer, so that designated initializers may name only some.
struct Item {
  std::string id{};
  std::string sender{};  // the sender text shown for the item
  std::string subject{};
  std::string body{};  // a line break is CR LF
  std::vector<Attachment> attachments{};
  std::vector<std::string> recipients{};  // addresses
  bool sent = false;
  bool operator==(const Item&) const = default;
};

// The text fields of an item that commands and the object API read and write by name.
enum class Field { kSender, kSubject, kBody };
std::string& FieldOf(Item& item, Field field);

// Reads a file into an attachment named after the file; raises Error when it cannot be read.
Attachment LoadAttachment(const std::string& path);

enum class ViewKind { kCompose, kOpenedItem, kItemList };

struct View {
  int serial = 0;  // counts the views opened; the item list the client starts with is 0
  ViewKind kind = ViewKind::kItemList;
  // kNewItemId when composing, the opened item, or the first selected item of the list ("" when
  // nothing is selected).
  std::string item_id;
  std::string context = kBrowserContext;
  bool operator==(const View&) const = default;
};

class MailClient {
 public:
  // The client starts logged in as `user`, showing the item list with nothing selected.
  explicit MailClient(User user);
  ~MailClient();
  MailClient(const MailClient&) = delete;
  MailClient& operator=(const MailClient&) = delete;

  // --- Users ---
  void AddUser(User user);
  // Logs in as another known user; the client then shows that user's item list.
  void SwitchUser(const std::string& address);
  const User& user() const;

  // --- What a user does ---
  // Opens a compose view with a new item; an earlier new item is dropped.
  void NewMail();
  // These act on the new item of the compose view. Typed line breaks ("\n" or "\r\n") become
  // CR LF in the body.
  void TypeSubject(const std::string& text);
  void TypeBody(const std::string& text);
  void AddressTo(const std::string& address);
  void Attach(std::string name, std::string bytes);
  // Sends the new item and returns to the item list; returns the sent item's ID.
  std::string SendNewMail();
  // Puts a received copy of `item` into the mailbox of `address`, with an ID of its own and the
  // sent flag cleared; returns that ID.
  std::string Deliver(const std::string& address, Item item);
  // Opens an item of the current user's mailbox.
  void OpenItem(const std::string& id);
  // Shows the item-list window with these items selected, in this order.
  void ShowItemList(std::vector<std::string> selection);
  // Called whenever a window opens, after the client has switched to it.
  void SetViewObserver(std::function<void(const View&)> observer);

  // --- Inspection ---
  const View& view() const { return view_; }
  // The item being composed; raises Error when the current view is not a compose view.
  const Item& NewItem() const;
  // The new item for kNewItemId, otherwise an item of the current user's mailbox.
  const Item& FindItem(const std::string& id) const;
  std::vector<Item> Mailbox(const std::string& address) const;
  // Every token-command text received, in order, failed ones included.
  const std::vector<std::string>& transcript() const { return transcript_; }

  // --- Faults ---
  // The command with this number (from 1, over the transcript) fails with `description`.
  void FailCommand(int number, std::string description);
  // Every command whose text starts with `name` (in any letter case) fails with `description`.
  void FailCommandsStartingWith(std::string name, std::string description);
  // Attachment counts are answered with `text` instead of the number.
  void AnswerAttachmentCount(std::string text);
  // Creating an object of `progid` fails with `code`.
  void FailCreation(const std::string& progid, ole::HResult code);
  // Saving a body or an attachment to a file writes at most `bytes` of it, then fails with
  // "Disk full", as a full disk would.
  void LimitDiskSpace(std::size_t bytes);
  // A failing command answers FALSE instead of raising its description, as GroupWise's Execute
  // may answer.
  void AnswerFalseForFaults(bool answer_false) { answer_false_ = answer_false; }
  bool answers_false_for_faults() const { return answer_false_; }
  // Takes back every fault set above but the way failing commands answer.
  void ClearFaults();

  // --- Registration ---
  // Registers both classes: the ProgIDs' "Clsid" keys in `registry` and the class objects in
  // `com`. Raises Error on failure. `com` and `registry` must outlive the registration, and the
  // client every call on its objects.
  void Register(ole::Com& com, Registry& registry);
  // Revokes what Register did; also done by the destructor.
  void Revoke();

  // --- Access for the automation objects ---
  Item& NewItem();
  Item& FindItem(const std::string& id);
  // An item of the current user's mailbox (not the new item).
  Item& StoredItem(const std::string& id);
  // The ID of the item that the current view shows: kNewItemId when composing.
  std::string ViewItemId() const;
  const std::vector<std::string>& selection() const { return selection_; }
  // Creates an unsent note in the current user's mailbox; returns its ID.
  std::string CreateNote();
  void AddRecipient(Item& item, const std::string& address);
  // Sends an item, delivering a copy to each recipient; returns the sent item's ID.
  std::string Send(const std::string& id);
  // Records a received command; returns the description it must fail with, if any.
  std::optional<std::string> RecordCommand(const std::string& text);
  const std::optional<std::string>& attachment_count_answer() const {
    return attachment_count_answer_;
  }
  ole::HResult CreationFault(const std::string& progid) const;
  const std::optional<std::size_t>& disk_space() const { return disk_space_; }

 private:
  struct Account {
    User user;
    // A deque keeps items in place while others are added during a call that holds one.
    std::deque<Item> items;
  };
  struct Registration {
    std::string progid;
    std::uint32_t cookie;
  };

  Account& AccountOf(const std::string& address);
  const Account& AccountOf(const std::string& address) const;
  std::string NextId();
  void Show(ViewKind kind, std::string item_id, std::string context);

  std::map<std::string, Account> accounts_;  // by address
  std::string current_;                      // the logged-in user's address
  View view_;
  std::optional<Item> new_item_;  // present exactly while a compose view is shown
  std::vector<std::string> selection_;
  std::function<void(const View&)> observer_;
  int next_id_ = 1;

  std::vector<std::string> transcript_;
  std::map<int, std::string> failing_numbers_;
  std::vector<std::pair<std::string, std::string>> failing_prefixes_;
  std::optional<std::string> attachment_count_answer_;
  std::map<std::string, ole::HResult> creation_faults_;
  std::optional<std::size_t> disk_space_;
  bool answer_false_ = false;

  ole::Com* com_ = nullptr;
  Registry* registry_ = nullptr;
  std::vector<Registration> registrations_;
};

}  // namespace quillet::mailsim
