// The program's C3PO classes: the server GroupWise creates, the shared command factory, icon
// factory and event monitor, and the command objects behind the menu entries.
#pragma once

#include <cstdint>
#include <string>

#include "host/c3po.h"

namespace quillet::host {

class Program;

class C3POServer : public TC3POServer {
 public:
  explicit C3POServer(Program& program);
  static const ole::DispatchTable& Table();

  Value CommandFactory();
  std::string Description();
  Value EventMonitor();
  Value IconFactory();
  bool CanShutdown();
  // GroupWise's C3POManager, which the server keeps until DeInit releases it.
  void Init(const Value& value);
  void DeInit();

 private:
  Program& program_;
};

class CommandFactory : public TCommandFactory {
 public:
  explicit CommandFactory(Program& program);
  static const ole::DispatchTable& Table();

  Value BuildCommand(const std::string& a, const std::string& b, const Value& c, const Value& d);
  void CustomizeContextMenu(const std::string& context, const Value& context_menu);
  bool CustomizeMenu(const std::string& context, const Value& menu_bar);
  std::int32_t Init(std::int32_t flags);
  bool CustomizeToolBar(const std::string& context, const Value& tool_bar);
  bool WantCommand(const std::string& a, const std::string& b);

 private:
  // Adds one entry to a menu's item collection, with a new command of its own.
  void AddEntry(const Value& items, const std::string& caption, std::int32_t id,
                const std::string& long_prompt);

  Program& program_;
};

class Command : public TGWCommand {
 public:
  Command(Program& program, std::int32_t id);
  static const ole::DispatchTable& Table();

  std::string LongPrompt();
  std::string ToolTip();
  void Execute();
  std::int32_t Validate();

  void SetLongPrompt(const std::string& text) { long_prompt_ = text; }
  std::int32_t id() const { return id_; }

 private:
  Program& program_;
  std::string long_prompt_;
  std::string tool_tip_;
  const std::int32_t id_;
};

class IconFactory : public TIconFactory {
 public:
  IconFactory();
  static const ole::DispatchTable& Table();

  void GetIcons(const std::string& name, std::string& file, std::int32_t& large,
                std::int32_t& small);
};

class EventMonitor : public TEventMonitor {
 public:
  explicit EventMonitor(Program& program);
  static const ole::DispatchTable& Table();

  void Notify(const std::string& context, const Value& event);

 private:
  Program& program_;
};

}  // namespace quillet::host
