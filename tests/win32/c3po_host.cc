// The mail client's extension host as a Windows program: creates "QUILLET.C3PO" (COM starts the
// registered server), prints the menu its command factory builds for a message window, and sends
// the closing event, which ends the server.
#include <cstdio>

#include "mailsim/c3pohost.h"

int main() {
  using namespace quillet;
  ole::Com& com = ole::Com::Default();
  com.Initialize();
  int status = 0;
  try {
    mailsim::C3POHost host(com);
    host.Start();
    std::printf("factory Init answered %d\n", host.factory_init_answer());
    host.OpenWindow("GW.MESSAGE.MAIL");
    for (const mailsim::MenuEntry& pull_down : host.newest_window().menu_bar)
      for (const mailsim::MenuEntry& entry : pull_down.sub_menu)
        std::printf("%s > %s (%s)\n", pull_down.caption.c_str(), entry.caption.c_str(),
                    mailsim::C3POHost::LongPrompt(entry).c_str());
    std::printf("context menu entries: %zu\n", host.newest_window().context_menu.size());
    host.Close();
  } catch (const std::exception& e) {
    std::printf("host failed: %s\n", e.what());
    status = 1;
  }
  com.Uninitialize();
  return status;
}
