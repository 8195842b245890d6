#include "host/c3po.h"

namespace quillet::host {

using ole::DispatchTable;

const DispatchTable& TC3POServer::BaseTable() {
  static const DispatchTable table =
      std::move(DispatchTable("TC3POServer")
                    .Property("CommandFactory", &TC3POServer::CommandFactory)
                    .Property("Description", &TC3POServer::Description)
                    .Property("EventMonitor", &TC3POServer::EventMonitor)
                    .Property("IconFactory", &TC3POServer::IconFactory)
                    .Method("CanShutdown", &TC3POServer::CanShutdown)
                    .Method("DeInit", &TC3POServer::DeInit)
                    .Method("Init", &TC3POServer::Init));
  return table;
}

const DispatchTable& TCommandFactory::BaseTable() {
  static const DispatchTable table =
      std::move(DispatchTable("TCommandFactory")
                    .Method("BuildCommand", &TCommandFactory::BuildCommand)
                    .Method("CustomizeContextMenu", &TCommandFactory::CustomizeContextMenu)
                    .Method("CustomizeMenu", &TCommandFactory::CustomizeMenu)
                    .Method("CustomizeToolBar", &TCommandFactory::CustomizeToolBar)
                    .Method("Init", &TCommandFactory::Init)
                    .Method("WantCommand", &TCommandFactory::WantCommand));
  return table;
}

const DispatchTable& TGWCommand::BaseTable() {
  static const DispatchTable table =
      std::move(DispatchTable("TGWCommand")
                    .Property("BaseCmd", &TGWCommand::BaseCmd)
                    .Property("LongPrompt", &TGWCommand::LongPrompt)
                    .Property("Parameters", &TGWCommand::Parameters)
                    .Property("PersistentID", &TGWCommand::PersistentID)
                    .Property("ToolTip", &TGWCommand::ToolTip)
                    .Method("Execute", &TGWCommand::Execute)
                    .Method("Help", &TGWCommand::Help)
                    .Method("Undo", &TGWCommand::Undo)
                    .Method("Validate", &TGWCommand::Validate));
  return table;
}

const DispatchTable& TIconFactory::BaseTable() {
  static const DispatchTable table =
      std::move(DispatchTable("TIconFactory").Method("GetIcons", &TIconFactory::GetIcons));
  return table;
}

const DispatchTable& TEventMonitor::BaseTable() {
  static const DispatchTable table =
      std::move(DispatchTable("TEventMonitor").Method("Notify", &TEventMonitor::Notify));
  return table;
}

}  // namespace quillet::host
