// GroupWise's side of the C3PO interface, played through the automation port: the server is
// created by its ProgID, and every call crosses the dispatch interface.
#include "host/servobj.h"

#include <gtest/gtest.h>

#include "host/c3poinc.h"
#include "host/program.h"
#include "tests/test_platform.h"

namespace quillet::host {
namespace {

using ole::DispId;
using ole::DispParams;
using ole::ExcepInfo;
using ole::HResult;
using ole::MakeRef;
using ole::Ref;
namespace hr = ole::hr;

// GroupWise's menu objects: a menu with an item collection that records what is added.
class FakeItems;

struct MenuLog {
  std::vector<std::string> calls;
  std::vector<Value> commands;  // GroupWise's references to the commands it was given
  int menu_items_reads = 0;
};

class FakeMenu : public ole::AutoObject {
 public:
  explicit FakeMenu(MenuLog& log, std::string name)
      : AutoObject(Table()), log_(log), name_(std::move(name)) {}
  static const ole::DispatchTable& Table() {
    static const ole::DispatchTable table =
        std::move(ole::DispatchTable("FakeMenu").Property("MenuItems", &FakeMenu::MenuItems));
    return table;
  }
  Value MenuItems();

 private:
  MenuLog& log_;
  std::string name_;
};

class FakeItems : public ole::AutoObject {
 public:
  FakeItems(MenuLog& log, std::string name)
      : AutoObject(Table()), log_(log), name_(std::move(name)) {}
  static const ole::DispatchTable& Table() {
    static const ole::DispatchTable table =
        std::move(ole::DispatchTable("FakeItems")
                      .Method("AddMenu", &FakeItems::AddMenu)
                      .Method("Add", &FakeItems::Add)
                      .Method("AddSeparator", &FakeItems::AddSeparator));
    return table;
  }
  Value AddMenu(const std::string& caption, const Value& command, std::int32_t flags) {
    log_.calls.push_back(name_ + ".AddMenu " + caption + " " + Describe(command) + " " +
                         std::to_string(flags));
    log_.commands.push_back(command);
    return Value(MakeRef<FakeMenu>(log_, caption));
  }
  void Add(const std::string& caption, const Value& command) {
    log_.calls.push_back(name_ + ".Add " + caption + " " + Describe(command));
    log_.commands.push_back(command);
  }
  void AddSeparator() { log_.calls.push_back(name_ + ".AddSeparator"); }

 private:
  // The command's identifier and its long prompt at the time it was added.
  static std::string Describe(const Value& command) {
    auto* c = dynamic_cast<Command*>(command.AsObject().get());
    return c ? std::to_string(c->id()) + " [" + c->LongPrompt() + "]" : "?";
  }
  MenuLog& log_;
  std::string name_;
};

Value FakeMenu::MenuItems() {
  ++log_.menu_items_reads;
  return Value(MakeRef<FakeItems>(log_, name_));
}

class FakeEvent : public ole::AutoObject {
 public:
  explicit FakeEvent(Value id) : AutoObject(Table()), id_(std::move(id)) {}
  static const ole::DispatchTable& Table() {
    static const ole::DispatchTable table = std::move(
        ole::DispatchTable("FakeEvent").Property("PersistentID", &FakeEvent::PersistentID));
    return table;
  }
  Value PersistentID() { return id_; }

 private:
  Value id_;
};

// A started program (register mode: no window) and GroupWise's server object.
class C3POTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.Start({"-REGSERVER"});
    server_ = tp_.com.CreateOleObject("QUILLET.C3PO");
    factory_ = ole::Get(server_, "CommandFactory").AsObject();
  }

  // Calls by identifier, the way a caller that skips the name lookup does.
  HResult Invoke(const Ref<ole::Dispatch>& object, DispId id, std::uint16_t flags,
                 std::vector<Value> args_last_first, Value* result = nullptr,
                 ExcepInfo* excep = nullptr, std::uint32_t* arg_error = nullptr,
                 std::vector<DispId> named = {}) {
    DispParams params{std::move(args_last_first), std::move(named)};
    return object->Invoke(id, flags, params, result, excep, arg_error);
  }

  DispId IdOf(const Ref<ole::Dispatch>& object, const std::string& name) {
    std::vector<DispId> ids;
    EXPECT_EQ(object->GetIDsOfNames({name}, &ids), hr::kOk) << name;
    return ids.at(0);
  }

  testing::TestPlatform tp_;
  Program program_{tp_.platform()};
  Ref<ole::Dispatch> server_;
  Ref<ole::Dispatch> factory_;
};

TEST_F(C3POTest, ServerHandsOutTheSharedObjects) {
  EXPECT_EQ(ole::Get(server_, "Description"), Value("Quillet"));
  EXPECT_EQ(ole::Get(server_, "CanShutdown"), Value(true));
  EXPECT_EQ(factory_.get(), program_.command_factory().get());
  EXPECT_EQ(ole::Get(server_, "IconFactory").AsObject().get(), program_.icon_factory().get());
  EXPECT_EQ(ole::Get(server_, "EventMonitor").AsObject().get(), program_.event_monitor().get());
  // Every creation request makes a new server around the same shared objects.
  Ref<ole::Dispatch> second = tp_.com.CreateOleObject("QUILLET.C3PO");
  EXPECT_NE(second.get(), server_.get());
  EXPECT_EQ(ole::Get(second, "CommandFactory").AsObject().get(), factory_.get());
}

TEST_F(C3POTest, IdentifiersByNameAndTheBaseBodiesByNumber) {
  const std::vector<std::pair<std::string, DispId>> server_ids = {
      {"CommandFactory", 8}, {"Description", 9}, {"EventMonitor", 10}, {"IconFactory", 11},
      {"CanShutdown", 12},   {"DeInit", 14},     {"Init", 13},         {"description", 9}};
  for (const auto& [name, id] : server_ids) EXPECT_EQ(IdOf(server_, name), id) << name;

  const std::vector<std::pair<std::string, DispId>> factory_ids = {
      {"BuildCommand", 7}, {"CustomizeContextMenu", 8}, {"CustomizeMenu", 9},
      {"Init", 10},        {"CustomizeToolBar", 11},    {"WantCommand", 12}};
  for (const auto& [name, id] : factory_ids) EXPECT_EQ(IdOf(factory_, name), id) << name;

  EXPECT_EQ(IdOf(program_.icon_factory(), "GetIcons"), 2);
  EXPECT_EQ(IdOf(program_.event_monitor(), "Notify"), 2);

  Ref<ole::Dispatch> command = MakeRef<Command>(program_, kCmdNewKey);
  const std::vector<std::pair<std::string, DispId>> command_ids = {
      {"BaseCmd", 1},  {"LongPrompt", 10}, {"Parameters", 3}, {"PersistentID", 4}, {"ToolTip", 11},
      {"Execute", 12}, {"Help", 7},        {"Undo", 8},       {"Validate", 13}};
  for (const auto& [name, id] : command_ids) EXPECT_EQ(IdOf(command, name), id) << name;

  // The base identifiers reach the base bodies.
  Value result;
  ASSERT_EQ(Invoke(server_, 2, ole::kPropertyGet, {}, &result), hr::kOk);
  EXPECT_EQ(result, Value(""));
  ASSERT_EQ(Invoke(command, 2, ole::kPropertyGet, {}, &result), hr::kOk);
  EXPECT_EQ(result, Value("TRUE"));
  ASSERT_EQ(Invoke(command, 5, ole::kPropertyGet, {}, &result), hr::kOk);
  EXPECT_EQ(result, Value("TRUE"));
  ASSERT_EQ(Invoke(command, 1, ole::kPropertyGet, {}, &result), hr::kOk);
  EXPECT_EQ(result, Value(true));
  ASSERT_EQ(Invoke(server_, 1, ole::kPropertyGet, {}, &result), hr::kOk);
  EXPECT_TRUE(result.IsEmpty());

  EXPECT_EQ(server_->GetTypeInfoCount(), 0u);
  EXPECT_EQ(server_->GetTypeInfo(0), hr::kNotImpl);
}

TEST_F(C3POTest, MenuOfAMessageWindow) {
  MenuLog log;
  Ref<FakeMenu> bar = MakeRef<FakeMenu>(log, "bar");
  EXPECT_EQ(ole::Get(factory_, "CustomizeMenu", {"gw.message.mail", Value(bar)}), Value(false));
  EXPECT_EQ(log.calls, (std::vector<std::string>{
                           "bar.AddMenu &PGP 98 [] 5",
                           "&PGP.Add &Quillet 100 []",
                           "&PGP.Add &Encrypt 101 []",
                           "&PGP.Add &Decrypt this item 102 []",
                           "&PGP.Add &Mail PGP Key 104 []",
                           "&PGP.Add &Add PGP Key to Ring 103 []",
                           "&PGP.Add &New PGP Key 105 []",
                       }));
  EXPECT_EQ(log.menu_items_reads, 1 + 6);  // the sub-menu's items are read anew for each entry

  std::vector<std::string> prompts;
  for (const Value& command : log.commands)
    prompts.push_back(ole::Get(command, "LongPrompt").AsString());
  EXPECT_EQ(prompts, (std::vector<std::string>{
                         "Access Quillet functions", "PGP Main Menu", "Encrypt the current mail",
                         "Decrypt the current mail", "Mail your main PGP key to someone",
                         "Add this PGP key to public keyring", "Make a new secret PGP key"}));
  // GroupWise's reference alone keeps each command alive.
  for (const Value& command : log.commands) EXPECT_EQ(command.AsObject()->RefCount(), 1u);

  for (const Value& command : log.commands) {
    EXPECT_EQ(ole::Get(command, "ToolTip"), Value(""));
    EXPECT_EQ(ole::Get(command, "PersistentID"), Value(""));
    EXPECT_EQ(ole::Get(command, "Parameters"), Value(0));
    EXPECT_EQ(ole::Get(command, "Validate"), Value(1));
  }
  ole::Call(log.commands.front(), "Execute");  // the pull-down itself does nothing
}

TEST_F(C3POTest, TwoWindowsGetCommandsOfTheirOwn) {
  MenuLog first, second;
  ole::Get(factory_, "CustomizeMenu", {"GW.MESSAGE.MAIL", Value(MakeRef<FakeMenu>(first, "a"))});
  ole::Get(factory_, "CustomizeMenu", {"GW.MESSAGE.MAIL", Value(MakeRef<FakeMenu>(second, "b"))});
  ASSERT_EQ(first.commands.size(), 7u);
  ASSERT_EQ(second.commands.size(), 7u);
  for (std::size_t i = 0; i < 7; ++i) EXPECT_NE(first.commands[i], second.commands[i]);
}

TEST_F(C3POTest, ContextMenuOfAMessageWindow) {
  MenuLog log;
  ole::Call(factory_, "CustomizeContextMenu",
            {"GW.MESSAGE.MAIL", Value(MakeRef<FakeMenu>(log, "ctx"))});
  EXPECT_EQ(log.calls, (std::vector<std::string>{
                           "ctx.AddSeparator",
                           "ctx.Add &Quillet 100 []",
                           "ctx.Add &Encrypt 101 []",
                           "ctx.Add &Decrypt this item 102 []",
                           "ctx.Add &Mail PGP Key 104 []",
                           "ctx.Add &Add PGP Key to Ring 103 []",
                           "ctx.Add &New PGP Key 105 []",
                       }));
  EXPECT_EQ(log.menu_items_reads, 1);
  EXPECT_EQ(ole::Get(log.commands.back(), "LongPrompt"), Value("Make a new secret PGP key"));
}

TEST_F(C3POTest, OtherContextsGetNothing) {
  for (const char* context : {"GW.MESSAG", "GW.APPLICATION.BROWSER", ""}) {
    MenuLog log;
    Ref<FakeMenu> menu = MakeRef<FakeMenu>(log, "m");
    EXPECT_EQ(ole::Get(factory_, "CustomizeMenu", {context, Value(menu)}), Value(false));
    EXPECT_EQ(log.menu_items_reads, 0) << context;
    ole::Call(factory_, "CustomizeContextMenu", {context, Value(menu)});
    EXPECT_EQ(log.menu_items_reads, 1) << context;  // read first, for every context
    EXPECT_TRUE(log.calls.empty()) << context;
    EXPECT_EQ(ole::Get(factory_, "CustomizeToolBar", {context, Value(menu)}), Value(false));
  }
  EXPECT_EQ(ole::Get(factory_, "CustomizeToolBar", {"GW.MESSAGE.MAIL", Value()}), Value(false));
}

TEST_F(C3POTest, FactoryAnswers) {
  for (std::int32_t flags : {0, -1, 12345})
    EXPECT_EQ(ole::Get(factory_, "Init", {flags}), Value(17));
  EXPECT_TRUE(ole::Get(factory_, "BuildCommand", {"a", "b", Value(1), Value("x")}).IsEmpty());
  EXPECT_EQ(ole::Get(factory_, "WantCommand", {"a", "b"}), Value(false));
}

TEST_F(C3POTest, IconsAreHandedBackUnchanged) {
  std::string file = "icons.dll";
  std::int32_t large = 3, small = 4;
  ole::Call(program_.icon_factory(), "GetIcons",
            {"name", Value(&file), Value(&large), Value(&small)});
  EXPECT_EQ(file, "icons.dll");
  EXPECT_EQ(large, 3);
  EXPECT_EQ(small, 4);
}

TEST_F(C3POTest, ErrorAnswers) {
  std::vector<DispId> ids;
  EXPECT_EQ(factory_->GetIDsOfNames({"Nothing"}, &ids), hr::kUnknownName);
  EXPECT_EQ(ids, std::vector<DispId>{-1});
  EXPECT_EQ(factory_->GetIDsOfNames({"Init", "flags"}, &ids), hr::kUnknownName);
  EXPECT_EQ(ids, (std::vector<DispId>{10, -1}));

  Value result;
  EXPECT_EQ(Invoke(factory_, 99, ole::kMethod, {}, &result), hr::kMemberNotFound);
  EXPECT_EQ(Invoke(server_, 9, ole::kMethod, {}, &result), hr::kMemberNotFound);  // a property
  EXPECT_EQ(Invoke(server_, 12, ole::kPropertyGet, {}, &result), hr::kMemberNotFound);
  EXPECT_EQ(Invoke(server_, 6, ole::kMethod, {}, &result), hr::kMemberNotFound);  // no result
  EXPECT_EQ(Invoke(server_, 6, ole::kMethod, {}), hr::kOk);
  EXPECT_EQ(Invoke(factory_, 10, ole::kMethod, {Value(1)}, &result, nullptr, nullptr, {1}),
            hr::kNoNamedArgs);
  EXPECT_EQ(Invoke(factory_, 10, ole::kMethod, {}, &result), hr::kBadParamCount);
  EXPECT_EQ(Invoke(server_, 9, ole::kPropertyPut, {"x"}, nullptr, nullptr, nullptr,
                   {ole::kDispIdPropertyPut}),
            hr::kMemberNotFound);  // read-only
  EXPECT_EQ(Invoke(factory_, 10, ole::kMethod, {1, 2}, &result), hr::kBadParamCount);

  // GetIcons(string, string by reference, integer by reference, integer by reference): the second
  // argument sits at index 2 of the arguments, which COM passes last first.
  std::int32_t a = 0, b = 0;
  std::uint32_t position = 99;
  EXPECT_EQ(Invoke(program_.icon_factory(), 2, ole::kMethod, {Value(&b), Value(&a), Value(5), "n"},
                   nullptr, nullptr, &position),
            hr::kTypeMismatch);
  EXPECT_EQ(position, 2u);
  std::string text = "t";
  EXPECT_EQ(Invoke(program_.icon_factory(), 2, ole::kMethod,
                   {Value("7"), Value(&a), Value(&text), "n"}, nullptr, nullptr, &position),
            hr::kTypeMismatch);
  EXPECT_EQ(position, 0u);  // a string where an integer by reference is declared

  EXPECT_EQ(
      Invoke(factory_, 9, ole::kMethod, {Value(), Value::Omitted()}, &result, nullptr, &position),
      hr::kParamNotOptional);
  EXPECT_EQ(position, 1u);

  EXPECT_EQ(Invoke(factory_, 10, ole::kMethod, {"abc"}, &result, nullptr, &position),
            hr::kTypeMismatch);
  EXPECT_EQ(position, 0u);
  EXPECT_EQ(Invoke(factory_, 10, ole::kMethod, {"99999999999"}, &result, nullptr, &position),
            hr::kOverflow);
  EXPECT_EQ(Invoke(factory_, 10, ole::kMethod, {" 12 "}, &result), hr::kOk);
  EXPECT_EQ(result, Value(17));
}

TEST_F(C3POTest, AnEscapingErrorIsADispatchException) {
  ExcepInfo excep;
  // A context menu that is not an object fails although nothing would be added.
  EXPECT_EQ(Invoke(factory_, 8, ole::kMethod, {Value(42), "GW.APPLICATION"}, nullptr, &excep),
            hr::kException);
  EXPECT_EQ(excep.source, "CommandFactory");
  EXPECT_EQ(excep.description, "Type mismatch");
  EXPECT_EQ(excep.scode, hr::kFail);

  MenuLog log;
  Ref<ole::Dispatch> command = MakeRef<Command>(program_, kCmdEncrypt);
  EXPECT_EQ(Invoke(command, 12, ole::kMethod, {}, nullptr, &excep), hr::kException);
  EXPECT_EQ(excep.source, "Command");
  EXPECT_EQ(excep.description, "Invalid class string");  // no mail client to talk to
  // The server runs on.
  EXPECT_EQ(ole::Get(server_, "Description"), Value("Quillet"));
}

TEST_F(C3POTest, InitKeepsItsValueUntilTheProgramEnds) {
  int before = ole::LiveObjects::Count();
  Ref<FakeEvent> kept = MakeRef<FakeEvent>(Value("x"));
  ole::Call(server_, "Init", {Value(kept)});
  server_.reset();  // the server goes, the value stays
  EXPECT_EQ(kept->RefCount(), 2u);
  ole::Call(tp_.com.CreateOleObject("QUILLET.C3PO"), "Init",
            {Value(7)});  // a later Init replaces it
  EXPECT_EQ(kept->RefCount(), 1u);
  // Both servers are gone; the kept value is the one new live object.
  EXPECT_EQ(ole::LiveObjects::Count(), before - 1 + 1);
}

TEST_F(C3POTest, ClosingEventStopsTheEventLoopAndOthersDoNot) {
  const Ref<ole::Dispatch> monitor = ole::Get(server_, "EventMonitor").AsObject();
  ole::Call(monitor, "Notify", {"GW.MESSAGE", Value(MakeRef<FakeEvent>(Value("GW#E#1")))});
  ole::Call(monitor, "Notify", {"", Value(MakeRef<FakeEvent>(Value(2)))});
  EXPECT_FALSE(tp_.gui.Terminated());
  ole::Call(monitor, "Notify", {"", Value(MakeRef<FakeEvent>(Value("gw#e#2")))});
  EXPECT_TRUE(tp_.gui.Terminated());
  EXPECT_TRUE(tp_.gui.messages().empty());
}

}  // namespace
}  // namespace quillet::host
