// The whole system at work on Linux: the simulated mail client loads Quillet, a user encrypts a
// mail with two attachments for Bob, and Bob decrypts it into a note. Every step is printed as a
// person would see it. Usage: quillet_demo PGP-PROGRAM (drive C: is $QUILLET_ROOT).
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "host/program.h"
#include "mailsim/c3pohost.h"
#include "mailsim/mail_client.h"
#include "platform/linux/file_registry.h"
#include "platform/linux/headless_gui.h"
#include "platform/linux/linux_processes.h"
#include "platform/linux/process_com.h"

namespace {

using namespace quillet;

void Say(const std::string& text) {
  std::cout << "\n== " << text << std::endl;
}

void Show(const std::string& title, const std::string& text) {
  std::cout << title << ":\n";
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::cout << "    " << line << "\n";
  }
}

void ShowItem(const mailsim::Item& item) {
  std::cout << "From: " << item.sender << "\nSubject: " << item.subject << "\n";
  Show("Body", item.body);
  for (const mailsim::Attachment& a : item.attachments) Show("Attachment " + a.name, a.bytes);
}

int Run(const std::string& pgp_program) {
  const std::filesystem::path root = std::getenv("QUILLET_ROOT");
  const std::filesystem::path pgp_dir = root / "PGP";
  std::filesystem::create_directories(pgp_dir);
  std::filesystem::copy_file(pgp_program, pgp_dir / "pgp",
                             std::filesystem::copy_options::overwrite_existing);
  setenv("FAKEPGP_KEYS", (pgp_dir / "keyring.txt").c_str(), 1);
  std::ofstream(pgp_dir / "keyring.txt") << "pub|1024|22222222|2026/01/01|Me <me@example.com>\n"
                                            "sec|1024|22222222|2026/01/01|Me <me@example.com>\n"
                                            "pub|1024|11111111|2026/01/01|Bob <bob@example.com>\n"
                                            "sec|1024|11111111|2026/01/01|Bob <bob@example.com>\n";

  linux_platform::FileRegistry registry((root / "registry.reg").string());
  linux_platform::ProcessCom com(registry);
  linux_platform::HeadlessGui gui;
  linux_platform::LinuxProcesses processes(gui.input_fd());
  gui.SetPatience([&processes] { processes.WaitForShellStarts(); });
  gui.SetTranscript(&std::cout);
  host::Program program({com, registry, System::Default(), gui, processes});

  Say("GroupWise starts and loads Quillet");
  mailsim::MailClient client({"me@example.com", "Me"});
  client.AddUser({"bob@example.com", "Bob"});
  client.Register(com, registry);
  program.Start({"-Embedding"});
  mailsim::C3POHost host(com);
  host.Start();
  client.SetViewObserver([&host](const mailsim::View& view) { host.OpenWindow(view.context); });

  Say("Me opens a new mail; GroupWise adds Quillet's menu to its window");
  client.NewMail();
  for (const mailsim::MenuEntry& entry : host.newest_window().menu_bar.front().sub_menu)
    std::cout << "&PGP > " << entry.caption << "   (" << mailsim::C3POHost::LongPrompt(entry)
              << ")\n";
  client.TypeSubject("Plans");
  client.TypeBody("Meet at noon.\nBring the plans.");
  client.Attach("plans.txt", "Room 4, first floor");
  client.Attach("agenda.txt", "1. Budget\n2. Dates");
  client.AddressTo("bob@example.com");

  Say("Me picks &PGP > &Encrypt; the first time, Quillet asks where PGP is");
  gui.QueueFile((pgp_dir / "pgp").string());
  host.Pick("&PGP", "&Encrypt");
  std::cout << "The dialog has no keys to show yet, so Me cancels it and picks Encrypt again.\n";
  gui.Find("EncryptForm").UserClick("CancelBtn");
  gui.Settle();
  gui.QueueAnswer(gui::Answer::kOk);  // PGP lists the key rings
  host.Pick("&PGP", "&Encrypt");
  auto& dialog = gui.Find("EncryptForm");
  const auto& recipients = dialog.list_box("RecipList").Items();
  for (std::size_t i = 0; i < recipients.size(); ++i)
    std::cout << "recipient list " << i << ":" << recipients[i] << "\n";
  dialog.UserSelect("RecipList", {1});
  dialog.UserChoose("EOption", 1);
  dialog.UserType("Password", "my secret");
  dialog.UserClick("OKBtn");
  gui.Settle();
  Show("The mail now reads", client.NewItem().body);
  for (const mailsim::Attachment& a : client.NewItem().attachments)
    std::cout << "attachment " << a.name << "\n";
  client.SendNewMail();

  Say("Bob selects the mail in his item list and picks Decrypt this item from its context menu");
  client.SwitchUser("bob@example.com");
  client.ShowItemList({client.Mailbox("bob@example.com").back().id});
  host.OpenContextMenu("GW.MESSAGE.MAIL");
  const mailsim::Execution decrypted = host.PickFromContextMenu("&Decrypt this item");
  gui.Settle();
  if (decrypted.result != ole::hr::kOk) {
    std::cout << "decryption failed: " << decrypted.excep.description << "\n";
    return 1;
  }
  Say("The note that arrives for Bob");
  ShowItem(client.FindItem(client.view().item_id));

  Say("The PGP directory afterwards");
  for (const auto& entry : std::filesystem::directory_iterator(pgp_dir))
    std::cout << entry.path().filename().string() << "\n";
  host.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || !std::getenv("QUILLET_ROOT")) {
    std::cerr << "usage: QUILLET_ROOT=DIR quillet_demo PGP-PROGRAM\n";
    return 2;
  }
  return Run(argv[1]);
}
