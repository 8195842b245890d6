#include "host/program.h"

#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "tests/test_platform.h"
#include "ui/form.h"

namespace quillet::host {
namespace {

using gui::Answer;

TEST(StartMode, SwitchesAndTheirPrecedence) {
  const std::vector<std::pair<std::vector<std::string>, StartMode>> cases = {
      {{}, StartMode::kStandAlone},
      {{"-REGSERVER"}, StartMode::kRegister},
      {{"/regserver"}, StartMode::kRegister},
      {{"-RegServer"}, StartMode::kRegister},
      {{"REGSERVER"}, StartMode::kStandAlone},    // no prefix character
      {{"-REGSERVERS"}, StartMode::kStandAlone},  // more than the name
      {{"--REGSERVER"}, StartMode::kStandAlone},
      {{"-UNREGSERVER"}, StartMode::kUnregister},
      {{"/Automation"}, StartMode::kAutomation},
      {{"-Embedding"}, StartMode::kAutomation},
      {{"-UNREGSERVER", "-REGSERVER"}, StartMode::kRegister},
      {{"-EMBEDDING", "-UNREGSERVER"}, StartMode::kAutomation},
      {{"-REGSERVER", "/automation"}, StartMode::kAutomation},
      {{"file.txt", "-x", "/unregserver"}, StartMode::kUnregister},
  };
  for (const auto& [args, mode] : cases) {
    std::string joined;
    for (const std::string& a : args) joined += a + " ";
    EXPECT_EQ(ParseStartMode(args), mode) << joined;
  }
}

const std::vector<std::string> kRegisterCalls = {
    "set QUILLET.C3PO = Quillet C3PO Object",
    "set QUILLET.C3PO\\Clsid = {6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}",
    "set CLSID\\{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9} = Quillet C3PO Object",
    "set CLSID\\{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}\\ProgID = QUILLET.C3PO",
};

class ProgramTest : public ::testing::Test {
 protected:
  std::vector<std::string> RegisterCalls() {
    std::vector<std::string> calls = kRegisterCalls;
    calls.push_back("set CLSID\\{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}\\LocalServer32 = " +
                    tp_.system.ModuleFileName());
    return calls;
  }

  testing::TestPlatform tp_;
  Program program_{tp_.platform()};
};

TEST_F(ProgramTest, RegisterWritesTheFiveEntriesAndExitsWithoutAWindow) {
  EXPECT_EQ(program_.Run({"-REGSERVER"}), 0);
  EXPECT_EQ(tp_.registry.calls, RegisterCalls());
  EXPECT_TRUE(tp_.gui.windows().empty());
  EXPECT_TRUE(tp_.gui.messages().empty());
  // The exit sequence revoked the class object and shut OLE down again.
  ole::Ref<ole::Dispatch> object;
  EXPECT_EQ(tp_.com.CreateObject("QUILLET.C3PO", &object), ole::hr::kClassNotRegistered);
  EXPECT_EQ(tp_.com.initializations(), 0);
  EXPECT_FALSE(program_.command_factory());
}

TEST_F(ProgramTest, UnregisterDeletesTheEntriesInReverseOrder) {
  program_.Run({"/regserver"});
  tp_.registry.calls.clear();
  EXPECT_EQ(Program(tp_.platform()).Run({"-UNREGSERVER"}), 0);
  const std::string clsid = "CLSID\\{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}";
  EXPECT_EQ(tp_.registry.calls,
            (std::vector<std::string>{"delete " + clsid + "\\LocalServer32",
                                      "delete " + clsid + "\\ProgID", "delete " + clsid,
                                      "delete QUILLET.C3PO\\Clsid", "delete QUILLET.C3PO"}));
  for (const char* key : {"QUILLET.C3PO", "QUILLET.C3PO\\Clsid"})
    EXPECT_FALSE(tp_.registry.QueryValue(key)) << key;
  EXPECT_FALSE(tp_.registry.QueryValue(clsid));
  EXPECT_TRUE(tp_.gui.windows().empty());
}

const char kLocalServer[] = "CLSID\\{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}\\LocalServer32";

// A blank in the program's path would let the system start the part before it as a program.
TEST_F(ProgramTest, TheServerPathIsQuotedWhenItHoldsABlankAndLeftAsItIsOtherwise) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Program Files\\Quillet\\quillet.exe", "\"C:\\Program Files\\Quillet\\quillet.exe\""},
      {"C:\\QUILLET\\QUILLET.EXE", "C:\\QUILLET\\QUILLET.EXE"},
      {"C:\\PROGRA~1\\Quillet\\quillet.exe", "C:\\PROGRA~1\\Quillet\\quillet.exe"},
      {"/home/me/My Tools/quillet", "\"/home/me/My Tools/quillet\""},
      {"/home/me/bin/quillet", "/home/me/bin/quillet"},
  };
  for (const auto& [path, value] : cases) {
    SCOPED_TRACE(path);
    tp_.system.module_file_name = path;
    tp_.registry.calls.clear();
    EXPECT_EQ(Program(tp_.platform()).Run({"-REGSERVER"}), 0);
    std::vector<std::string> calls = kRegisterCalls;
    calls.push_back(std::string("set ") + kLocalServer + " = " + value);
    EXPECT_EQ(tp_.registry.calls, calls);
    EXPECT_EQ(tp_.file_registry.QueryValue(kLocalServer), value);
  }
}

// A standard user cannot write the entries (here: a registry file without write permission).
// Only a start by hand says so, once, and only when the entries are not in place already; the
// register switches tell it by their exit code instead, and the mail client's start keeps quiet.
TEST_F(ProgramTest, ARegistryThatRefusesTheEntriesIsReportedOnlyWhereSomebodyCanAct) {
  const std::string program = "/opt/quillet/quillet";
  const struct {
    std::vector<std::string> args;
    std::optional<std::string> installed;  // the server path the entries already name
    bool writable;
    int exit_code;
    bool told;
  } cases[] = {
      {{}, std::nullopt, true, 0, false},
      {{}, std::nullopt, false, 0, true},
      {{}, program, false, 0, false},
      {{}, "\"C:\\Program Files\\Quillet\\quillet.exe\"", false, 0, true},
      {{"-Embedding"}, std::nullopt, false, 0, false},
      {{"/Automation"}, std::nullopt, false, 0, false},
      {{"-REGSERVER"}, std::nullopt, false, 1, false},
      {{"-REGSERVER"}, "/elsewhere/quillet", false, 1, false},
      {{"-REGSERVER"}, program, false, 0, false},
      {{"-UNREGSERVER"}, program, false, 1, false},
      {{"-UNREGSERVER"}, std::nullopt, false, 0, false},
      {{"-UNREGSERVER"}, program, true, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " " + c.installed.value_or("(none)") +
                 (c.writable ? " writable" : " read-only"));
    testing::TestPlatform tp;
    tp.system.module_file_name = program;
    tp.registry.SetValue("Other", "kept");
    if (c.installed) {
      for (const std::string& call : kRegisterCalls) {
        const std::size_t equals = call.find(" = ");
        tp.registry.SetValue(call.substr(4, equals - 4), call.substr(equals + 3));
      }
      tp.registry.SetValue(kLocalServer, *c.installed);
    }
    const std::filesystem::path file = tp.dir.path() / "registry.reg";
    if (!c.writable) std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    const std::string before = testing::ReadFile(file);

    tp.gui.QueueAnswer(Answer::kOk);  // for a box, should one come
    tp.gui.QueueStep([&] { tp.gui.Terminate(); });
    EXPECT_EQ(Program(tp.platform()).Run(c.args), c.exit_code);

    if (c.told) {
      ASSERT_EQ(tp.gui.messages().size(), 1u);
      const gui::MessageSpec& box = tp.gui.messages()[0].spec;
      EXPECT_EQ(box.text,
                "Quillet could not register itself; run the installer as an administrator.");
      EXPECT_EQ(box.caption, "quillet");
      EXPECT_EQ(box.icon, gui::Icon::kWarning);
      EXPECT_EQ(box.buttons, gui::Buttons::kOk);
    } else {
      EXPECT_TRUE(tp.gui.messages().empty());
    }
    const StartMode mode = ParseStartMode(c.args);
    if (mode == StartMode::kRegister || mode == StartMode::kUnregister) {
      EXPECT_TRUE(tp.gui.windows().empty());
    }
    if (!c.writable) {
      EXPECT_EQ(testing::ReadFile(file), before);
    }
  }
}

TEST_F(ProgramTest, PlainStartRegistersAndRunsWithTheResidentWindow) {
  EXPECT_EQ(program_.Start({"-unknown"}), StartMode::kStandAlone);
  EXPECT_EQ(tp_.registry.calls, RegisterCalls());
  ASSERT_NE(program_.resident_window(), nullptr);
  const auto& window = tp_.gui.Find("Form2");
  EXPECT_FALSE(window.Visible());  // created invisible; the event loop shows it
  EXPECT_EQ(window.spec().caption, "QUILLET");
  EXPECT_EQ(tp_.gui.Title(), "quillet");

  tp_.gui.QueueStep([&] {
    EXPECT_TRUE(window.Visible());
    EXPECT_FALSE(window.maximized());
    tp_.gui.Terminate();
  });
  program_.RunEventLoop();
  EXPECT_FALSE(window.Visible());  // hidden once the loop has ended
}

TEST_F(ProgramTest, TheShowCommandDecidesHowTheResidentWindowAppears) {
  program_.Start({"-Embedding"});
  const auto& window = tp_.gui.Find("Form2");
  tp_.gui.SetShowCommand(gui::kShowMaximized);
  tp_.gui.QueueStep([&] {
    EXPECT_TRUE(window.Visible());
    EXPECT_TRUE(window.maximized());
    tp_.gui.Terminate();
  });
  program_.RunEventLoop();
  EXPECT_FALSE(tp_.gui.minimized());
}

TEST_F(ProgramTest, MinimisedWithoutActivationLeavesTheWindowHidden) {
  program_.Start({});
  const auto& window = tp_.gui.Find("Form2");
  tp_.gui.SetShowCommand(gui::kShowMinNoActive);
  tp_.gui.QueueStep([&] {
    EXPECT_FALSE(window.Visible());
    EXPECT_TRUE(tp_.gui.minimized());
    tp_.gui.Terminate();
  });
  program_.RunEventLoop();
}

const char kQuitQuestion[] =
    "Are you sure that you want to quit Quillet?  You will have to restart Groupwise to access "
    "Quillet again.";

TEST_F(ProgramTest, ClosingTheResidentWindowAsksFirst) {
  program_.Start({});
  auto& window = tp_.gui.Find("Form2");
  bool ran_on = false;
  tp_.gui.QueueStep([&] { window.UserClose(); });
  tp_.gui.QueueAnswer(Answer::kCancel);
  tp_.gui.QueueStep([&] {
    ran_on = !tp_.gui.Terminated() && window.Visible();
    window.UserClose();
  });
  tp_.gui.QueueAnswer(Answer::kOk);
  program_.RunEventLoop();

  EXPECT_TRUE(ran_on);
  ASSERT_EQ(tp_.gui.messages().size(), 2u);
  const gui::MessageSpec& box = tp_.gui.messages()[0].spec;
  EXPECT_EQ(box.text, kQuitQuestion);
  EXPECT_EQ(box.caption, "Confirm");
  EXPECT_EQ(box.icon, gui::Icon::kQuestion);
  EXPECT_EQ(box.buttons, gui::Buttons::kOkCancel);
  EXPECT_TRUE(tp_.gui.Terminated());
}

TEST_F(ProgramTest, TheTaskBarEntryAndTheSessionEndAskToo) {
  program_.Start({});
  tp_.gui.QueueStep([&] {
    tp_.gui.Find("Form2").Hide();  // as after a command opened a window of its own
    tp_.gui.CloseTaskbarEntry();
  });
  tp_.gui.QueueAnswer(Answer::kCancel);
  tp_.gui.QueueStep([&] { EXPECT_FALSE(tp_.gui.EndSession()); });
  tp_.gui.QueueAnswer(Answer::kCancel);
  tp_.gui.QueueStep([&] { EXPECT_TRUE(tp_.gui.EndSession()); });
  tp_.gui.QueueAnswer(Answer::kOk);
  program_.RunEventLoop();
  ASSERT_EQ(tp_.gui.messages().size(), 3u);
  for (const auto& shown : tp_.gui.messages()) EXPECT_EQ(shown.spec.text, kQuitQuestion);
}

TEST_F(ProgramTest, ReleasingEveryClientObjectDoesNotEndTheProgram) {
  program_.Start({"-Embedding"});
  tp_.gui.QueueStep([&] {
    ole::Value server(tp_.com.CreateOleObject("QUILLET.C3PO"));
    ole::Value factory = ole::Get(server, "CommandFactory");
    ole::Value monitor = ole::Get(server, "EventMonitor");
    ole::Value icons = ole::Get(server, "IconFactory");
  });
  tp_.gui.QueueStep([&] {
    EXPECT_FALSE(tp_.gui.Terminated());
    EXPECT_GE(ole::LiveObjects::Count(), 3);  // the shared objects stay
    tp_.gui.Terminate();
  });
  program_.RunEventLoop();
  EXPECT_TRUE(tp_.gui.messages().empty());
}

// GroupWise's closing event, as it arrives while the program runs.
class ClosingEvent : public ole::AutoObject {
 public:
  ClosingEvent() : AutoObject(Table()) {}
  static const ole::DispatchTable& Table() {
    static const ole::DispatchTable table = std::move(
        ole::DispatchTable("Event").Property("PersistentID", &ClosingEvent::PersistentID));
    return table;
  }
  std::string PersistentID() { return "gw#e#2"; }
};

TEST_F(ProgramTest, TheClosingEventEndsTheProgramWithoutAQuestion) {
  program_.Start({"-Embedding"});
  bool returned = false;
  tp_.gui.QueueStep([&] {
    ole::Value server(tp_.com.CreateOleObject("QUILLET.C3PO"));
    ole::Call(ole::Get(server, "EventMonitor"), "Notify",
              {"GW.CLIENT", ole::Value(ole::MakeRef<ClosingEvent>())});
    returned = true;
  });
  program_.RunEventLoop();  // returns: the loop has ended
  EXPECT_TRUE(returned);
  EXPECT_TRUE(tp_.gui.messages().empty());
}

TEST_F(ProgramTest, ExitReleasesTheSharedObjects) {
  const int before = ole::LiveObjects::Count();
  program_.Start({});
  EXPECT_EQ(ole::LiveObjects::Count(), before + 3);
  program_.Exit();
  EXPECT_EQ(ole::LiveObjects::Count(), before);
  EXPECT_EQ(program_.resident_window(), nullptr);
}

// A window whose end calls the program back, as the mail client may call in while a released
// window gives up its references into it.
class CallingBackForm : public ui::Form {
 public:
  CallingBackForm(Program& program, int windows_to_open)
      : program_(program),
        window_(program.gui().NewWindow(Spec())),
        windows_to_open_(windows_to_open) {}
  ~CallingBackForm() override {
    for (int i = 0; i < windows_to_open_; ++i)
      program_.Own(std::make_unique<CallingBackForm>(program_, 0));
  }
  gui::Window& window() override { return *window_; }

 private:
  static gui::FormSpec Spec() {
    gui::FormSpec spec;
    spec.name = "Form";
    return spec;
  }
  Program& program_;
  std::unique_ptr<gui::Window> window_;
  int windows_to_open_;
};

TEST_F(ProgramTest, AWindowThatGoesMayOpenOthers) {
  program_.Release(program_.Own(std::make_unique<CallingBackForm>(program_, 64)));
  tp_.gui.Settle();
  EXPECT_EQ(tp_.gui.windows().size(), 64u);
}

}  // namespace
}  // namespace quillet::host
