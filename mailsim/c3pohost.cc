#include "mailsim/c3pohost.h"

#include <algorithm>

#include "base/error.h"
#include "platform/autoobject.h"

namespace quillet::mailsim {

using ole::DispatchTable;
using ole::MakeRef;
using ole::Value;

namespace {

// The item collection of a menu: what the extension adds lands in `entries`, at the end or
// before the entry that AddBefore names, by its position counted from 0 or by its caption.
class MenuItems : public ole::AutoObject {
 public:
  explicit MenuItems(std::list<MenuEntry>& entries) : AutoObject(Table()), entries_(entries) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("MenuItems")
                      .Method("AddMenu", &MenuItems::AddMenu)
                      .Method("Add", &MenuItems::Add)
                      .Method("AddSeparator", &MenuItems::AddSeparator));
    return table;
  }

  Value AddMenu(const std::string& caption, const ole::Optional& command,
                const ole::Optional& add_before);
  void Add(const std::string& caption, const Value& command, const ole::Optional& add_before) {
    Insert({caption, command, {}, false}, add_before);
  }
  void AddSeparator(const ole::Optional& add_before) {
    Insert({"", Value(), {}, true}, add_before);
  }

 private:
  MenuEntry& Insert(MenuEntry entry, const ole::Optional& add_before);

  std::list<MenuEntry>& entries_;
};

// A menu bar, context menu or pull-down.
class Menu : public ole::AutoObject {
 public:
  explicit Menu(std::list<MenuEntry>& entries) : AutoObject(Table()), entries_(entries) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("Menu").Property("MenuItems", &Menu::GetMenuItems));
    return table;
  }
  Value GetMenuItems() { return Value(MakeRef<MenuItems>(entries_)); }

 private:
  std::list<MenuEntry>& entries_;
};

Value MenuItems::AddMenu(const std::string& caption, const ole::Optional& command,
                         const ole::Optional& add_before) {
  MenuEntry& added = Insert({caption, command.value, {}, false}, add_before);
  return Value(MakeRef<Menu>(added.sub_menu));
}

MenuEntry& MenuItems::Insert(MenuEntry entry, const ole::Optional& add_before) {
  auto before = entries_.end();
  if (add_before.given() && add_before.value.type() == ole::VarType::kString) {
    before = std::ranges::find(entries_, add_before.value.AsString(), &MenuEntry::caption);
  } else if (add_before.given()) {
    const std::int32_t position = ole::Convert(add_before.value, ole::VarType::kInt).AsInt();
    if (position < 0) throw Error("AddBefore: no position " + std::to_string(position));
    before = entries_.begin();
    for (std::int32_t i = 0; i < position && before != entries_.end(); ++i) ++before;
  }
  return *entries_.insert(before, std::move(entry));
}

class Event : public ole::AutoObject {
 public:
  explicit Event(std::string id) : AutoObject(Table()), id_(std::move(id)) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("Event").Property("PersistentID", &Event::PersistentID));
    return table;
  }
  std::string PersistentID() { return id_; }

 private:
  std::string id_;
};

}  // namespace

// What the host hands to the server's Init: GroupWise's C3POManager.
class C3POManager : public ole::AutoObject {
 public:
  C3POManager() : AutoObject(Table()) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("C3POManager").Property("Name", &C3POManager::Name));
    return table;
  }
  std::string Name() { return "GroupWise"; }
};

Value MenuObject(std::list<MenuEntry>& entries) {
  return Value(MakeRef<Menu>(entries));
}

C3POHost::C3POHost(ole::Com& com, std::string progid) : com_(com), progid_(std::move(progid)) {}

C3POHost::~C3POHost() = default;

void C3POHost::Start() {
  server_ = Value(com_.CreateOleObject(progid_));
  command_factory_ = ole::Get(server_, "CommandFactory");
  icon_factory_ = ole::Get(server_, "IconFactory");
  event_monitor_ = ole::Get(server_, "EventMonitor");
  manager_ = MakeRef<C3POManager>();
  ole::Call(server_, "Init", {Value(manager_)});
  factory_init_answer_ =
      ole::Convert(ole::Get(command_factory_, "Init", {kLocaleId}), ole::VarType::kInt).AsInt();
}

std::uint32_t C3POHost::manager_holds() const {
  return manager_ ? manager_->RefCount() - 1 : 0;
}

int C3POHost::OpenWindow(const std::string& context) {
  windows_.push_back({context, {}, {}, true});
  HostWindow& window = windows_.back();
  for (const std::string& caption : kClientMenus)
    window.menu_bar.push_back({caption, Value(), {}, false});
  window.customize_menu_answer = ole::Convert(ole::Get(command_factory_, "CustomizeMenu",
                                                       {context, MenuObject(window.menu_bar)}),
                                              ole::VarType::kBool)
                                     .AsBool();
  ole::Call(command_factory_, "CustomizeContextMenu", {context, MenuObject(window.context_menu)});
  return static_cast<int>(windows_.size()) - 1;
}

void C3POHost::OpenContextMenu(const std::string& context) {
  if (windows_.empty()) throw Error("no window is open");
  HostWindow& window = windows_.back();
  window.context_menu.clear();
  ole::Call(command_factory_, "CustomizeContextMenu", {context, MenuObject(window.context_menu)});
}

std::string C3POHost::LongPrompt(const MenuEntry& entry) {
  return ole::Convert(ole::Get(entry.command, "LongPrompt"), ole::VarType::kString).AsString();
}

const MenuEntry& C3POHost::Find(const std::list<MenuEntry>& menu, const std::string& caption) {
  for (const MenuEntry& entry : menu)
    if (entry.caption == caption) return entry;
  throw Error("the menu has no entry " + caption);
}

Execution C3POHost::Pick(const std::string& pull_down, const std::string& caption) {
  if (windows_.empty()) throw Error("no window is open");
  return Execute(Find(Find(windows_.back().menu_bar, pull_down).sub_menu, caption));
}

Execution C3POHost::PickFromContextMenu(const std::string& caption) {
  if (windows_.empty()) throw Error("no window is open");
  return Execute(Find(windows_.back().context_menu, caption));
}

Execution C3POHost::Execute(const MenuEntry& entry) {
  // GroupWise asks a command whether it may run before it runs it.
  calls_.emplace_back("Validate");
  ole::Get(entry.command, "Validate");
  calls_.emplace_back("Execute");
  // Called directly, so that the host sees the dispatch exception itself.
  const ole::Ref<ole::Dispatch>& command = entry.command.AsObject();
  std::vector<ole::DispId> ids;
  Execution execution;
  execution.result = command->GetIDsOfNames({"Execute"}, &ids);
  if (ole::hr::Failed(execution.result)) return execution;
  ole::DispParams none;
  execution.result =
      command->Invoke(ids[0], ole::kMethod, none, nullptr, &execution.excep, nullptr);
  return execution;
}

void C3POHost::Notify(const std::string& context, const std::string& event_id) {
  ole::Call(event_monitor_, "Notify", {context, Value(MakeRef<Event>(event_id))});
}

void C3POHost::Close() {
  if (event_monitor_.type() == ole::VarType::kObject) Notify("GW.CLIENT", "GW#E#2");
  if (server_.type() == ole::VarType::kObject) {
    try {
      calls_.emplace_back("CanShutdown");
      if (ole::Convert(ole::Get(server_, "CanShutdown"), ole::VarType::kBool).AsBool()) {
        calls_.emplace_back("DeInit");
        ole::Call(server_, "DeInit");
      }
    } catch (const ole::OleError& e) {
      // A server in a process of its own may end on the closing event before it is asked, or
      // while it answers; the client closes all the same.
      if (!ole::hr::ServerGone(e.code())) throw;
    }
  }
  windows_.clear();
  event_monitor_ = icon_factory_ = command_factory_ = server_ = Value();
}

}  // namespace quillet::mailsim
