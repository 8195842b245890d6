#include "host/program.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "base/text.h"
#include "ui/form.h"

namespace quillet::host {

using ole::MakeRef;
using ole::Ref;

StartMode ParseStartMode(const std::vector<std::string>& args) {
  auto has = [&args](const char* name) {
    for (const std::string& arg : args)
      if (!arg.empty() && (arg[0] == '-' || arg[0] == '/') &&
          EqualsIgnoreCase(std::string_view(arg).substr(1), name))
        return true;
    return false;
  };
  if (has("AUTOMATION") || has("EMBEDDING")) return StartMode::kAutomation;
  if (has("REGSERVER")) return StartMode::kRegister;
  if (has("UNREGSERVER")) return StartMode::kUnregister;
  return StartMode::kStandAlone;
}

namespace {

struct Entry {
  std::string key;
  std::string value;
};

std::vector<Entry> Entries(const ClassRegistration& cls, const std::string& program) {
  const std::string clsid_key = std::string("CLSID\\") + cls.clsid;
  const std::string command =
      program.find(' ') == std::string::npos ? program : '"' + program + '"';
  return {
      {cls.progid, cls.description},
      {std::string(cls.progid) + "\\Clsid", cls.clsid},
      {clsid_key, cls.description},
      {clsid_key + "\\ProgID", cls.progid},
      {clsid_key + "\\LocalServer32", command},
  };
}

constexpr std::int32_t kKeyMissing = 2;  // ERROR_FILE_NOT_FOUND

constexpr char kNotRegistered[] =
    "Quillet could not register itself; run the installer as an administrator.";

}  // namespace

bool RegisterServer(Registry& registry, const ClassRegistration& cls, const std::string& program) {
  bool written = true;
  for (const Entry& entry : Entries(cls, program))
    if (registry.SetValue(entry.key, entry.value) != 0) written = false;
  return written;
}

bool ServerRegistered(Registry& registry, const ClassRegistration& cls,
                      const std::string& program) {
  for (const Entry& entry : Entries(cls, program)) {
    const std::optional<std::string> value = registry.QueryValue(entry.key);
    if (!value || !EqualsIgnoreCase(*value, entry.value)) return false;
  }
  return true;
}

bool UnregisterServer(Registry& registry, const ClassRegistration& cls) {
  const std::vector<Entry> entries = Entries(cls, {});
  bool deleted = true;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const std::int32_t result = registry.DeleteKey(it->key);
    if (result != 0 && result != kKeyMissing) deleted = false;
  }
  return deleted;
}

Program::Program(Platform platform) : platform_(platform) {}

Program::~Program() {
  if (class_registered_ || resident_ || command_factory_ || !forms_.empty()) Exit();
}

StartMode Program::Start(const std::vector<std::string>& args) {
  platform_.com.Initialize();
  const StartMode mode = mode_ = ParseStartMode(args);

  auto factory = MakeRef<ole::AutoObjectFactory>(
      [this] { return Ref<ole::Dispatch>(MakeRef<C3POServer>(*this)); });
  class_registered_ = !ole::hr::Failed(
      platform_.com.RegisterClassObject(kServerClass.clsid, factory, &class_cookie_));

  command_factory_ = MakeRef<host::CommandFactory>(*this);
  icon_factory_ = MakeRef<host::IconFactory>();
  event_monitor_ = MakeRef<host::EventMonitor>(*this);

  // A standard user cannot write the entries; they still count as written when they are in place
  // already, as an installer run by an administrator left them.
  const std::string program = platform_.system.ModuleFileName();
  if (mode == StartMode::kUnregister)
    entries_as_asked_ = UnregisterServer(platform_.registry, kServerClass);
  else
    entries_as_asked_ = RegisterServer(platform_.registry, kServerClass, program) ||
                        ServerRegistered(platform_.registry, kServerClass, program);
  if (mode == StartMode::kRegister || mode == StartMode::kUnregister) return mode;

  gui().SetTitleFromPath(program);
  resident_ = std::make_unique<TForm2>(gui());
  resident_->Hide();
  gui().SetMainWindow(&resident_->window());
  return mode;
}

void Program::RunEventLoop() {
  switch (gui().ShowCommand()) {
    case gui::kShowMaximized:
      resident_->window().ShowMaximized();
      break;
    case gui::kShowMinNoActive:
      gui().Minimize();
      break;
    default:
      resident_->Show();
  }
  // Started by the mail client, the program keeps quiet: nobody may be there to read a box.
  if (mode_ == StartMode::kStandAlone && !entries_as_asked_)
    gui().ShowMessage({kNotRegistered, gui().Title(), gui::Icon::kWarning, gui::Buttons::kOk});
  gui().Run();
  resident_->Hide();
}

void Program::ShowResidentWindow() {
  if (resident_) resident_->ShowInForeground();
}

// A window goes out of the list before it is destroyed: its end releases its references into
// the mail client, and while such a call waits, COM lets the mail client call in, which may open
// new windows and so change the list.
void Program::Release(ui::Form& form) {
  form.window().Hide();
  gui().PostToIdle([this, released = &form] {
    const auto kept = std::ranges::find_if(
        forms_, [released](const auto& kept) { return kept.get() == released; });
    if (kept == forms_.end()) return;
    const std::unique_ptr<ui::Form> gone = std::move(*kept);
    forms_.erase(kept);
  });
}

void Program::Exit() {
  std::exchange(forms_, {}).clear();  // out of the list first, as in Release
  if (resident_) gui().SetMainWindow(nullptr);
  resident_.reset();
  object_api_.Release();
  command_factory_.reset();
  icon_factory_.reset();
  event_monitor_.reset();
  server_init_ = Value();
  if (class_registered_) platform_.com.RevokeClassObject(class_cookie_);
  class_registered_ = false;
  platform_.com.Uninitialize();
}

int Program::Run(const std::vector<std::string>& args) {
  const StartMode mode = Start(args);
  const bool registering = mode == StartMode::kRegister || mode == StartMode::kUnregister;
  if (!registering) RunEventLoop();
  Exit();
  // Tells whoever ran the register switches (an installer) whether the entries are as asked.
  return registering && !entries_as_asked_ ? 1 : 0;
}

}  // namespace quillet::host
