// The whole system at work on Linux: the simulated mail client loads Quillet, Alice encrypts and
// signs a mail with two attachments for Bob, and Bob decrypts it into a note. Every step is
// printed as a person would see it. Usage: quillet_demo PGP-PROGRAM ALICE-KEYS BOB-KEYS, where the
// key files hold each user's armoured public and secret key (pass phrases "alice pass" and
// "bob pass"); drive C: is $QUILLET_ROOT.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "base/error.h"
#include "base/text.h"
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
  for (std::string line; GetLine(lines, line);) {
    std::cout << "    " << line << "\n";
  }
}

void ShowItem(const mailsim::Item& item) {
  std::cout << "From: " << item.sender << "\nSubject: " << item.subject << "\n";
  Show("Body", item.body);
  for (const mailsim::Attachment& a : item.attachments) Show("Attachment " + a.name, a.bytes);
}

// The user's choice in a list: the line that holds this address.
int LineOf(gui::ListBox& list, const std::string& address) {
  for (int i = 0; i < list.Count(); ++i)
    if (list.Item(i).find(address) != std::string::npos) return i;
  throw Error("the list shows no key of " + address);
}

int Run(const std::string& pgp_program, const std::vector<std::string>& key_files) {
  const std::filesystem::path root = std::getenv("QUILLET_ROOT");
  const std::filesystem::path pgp_dir = root / "PGP";
  std::filesystem::create_directories(pgp_dir);
  const std::string pgp = (pgp_dir / "pgp").string();
  std::filesystem::copy_file(pgp_program, pgp, std::filesystem::copy_options::overwrite_existing);
  // As Quillet writes it for a folder it makes: Alice can read the mail she sent.
  std::ofstream(pgp_dir / "config.txt") << "EncryptToSelf = on\r\nArmorLines = 0\r\n";
  Say("Both users' keys go onto the key ring in the PGP directory");
  for (const std::string& keys : key_files)
    if (std::system((pgp + " -ka " + keys + " < /dev/null").c_str()) != 0)
      throw Error("cannot import " + keys);
  // The two key pairs are their owners' own, as keys made with pgp -kg are, so that each one's
  // signatures read good to the other: one PGP folder serves both.
  const std::string gpg = "gpg --homedir '" + pgp_dir.string() + "' ";
  if (std::system((gpg +
                   "--with-colons --list-secret-keys | awk -F: '/^sec/ {s = 1} /^fpr/ && s "
                   "{print $10 \":6:\"; s = 0}' | " +
                   gpg + "--import-ownertrust 2>/dev/null")
                      .c_str()) != 0)
    throw Error("cannot make the key pairs their owners' own");

  linux_platform::FileRegistry registry((root / "registry.reg").string());
  linux_platform::ProcessCom com(registry);
  linux_platform::HeadlessGui gui;
  linux_platform::LinuxProcesses processes(gui.input_fd());
  gui.SetPatience([&processes] { processes.WaitForShellStarts(); });
  gui.SetTranscript(&std::cout);
  host::Program program({com, registry, System::Default(), gui, processes});

  Say("GroupWise starts and loads Quillet");
  mailsim::MailClient client({"alice@example.com", "Alice"});
  client.AddUser({"bob@example.org", "Bob"});
  client.Register(com, registry);
  program.Start({"-Embedding"});
  mailsim::C3POHost host(com);
  host.Start();
  client.SetViewObserver([&host](const mailsim::View& view) { host.OpenWindow(view.context); });

  Say("Alice opens a new mail; GroupWise adds Quillet's menu to its window");
  client.NewMail();
  for (const mailsim::MenuEntry& entry :
       mailsim::C3POHost::Find(host.newest_window().menu_bar, "&PGP").sub_menu)
    std::cout << "&PGP > " << entry.caption << "   (" << mailsim::C3POHost::LongPrompt(entry)
              << ")\n";
  client.TypeSubject("Plans");
  client.TypeBody("Meet at noon.\nBring the plans.");
  client.Attach("plans.txt", "Room 4, first floor");
  client.Attach("agenda.txt", "1. Budget\n2. Dates");
  client.AddressTo("bob@example.org");

  Say("Alice picks &PGP > &Encrypt; the first time, Quillet asks where PGP is");
  gui.QueueFile(pgp);
  host.Pick("&PGP", "&Encrypt");
  std::cout << "The dialog has no keys to show yet, so Alice cancels it and picks Encrypt again.\n";
  gui.Find("EncryptForm").UserClick("CancelBtn");
  gui.Settle();
  gui.QueueAnswer(gui::Answer::kOk);  // PGP lists the key rings
  host.Pick("&PGP", "&Encrypt");
  auto& dialog = gui.Find("EncryptForm");
  gui::ListBox& recipients = dialog.list_box("RecipList");
  for (int i = 0; i < recipients.Count(); ++i)
    std::cout << "recipient list " << i << ":" << recipients.Item(i) << "\n";
  dialog.UserSelect("RecipList", {LineOf(recipients, "bob@example.org")});
  dialog.UserChoose("EOption", 1);  // Encrypt and Sign
  dialog.UserType("Password", "alice pass");
  dialog.UserClick("OKBtn");
  gui.Settle();
  Show("The mail now reads", client.NewItem().body);
  for (const mailsim::Attachment& a : client.NewItem().attachments)
    std::cout << "attachment " << a.name << "\n";
  client.SendNewMail();

  Say("Bob selects the mail in his item list, opens Quillet from its context menu, types his pass "
      "phrase and presses Decrypt");
  client.SwitchUser("bob@example.org");
  client.ShowItemList({client.Mailbox("bob@example.org").back().id});
  host.OpenContextMenu("GW.MESSAGE.MAIL");
  host.PickFromContextMenu("&Quillet");
  auto& main_window = gui.Find("Form1");
  main_window.UserType("Password", "bob pass");
  main_window.UserClick("Decrypt");
  gui.Settle();
  if (client.view().kind != mailsim::ViewKind::kOpenedItem) {
    std::cout << "No note arrived.\n";
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
  if (argc != 4 || !std::getenv("QUILLET_ROOT")) {
    std::cerr << "usage: QUILLET_ROOT=DIR quillet_demo PGP-PROGRAM ALICE-KEYS BOB-KEYS\n";
    return 2;
  }
  try {
    return Run(argv[1], {argv[2], argv[3]});
  } catch (const std::exception& e) {
    std::cerr << "quillet_demo: " << e.what() << "\n";
    return 1;
  }
}
