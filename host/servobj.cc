#include "host/servobj.h"

#include "base/error.h"
#include "base/text.h"
#include "host/c3poinc.h"
#include "host/program.h"
#include "ui/encrypt.h"
#include "ui/pgp2.h"

namespace quillet::host {

using ole::DispatchTable;
using ole::MakeRef;
using ole::Ref;

namespace {

bool IsMessageContext(const std::string& context) {
  return StartsWithIgnoreCase(context, kMessageContext);
}

struct MenuEntry {
  const char* caption;
  std::int32_t id;
  const char* long_prompt;
};

// The entries of the "&PGP" pull-down and of the context menu, in the order they are added.
constexpr MenuEntry kEntries[] = {
    {"&Quillet", kCmdQuillet, "PGP Main Menu"},
    {"&Encrypt", kCmdEncrypt, "Encrypt the current mail"},
    {"&Decrypt this item", kCmdDecrypt, "Decrypt the current mail"},
    {"&Mail PGP Key", kCmdMailKey, "Mail your main PGP key to someone"},
    {"&Add PGP Key to Ring", kCmdKeyToRing, "Add this PGP key to public keyring"},
    {"&New PGP Key", kCmdNewKey, "Make a new secret PGP key"},
};

}  // namespace

// --- C3POServer ---

C3POServer::C3POServer(Program& program) : TC3POServer(Table()), program_(program) {}

const DispatchTable& C3POServer::Table() {
  static const DispatchTable table =
      std::move(DispatchTable("C3POServer", &BaseTable())
                    .Property("CommandFactory", &C3POServer::CommandFactory)
                    .Property("Description", &C3POServer::Description)
                    .Property("EventMonitor", &C3POServer::EventMonitor)
                    .Property("IconFactory", &C3POServer::IconFactory)
                    .Method("CanShutdown", &C3POServer::CanShutdown)
                    .Method("Init", &C3POServer::Init)
                    .Method("DeInit", &C3POServer::DeInit));
  return table;
}

Value C3POServer::CommandFactory() {
  return Value(program_.command_factory());
}
std::string C3POServer::Description() {
  return "Quillet";
}
Value C3POServer::EventMonitor() {
  return Value(program_.event_monitor());
}
Value C3POServer::IconFactory() {
  return Value(program_.icon_factory());
}
bool C3POServer::CanShutdown() {
  return true;
}
void C3POServer::Init(const Value& value) {
  program_.KeepServerInit(value);
}
// GroupWise shuts down cleanly only when every hold on its C3POManager is released here.
void C3POServer::DeInit() {
  program_.KeepServerInit(Value());
}

// --- CommandFactory ---

CommandFactory::CommandFactory(Program& program) : TCommandFactory(Table()), program_(program) {}

const DispatchTable& CommandFactory::Table() {
  static const DispatchTable table =
      std::move(DispatchTable("CommandFactory", &BaseTable())
                    .Method("BuildCommand", &CommandFactory::BuildCommand)
                    .Method("CustomizeContextMenu", &CommandFactory::CustomizeContextMenu)
                    .Method("CustomizeMenu", &CommandFactory::CustomizeMenu)
                    .Method("Init", &CommandFactory::Init)
                    .Method("CustomizeToolBar", &CommandFactory::CustomizeToolBar)
                    .Method("WantCommand", &CommandFactory::WantCommand));
  return table;
}

Value CommandFactory::BuildCommand(const std::string&, const std::string&, const Value&,
                                   const Value&) {
  return Value();
}

void CommandFactory::AddEntry(const Value& items, const std::string& caption, std::int32_t id,
                              const std::string& long_prompt) {
  Ref<Command> command = MakeRef<Command>(program_, id);
  ole::Call(items, "Add", {caption, Value(command)});
  // GroupWise reads the prompt later; from here on only its reference keeps the command.
  command->SetLongPrompt(long_prompt);
}

void CommandFactory::CustomizeContextMenu(const std::string& context, const Value& context_menu) {
  const Value items = ole::Get(context_menu, "MenuItems");
  if (!IsMessageContext(context)) return;
  ole::Call(items, "AddSeparator");
  for (const MenuEntry& entry : kEntries)
    AddEntry(items, entry.caption, entry.id, entry.long_prompt);
}

bool CommandFactory::CustomizeMenu(const std::string& context, const Value& menu_bar) {
  if (!IsMessageContext(context)) return false;
  const Value items = ole::Get(menu_bar, "MenuItems");
  Ref<Command> pull_down = MakeRef<Command>(program_, kCmdPgpMenu);
  const Value sub_menu = ole::Get(items, "AddMenu", {"&PGP", Value(pull_down), kPgpMenuPosition});
  pull_down->SetLongPrompt("Access Quillet functions");
  pull_down.reset();
  for (const MenuEntry& entry : kEntries)
    AddEntry(ole::Get(sub_menu, "MenuItems"), entry.caption, entry.id, entry.long_prompt);
  return false;
}

std::int32_t CommandFactory::Init(std::int32_t) {
  return kFactoryInitAnswer;
}

bool CommandFactory::CustomizeToolBar(const std::string&, const Value&) {
  return false;
}

// No command is built on demand, so none is claimed.
bool CommandFactory::WantCommand(const std::string&, const std::string&) {
  return false;
}

// --- Command ---

Command::Command(Program& program, std::int32_t id)
    : TGWCommand(Table()), program_(program), id_(id) {}

const DispatchTable& Command::Table() {
  static const DispatchTable table = std::move(DispatchTable("Command", &BaseTable())
                                                   .Property("LongPrompt", &Command::LongPrompt)
                                                   .Property("ToolTip", &Command::ToolTip)
                                                   .Method("Execute", &Command::Execute)
                                                   .Method("Validate", &Command::Validate));
  return table;
}

std::string Command::LongPrompt() {
  return long_prompt_;
}
std::string Command::ToolTip() {
  return tool_tip_;
}
std::int32_t Command::Validate() {
  return 1;
}
namespace {

// Releases a window of one command when the command ends, however it ends, unless the user has
// it in front of them.
struct ReleasedUnlessShown {
  ReleasedUnlessShown(Program& program, ui::Form& form) : program(program), form(form) {}
  Program& program;
  ui::Form& form;
  ReleasedUnlessShown(const ReleasedUnlessShown&) = delete;
  ReleasedUnlessShown& operator=(const ReleasedUnlessShown&) = delete;
  ~ReleasedUnlessShown() {
    if (!form.window().Visible()) program.Release(form);
  }
};

// Runs an operation on a new main window that nobody sees, and releases the window afterwards.
template <typename Operation>
void OnHiddenMainWindow(Program& program, Operation operation) {
  ui::TForm1& form = program.Own(std::make_unique<ui::TForm1>(program));
  form.window().Hide();
  const ReleasedUnlessShown release{program, form};
  operation(form);
}

void HideResidentWindow(Program& program) {
  if (TForm2* resident = program.resident_window()) resident->Hide();
}

}  // namespace

void Command::Execute() {
  switch (id_) {
    case kCmdQuillet: {
      ui::TForm1& form = program_.Own(std::make_unique<ui::TForm1>(program_));
      form.window().Show();
      form.window().BringToForeground();
      HideResidentWindow(program_);
      break;
    }
    case kCmdEncrypt: {
      ui::TEncryptForm& dialog = program_.Own(std::make_unique<ui::TEncryptForm>(program_));
      const ReleasedUnlessShown release{program_, dialog};
      if (dialog.WPO.ItemMessageIdFromView(channel::TWP::Spelling::kLower) == channel::kNewItem) {
        dialog.window().Show();
        dialog.window().BringToForeground();
      } else {
        // The user picks Encrypt again in the new mail; this dialog is not used.
        dialog.WPO.NewMail();
      }
      HideResidentWindow(program_);
      break;
    }
    case kCmdDecrypt:
      OnHiddenMainWindow(program_, [](ui::TForm1& form) { form.DecryptClick(); });
      break;
    case kCmdKeyToRing:
      OnHiddenMainWindow(program_, [](ui::TForm1& form) { form.Key_To_RingClick(); });
      break;
    case kCmdMailKey:
      OnHiddenMainWindow(program_, [this](ui::TForm1& form) {
        if (form.WPO.ItemMessageIdFromView(channel::TWP::Spelling::kLower) != channel::kNewItem)
          form.WPO.NewMail();
        const std::string user_id = form.SendList.UserIDAt(0);
        if (user_id.empty()) {
          program_.gui().Confirm("No secret key found. Make a key with New PGP Key first.",
                                 gui::Buttons::kOk);
          return;
        }
        form.MailKeyIntoBody(user_id);
      });
      break;
    case kCmdNewKey:
      OnHiddenMainWindow(program_, [](ui::TForm1& form) { form.PGP.GenerateKey(); });
      break;
    default:
      break;  // the pull-down itself
  }
}

// --- IconFactory ---

IconFactory::IconFactory() : TIconFactory(Table()) {}

const DispatchTable& IconFactory::Table() {
  static const DispatchTable table = std::move(
      DispatchTable("IconFactory", &BaseTable()).Method("GetIcons", &IconFactory::GetIcons));
  return table;
}

// The program has no icons of its own; the by-reference arguments go back unchanged.
void IconFactory::GetIcons(const std::string&, std::string&, std::int32_t&, std::int32_t&) {}

// --- EventMonitor ---

EventMonitor::EventMonitor(Program& program) : TEventMonitor(Table()), program_(program) {}

const DispatchTable& EventMonitor::Table() {
  static const DispatchTable table = std::move(
      DispatchTable("EventMonitor", &BaseTable()).Method("Notify", &EventMonitor::Notify));
  return table;
}

void EventMonitor::Notify(const std::string&, const Value& event) {
  const Value id = ole::Convert(ole::Get(event, "PersistentID"), ole::VarType::kString);
  if (EqualsIgnoreCase(id.AsString(), kClosingEvent)) program_.gui().Terminate();
}

}  // namespace quillet::host
