// The C3PO base classes: the complete member sets GroupWise may call on an extension's server,
// command factory, command, icon factory and event monitor, with default bodies. The program's
// classes derive from them and re-declare what they implement.
#pragma once

#include <cstdint>
#include <string>

#include "platform/autoobject.h"

namespace quillet::host {

using ole::Value;

class TC3POServer : public ole::AutoObject {
 public:
  static const ole::DispatchTable& BaseTable();

  Value CommandFactory() { return Value(); }
  std::string Description() { return {}; }
  Value EventMonitor() { return Value(); }
  Value IconFactory() { return Value(); }
  bool CanShutdown() { return true; }
  void DeInit() {}
  void Init(const Value&) {}

 protected:
  explicit TC3POServer(const ole::DispatchTable& table) : AutoObject(table) {}
};

class TCommandFactory : public ole::AutoObject {
 public:
  static const ole::DispatchTable& BaseTable();

  Value BuildCommand(const std::string&, const std::string&, const Value&, const Value&) {
    return Value();
  }
  void CustomizeContextMenu(const std::string&, const Value&) {}
  bool CustomizeMenu(const std::string&, const Value&) { return false; }
  bool CustomizeToolBar(const std::string&, const Value&) { return false; }
  std::int32_t Init(std::int32_t) { return 0; }
  bool WantCommand(const std::string&, const std::string&) { return false; }

 protected:
  explicit TCommandFactory(const ole::DispatchTable& table) : AutoObject(table) {}
};

class TGWCommand : public ole::AutoObject {
 public:
  static const ole::DispatchTable& BaseTable();

  Value BaseCmd() { return Value(true); }
  std::string LongPrompt() { return "TRUE"; }
  std::int32_t Parameters() { return 0; }
  std::string PersistentID() { return {}; }
  std::string ToolTip() { return "TRUE"; }
  void Execute() {}
  void Help() {}
  void Undo() {}
  std::int32_t Validate() { return 1; }

 protected:
  explicit TGWCommand(const ole::DispatchTable& table) : AutoObject(table) {}
};

class TIconFactory : public ole::AutoObject {
 public:
  static const ole::DispatchTable& BaseTable();

  void GetIcons(const std::string&, std::string&, std::int32_t&, std::int32_t&) {}

 protected:
  explicit TIconFactory(const ole::DispatchTable& table) : AutoObject(table) {}
};

class TEventMonitor : public ole::AutoObject {
 public:
  static const ole::DispatchTable& BaseTable();

  void Notify(const std::string&, const Value&) {}

 protected:
  explicit TEventMonitor(const ole::DispatchTable& table) : AutoObject(table) {}
};

}  // namespace quillet::host
