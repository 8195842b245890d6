// Start-up and exit of the program as an out-of-process automation server: the command-line
// switches, the registry entries, the class object, the shared C3PO objects, the resident window
// and the event loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/gwapi.h"
#include "host/servobj.h"
#include "host/tempform.h"
#include "platform/platform.h"
#include "ui/app.h"

namespace quillet::host {

enum class StartMode { kStandAlone, kAutomation, kRegister, kUnregister };

// Switches start with "-" or "/" and match as a whole, ignoring case; "AUTOMATION" and
// "EMBEDDING" win over "REGSERVER", which wins over "UNREGSERVER". Other arguments are ignored.
StartMode ParseStartMode(const std::vector<std::string>& args);

// The class the server offers, fixed at build time.
struct ClassRegistration {
  const char* progid;
  const char* clsid;
  const char* description;
};
inline constexpr ClassRegistration kServerClass = {
    "QUILLET.C3PO", "{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}", "Quillet C3PO Object"};

// Writes the five entries in their order, each whatever became of the one before; false when the
// registry refused one. The program's path is written in double quotes when it holds a blank, so
// that the system cannot take the part before the blank for the program to start.
bool RegisterServer(Registry& registry, const ClassRegistration& cls, const std::string& program);
// Whether the five entries hold what RegisterServer writes, as Windows compares names: without
// regard to case.
bool ServerRegistered(Registry& registry, const ClassRegistration& cls, const std::string& program);
// Deletes them in the reverse order; false when one of them is left.
bool UnregisterServer(Registry& registry, const ClassRegistration& cls);

class Program : public ui::App {
 public:
  explicit Program(Platform platform);
  ~Program() override;

  // The whole life of the process; returns its exit code: 1 when the register modes could not
  // leave the entries as asked, 0 otherwise.
  int Run(const std::vector<std::string>& args);

  // Start-up up to the event loop; in the register modes it stops after the registry update.
  StartMode Start(const std::vector<std::string>& args);
  // Shows the resident window as the process's show command says and runs the event loop until
  // it is told to stop. A stand-alone start that could not register the server says so first.
  void RunEventLoop();
  // Destroys the windows, releases the shared objects, revokes the class object, shuts OLE down.
  void Exit();

  Platform& platform() override { return platform_; }
  // Null before start-up creates it and in the register modes.
  TForm2* resident_window() { return resident_.get(); }
  const ole::Ref<host::CommandFactory>& command_factory() const { return command_factory_; }
  const ole::Ref<host::IconFactory>& icon_factory() const { return icon_factory_; }
  const ole::Ref<host::EventMonitor>& event_monitor() const { return event_monitor_; }
  channel::ObjectApi& object_api() override { return object_api_; }
  ui::OperationLock& operation_lock() override { return operation_lock_; }
  void ShowResidentWindow() override;
  // Keeps a window of the user operations until it is released or the program ends.
  template <typename F>
  F& Own(std::unique_ptr<F> form) {
    F& kept = *form;
    forms_.push_back(std::move(form));
    return kept;
  }
  void Release(ui::Form& form) override;

  // The value the newest server's Init was given, kept until the program ends.
  void KeepServerInit(const Value& value) { server_init_ = value; }

 private:
  Platform platform_;
  channel::ObjectApi object_api_{platform_.com};
  std::uint32_t class_cookie_ = 0;
  bool class_registered_ = false;
  StartMode mode_ = StartMode::kStandAlone;
  // Whether the registry holds the entries as the start mode wants them (none in unregister mode).
  bool entries_as_asked_ = true;
  ole::Ref<host::CommandFactory> command_factory_;
  ole::Ref<host::IconFactory> icon_factory_;
  ole::Ref<host::EventMonitor> event_monitor_;
  Value server_init_;
  ui::OperationLock operation_lock_;
  std::unique_ptr<TForm2> resident_;
  std::vector<std::unique_ptr<ui::Form>> forms_;
};

}  // namespace quillet::host
