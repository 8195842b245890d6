// The mail client's extension host: it creates the extension's server by its ProgID, asks the
// command factory to fill the menus of every message window it opens, executes the commands the
// user picks, and reports the client's events. Every call crosses the dispatch interface by name.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/com.h"

namespace quillet::mailsim {

// One entry of a menu: the client's own, or one the extension added. Menus are lists, so that
// the menu objects handed to the extension can keep pointing at them while entries are added.
struct MenuEntry {
  std::string caption;            // empty for a separator
  ole::Value command;             // the host's reference to the command object
  std::list<MenuEntry> sub_menu;  // the entries of a pull-down added with AddMenu
  bool separator = false;
};

// The pull-downs of a message window's menu bar before any extension adds to it.
inline const std::vector<std::string> kClientMenus = {"&File",  "&Edit",   "&View", "&Actions",
                                                      "&Tools", "&Window", "&Help"};

// The menus of one window.
struct HostWindow {
  std::string context;
  std::list<MenuEntry> menu_bar;
  std::list<MenuEntry> context_menu;
  bool customize_menu_answer = true;
};

// The outcome of executing a command, as the host sees it.
struct Execution {
  ole::HResult result = ole::hr::kOk;
  ole::ExcepInfo excep;
};

class C3POManager;

// The menu object the host hands to an extension for these entries.
ole::Value MenuObject(std::list<MenuEntry>& entries);

class C3POHost {
 public:
  // The locale the host hands to the command factory's Init: US English.
  static constexpr std::int32_t kLocaleId = 1033;

  explicit C3POHost(ole::Com& com, std::string progid = "QUILLET.C3PO");
  ~C3POHost();

  // Creates the server, reads its three factories, initialises the server with a C3POManager
  // and the command factory with the locale. Failures raise OleError.
  void Start();
  // A window of this context opens: its menu bar and context menu are customised. Returns the
  // window's index.
  int OpenWindow(const std::string& context);
  // The user right-clicks an item of this context in a list: only a context menu is customised.
  // It becomes the newest window's context menu.
  void OpenContextMenu(const std::string& context);
  const std::list<HostWindow>& windows() const { return windows_; }
  const HostWindow& newest_window() const { return windows_.back(); }

  // The text the host shows for an entry's command.
  static std::string LongPrompt(const MenuEntry& entry);
  // The entry of that caption; raises when the menu has none.
  static const MenuEntry& Find(const std::list<MenuEntry>& menu, const std::string& caption);
  // Picks an entry of the newest window: from the pull-down of that caption in the menu bar, or
  // from the context menu.
  Execution Pick(const std::string& pull_down, const std::string& caption);
  Execution PickFromContextMenu(const std::string& caption);
  // Validates the entry's command, then executes it.
  Execution Execute(const MenuEntry& entry);

  // Reports a client event to the event monitor, as an event object with that identifier.
  void Notify(const std::string& context, const std::string& event_id);
  // The client closes: the closing event, CanShutdown and, when the server agrees, DeInit (a
  // server that has already ended is not asked); then every reference is released.
  void Close();
  // The references to the C3POManager held by others than the host.
  std::uint32_t manager_holds() const;
  // The calls of Validate, Execute, CanShutdown and DeInit, in order.
  const std::vector<std::string>& calls() const { return calls_; }

  std::int32_t factory_init_answer() const { return factory_init_answer_; }
  const ole::Value& server() const { return server_; }
  const ole::Value& command_factory() const { return command_factory_; }

 private:
  ole::Com& com_;
  std::string progid_;
  ole::Value server_;
  ole::Value command_factory_;
  ole::Value icon_factory_;
  ole::Value event_monitor_;
  std::int32_t factory_init_answer_ = 0;
  std::list<HostWindow> windows_;
  ole::Ref<C3POManager> manager_;
  std::vector<std::string> calls_;
};

}  // namespace quillet::mailsim
