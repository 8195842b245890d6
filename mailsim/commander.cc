#include "mailsim/commander.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <utility>

#include "base/error.h"
#include "base/text.h"

namespace quillet::mailsim {

namespace {

// A command is a name, optionally followed by its arguments in parentheses, separated by
// semicolons. An argument is text in double quotes, a constant ending in "!", a number or an
// item ID.
struct Argument {
  std::string text;
  bool quoted = false;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Whether the text after a closing quote shows that the quoted argument ended there.
bool EndsArgument(std::string_view after) {
  after = TrimLeft(after);
  return after.empty() || after.front() == ';';
}

// Drops the ";" that ends an argument, if one follows.
void SkipSeparator(std::string_view& rest) {
  if (!rest.empty()) rest.remove_prefix(1);
}

// Takes one argument off the front of `rest`, with the ";" that ends it. A quoted argument ends
// at the first quote followed by ";" or by the end, so that quotes inside it survive.
Argument TakeArgument(std::string_view& rest, std::string_view name) {
  rest = TrimLeft(rest);
  Argument arg;
  if (!rest.empty() && rest.front() == '"') {
    std::size_t close = 0;
    do {
      close = rest.find('"', close + 1);
      if (close == std::string_view::npos) throw Error(std::string(name) + ": unterminated text");
    } while (!EndsArgument(rest.substr(close + 1)));
    arg = Argument{std::string(rest.substr(1, close - 1)), true};
    rest = TrimLeft(rest.substr(close + 1));
  } else {
    const std::size_t end = std::min(rest.find(';'), rest.size());
    arg = Argument{std::string(Trim(rest.substr(0, end))), false};
    rest = rest.substr(end);
  }
  SkipSeparator(rest);
  return arg;
}

std::vector<Argument> SplitArguments(std::string_view raw, std::string_view name) {
  std::vector<Argument> args;
  while (!TrimLeft(raw).empty()) args.push_back(TakeArgument(raw, name));
  return args;
}

// The arguments of one command, taken as the types its parameters have.
class Arguments {
 public:
  Arguments(std::string_view name, std::vector<Argument> args)
      : name_(name), args_(std::move(args)) {}
  Arguments(std::string_view name, std::string_view raw)
      : Arguments(name, SplitArguments(raw, name)) {}

  void ExpectCount(std::size_t min, std::size_t max) const {
    if (args_.size() < min || args_.size() > max)
      throw Error(name_ + ": wrong number of arguments");
  }
  void ExpectCount(std::size_t count) const { ExpectCount(count, count); }
  std::size_t size() const { return args_.size(); }

  std::int32_t Number(std::size_t i) const {
    const std::string& text = args_[i].text;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (args_[i].quoted || text.empty() || error != std::errc() || end != text.data() + text.size())
      Invalid(i, "is not a number");
    return value;
  }
  const std::string& Text(std::size_t i) const {
    if (!args_[i].quoted) Invalid(i, "is not quoted text");
    return args_[i].text;
  }
  // Item IDs are taken with or without quotes.
  const std::string& ItemId(std::size_t i) const {
    if (args_[i].text.empty()) Invalid(i, "is not an item ID");
    return args_[i].text;
  }
  // A constant such as Yes!, in any letter case; returns its index in `allowed`.
  std::size_t Constant(std::size_t i, const std::vector<std::string_view>& allowed) const {
    if (!args_[i].quoted) {
      for (std::size_t k = 0; k < allowed.size(); ++k)
        if (EqualsIgnoreCase(args_[i].text, allowed[k])) return k;
    }
    std::string list;
    for (std::string_view constant : allowed)
      list += (list.empty() ? "" : ", ") + std::string(constant);
    Invalid(i, "is not one of " + list);
  }

 private:
  [[noreturn]] void Invalid(std::size_t i, const std::string& why) const {
    throw Error(name_ + ": argument " + std::to_string(i + 1) + " " + why);
  }

  std::string name_;
  std::vector<Argument> args_;
};

// In the order of Field.
const std::vector<std::string_view> kFields = {"from!", "Subject!", "Message!"};

const Attachment& AttachmentAt(const Item& item, std::int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= item.attachments.size())
    throw Error("Attachment index out of range: " + std::to_string(index));
  return item.attachments[index];
}

// Writes as much of `bytes` as the disk has room for; a file that does not fit is left cut short.
void WriteFile(const std::string& path, const std::string& bytes,
               const std::optional<std::size_t>& room) {
  const std::size_t size = room ? std::min(*room, bytes.size()) : bytes.size();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(size)).flush())
    throw Error("Cannot write file " + path);
  if (size < bytes.size()) throw Error("Disk full");
}

}  // namespace

Commander::Commander(MailClient& client) : AutoObject(Table()), client_(client) {}

const ole::DispatchTable& Commander::Table() {
  static const ole::DispatchTable table =
      std::move(ole::DispatchTable("Commander").Method("execute", &Commander::execute));
  return table;
}

bool Commander::execute(std::string& command, std::string& reply) {
  // A copy: the caller's variable may change while the command runs.
  const std::string text = command;  // NOLINT(performance-unnecessary-copy-initialization)
  if (std::optional<std::string> fault = client_.RecordCommand(text)) {
    if (client_.answers_false_for_faults()) return false;
    throw Error(*fault);
  }

  struct Entry {
    std::string_view name;
    Handler handler;
  };
  static const Entry kCommands[] = {
      {"ItemMessageIDFromView", &Commander::ItemMessageIdFromView},
      {"NewMail", &Commander::NewMail},
      {"EnvCheckCurrentWindow", &Commander::EnvCheckCurrentWindow},
      {"ItemListCreateFromControl", &Commander::ItemListCreateFromControl},
      {"ItemListGetItem", &Commander::ItemListGetItem},
      {"ItemListDelete", &Commander::ItemListDelete},
      {"ItemGetText", &Commander::ItemGetText},
      {"ItemOpen", &Commander::ItemOpen},
      {"ItemSaveMessage", &Commander::ItemSaveMessage},
      {"ItemSetText", &Commander::ItemSetText},
      {"ItemAttachmentGetCount", &Commander::ItemAttachmentGetCount},
      {"ItemAttachmentSaveAs", &Commander::ItemAttachmentSaveAs},
      {"AttachmentDelete", &Commander::AttachmentDelete},
      {"AttachmentAdd", &Commander::AttachmentAdd},
  };

  std::size_t name_end = 0;
  while (name_end < text.size() && std::isalpha(static_cast<unsigned char>(text[name_end])))
    ++name_end;
  const std::string_view name = std::string_view(text).substr(0, name_end);
  const std::string_view rest = Trim(std::string_view(text).substr(name_end));
  for (const Entry& entry : kCommands) {
    if (!EqualsIgnoreCase(entry.name, name)) continue;
    if (!rest.empty() && (rest.front() != '(' || rest.back() != ')'))
      throw Error("Syntax error: " + text);
    const std::string_view raw = rest.empty() ? rest : rest.substr(1, rest.size() - 2);
    if (Reply answer = (this->*entry.handler)(name, raw)) reply = std::move(*answer);
    return true;
  }
  throw Error("Unknown command: " + std::string(name.empty() ? text : name));
}

Commander::Reply Commander::ItemMessageIdFromView(std::string_view name, std::string_view raw) {
  Arguments(name, raw).ExpectCount(0);
  return client_.ViewItemId();
}

Commander::Reply Commander::NewMail(std::string_view name, std::string_view raw) {
  Arguments(name, raw).ExpectCount(0);
  client_.NewMail();
  return std::nullopt;
}

Commander::Reply Commander::EnvCheckCurrentWindow(std::string_view name, std::string_view raw) {
  const Arguments args(name, raw);
  args.ExpectCount(1);
  const std::int32_t window = args.Number(0);
  return client_.view().kind == ViewKind::kItemList && window == kItemListWindow ? "TRUE" : "FALSE";
}

Commander::Reply Commander::ItemListCreateFromControl(std::string_view name, std::string_view raw) {
  const Arguments args(name, raw);
  args.ExpectCount(2);
  const std::int32_t control = args.Number(0);
  // 1 asks for the selected items, the only list the client makes.
  if (const std::int32_t kind = args.Number(1); kind != 1)
    throw Error("Unsupported item list kind: " + std::to_string(kind));
  if (client_.view().kind != ViewKind::kItemList || control != kItemListControl)
    throw Error("The current window has no control " + std::to_string(control));
  list_ = ItemList{next_handle_++, client_.selection()};
  return std::to_string(list_->handle);
}

Commander::Reply Commander::ItemListGetItem(std::string_view name, std::string_view raw) {
  const Arguments args(name, raw);
  args.ExpectCount(2);
  const std::int32_t handle = args.Number(0);
  const std::int32_t index = args.Number(1);
  if (!list_ || list_->handle != handle)
    throw Error("Item list not found: " + std::to_string(handle));
  if (index < 0 || static_cast<std::size_t>(index) >= list_->ids.size())
    throw Error("Item list index out of range: " + std::to_string(index));
  return list_->ids[index];
}

Commander::Reply Commander::ItemListDelete(std::string_view name, std::string_view raw) {
  Arguments(name, raw).ExpectCount(0);
  if (!list_) throw Error("There is no item list");
  list_.reset();
  return std::nullopt;
}

Commander::Reply Commander::ItemGetText(std::string_view name, std::string_view raw) {
  const Arguments args(name, raw);
  args.ExpectCount(2);
  const auto field = static_cast<Field>(args.Constant(1, kFields));
  return FieldOf(client_.FindItem(args.ItemId(0)), field);
}

Commander::Reply Commander::ItemOpen(std::string_view name, std::string_view raw) {
  const Arguments args(name, raw);
  args.ExpectCount(1);
  client_.OpenItem(args.ItemId(0));
  return std::nullopt;
}

Commander::Reply Commander::ItemSaveMessage(std::string_view name, std::string_view raw) {
  const Arguments args(name, raw);
  args.ExpectCount(3);
  const Item& item = client_.FindItem(args.ItemId(0));
  args.Constant(2, {"AnsiText!"});
  WriteFile(args.Text(1), item.body, client_.disk_space());
  return std::nullopt;
}

// The text argument is inserted unchanged and may itself hold quotes and semicolons, so it runs
// from the quote after the field to the last quote of the command.
Commander::Reply Commander::ItemSetText(std::string_view name, std::string_view raw) {
  std::vector<Argument> list;
  list.push_back(TakeArgument(raw, name));
  list.push_back(TakeArgument(raw, name));
  raw = TrimLeft(raw);
  if (!raw.empty()) {
    const std::size_t close = raw.rfind('"');
    if (raw.front() != '"' || close == 0 || !EndsArgument(raw.substr(close + 1)))
      throw Error(std::string(name) + ": argument 3 is not quoted text");
    list.push_back(Argument{std::string(raw.substr(1, close - 1)), true});
    raw = TrimLeft(raw.substr(close + 1));
    SkipSeparator(raw);
    for (Argument& arg : SplitArguments(raw, name)) list.push_back(std::move(arg));
  }

  const Arguments args(name, std::move(list));
  args.ExpectCount(3, 4);
  const auto field = static_cast<Field>(args.Constant(1, kFields));
  const bool append = args.size() == 4 && args.Constant(3, {"No!", "Yes!"}) == 1;
  const std::string& text = args.Text(2);
  std::string& value = FieldOf(client_.FindItem(args.ItemId(0)), field);
  // In place: a body rebuilt line by line must not be copied once per line.
  if (append)
    value += text;
  else
    value = text;
  if (field == Field::kBody && value.size() > kBodyLimit) value.resize(kBodyLimit);
  return std::nullopt;
}

Commander::Reply Commander::ItemAttachmentGetCount(std::string_view name, std::string_view raw) {
  const Arguments args(name, raw);
  args.ExpectCount(1);
  const Item& item = client_.FindItem(args.ItemId(0));
  if (const std::optional<std::string>& answer = client_.attachment_count_answer()) return answer;
  return std::to_string(item.attachments.size());
}

Commander::Reply Commander::ItemAttachmentSaveAs(std::string_view name, std::string_view raw) {
  const Arguments args(name, raw);
  args.ExpectCount(3);
  const Item& item = client_.FindItem(args.ItemId(0));
  const Attachment& attachment = AttachmentAt(item, args.Number(1));
  WriteFile(args.Text(2), attachment.bytes, client_.disk_space());
  return std::nullopt;
}

Commander::Reply Commander::AttachmentDelete(std::string_view name, std::string_view raw) {
  const Arguments args(name, raw);
  args.ExpectCount(1);
  const std::int32_t index = args.Number(0);
  Item& item = client_.NewItem();
  AttachmentAt(item, index);
  item.attachments.erase(item.attachments.begin() + index);
  return std::nullopt;
}

Commander::Reply Commander::AttachmentAdd(std::string_view name, std::string_view raw) {
  const Arguments args(name, raw);
  args.ExpectCount(2);
  const std::string& path = args.Text(0);
  // The flag means nothing to a client without a screen, but it must be one.
  args.Constant(1, {"Yes!", "No!"});
  Item& item = client_.NewItem();
  item.attachments.push_back(LoadAttachment(path));
  return std::nullopt;
}

}  // namespace quillet::mailsim
