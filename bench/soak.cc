// A working day in one process, a report and never a test: Quillet serves the simulated mail
// client's extension host with the real PGP program for N rounds. Each round encrypts and signs a
// new mail with two attachments through the Encrypt dialog, sends it, opens the main window and
// decrypts it there, and closes the window; every 25th round also mails the key, adds a key to
// the ring and reloads the key lists. It prints what the process holds after the first round
// and after the last (memory, windows, descriptors, the PGP directory's files) and the growth
// per round, so that anything that grows without bound shows. The simulated mail client lives in
// the same process and keeps every item and every token command it was sent, which is most of
// the memory's growth (about 120 KB a round); windows, descriptors and files must not grow at
// all. Every round's result is checked; a round that goes wrong ends the run with 1.
// Usage: quillet_soak PGP-PROGRAM ALICE-KEYS ROUNDS
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "bench/pgp_folder.h"
#include "bench/report.h"
#include "bench/texts.h"
#include "host/program.h"
#include "mailsim/c3pohost.h"
#include "mailsim/mail_client.h"
#include "platform/linux/file_registry.h"
#include "platform/linux/headless_gui.h"
#include "platform/linux/linux_processes.h"
#include "platform/linux/process_com.h"

namespace {

using namespace quillet;
namespace fs = std::filesystem;

struct Holdings {
  double memory_kb = 0;  // resident
  double windows = 0;
  double descriptors = 0;
  double files = 0;  // in the PGP directory
};

std::size_t CountEntries(const fs::path& directory) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(directory), fs::directory_iterator()));
}

Holdings Measure(const linux_platform::HeadlessGui& gui, const fs::path& pgp_dir) {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return {static_cast<double>(resident * sysconf(_SC_PAGESIZE)) / 1024,
          static_cast<double>(gui.windows().size()),
          static_cast<double>(CountEntries("/proc/self/fd")),
          static_cast<double>(CountEntries(pgp_dir))};
}

// The index of the list's item that names `who`.
int ItemNaming(gui::ListBox& list, const std::string& who) {
  const std::vector<std::string> items = list.Items();
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i].find(who) != std::string::npos) return static_cast<int>(i);
  throw Error("no key of " + who + " in the list");
}

void Check(bool holds, const std::string& what, int round) {
  if (!holds) throw Error("round " + std::to_string(round) + ": " + what);
}

int Run(const std::string& pgp_program, const std::string& alice, int rounds) {
  const std::optional<bench::PgpFolder> folder =
      bench::MakePgpFolder("quillet-soak", pgp_program, {alice});
  if (!folder) return 1;
  const fs::path& root = folder->root;
  const fs::path& pgp_dir = folder->directory;
  std::ofstream(pgp_dir / "config.txt") << "EncryptToSelf = on\r\nArmorLines = 0\r\n";

  linux_platform::FileRegistry registry((root / "registry.reg").string());
  linux_platform::ProcessCom com(registry);
  linux_platform::HeadlessGui gui;
  linux_platform::LinuxProcesses processes(gui.input_fd());
  gui.SetPatience([&processes] { processes.WaitForShellStarts(); });
  host::Program program({com, registry, System::Default(), gui, processes});
  program.Start({"-Embedding"});
  mailsim::MailClient client({"alice@example.com", "Alice"});
  client.Register(com, registry);
  mailsim::C3POHost host(com);
  host.Start();
  client.SetViewObserver([&host](const mailsim::View& view) { host.OpenWindow(view.context); });
  const auto pick = [&host](const std::string& entry, int round) {
    const mailsim::Execution done = host.Pick("&PGP", entry);
    Check(done.result == ole::hr::kOk, entry + ": " + done.excep.description, round);
  };

  // PGP writes to standard output too: the report keeps it for itself.
  const int report_fd = dup(STDOUT_FILENO);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  gui.QueueAnswer(gui::Answer::kOk);  // the key listings are made
  Holdings first;
  for (int round = 1; round <= rounds; ++round) {
    const std::string body = bench::Prose(4096, static_cast<unsigned>(round));
    client.NewMail();
    client.AddressTo("alice@example.com");
    client.TypeBody(body);
    client.Attach("plan.txt", bench::Prose(2048, 1));
    client.Attach("data.bin", bench::Bytes(2048, 2));
    pick("&Encrypt", round);
    linux_platform::HeadlessWindow& dialog = gui.Find("EncryptForm");
    dialog.UserChoose("EOption", 1);
    dialog.UserSelect("RecipList", {ItemNaming(dialog.list_box("RecipList"), "alice")});
    dialog.UserType("Password", "alice pass");
    dialog.UserClick("OKBtn");
    Check(client.NewItem().body.starts_with("-----BEGIN PGP MESSAGE-----"), "not encrypted", round);
    client.SendNewMail();
    client.OpenItem(client.Mailbox("alice@example.com").back().id);

    pick("&Quillet", round);
    linux_platform::HeadlessWindow& main = gui.Find("Form1");
    main.UserType("Password", "alice pass");
    main.UserClick("Decrypt");
    const mailsim::Item& note = client.FindItem(client.view().item_id);
    Check(note.attachments.size() == 3 &&
              note.attachments[0].bytes.starts_with(body.substr(0, body.find('\n'))),
          "not decrypted", round);
    if (round % 25 == 0) {
      client.NewMail();
      main.UserSelect("RecipList", {ItemNaming(main.list_box("RecipList"), "alice")});
      main.UserClick("MailKey");
      Check(client.NewItem().body.find("PUBLIC KEY BLOCK") != std::string::npos, "no key mailed",
            round);
      client.Deliver("alice@example.com", {.sender = "Alice", .body = client.NewItem().body});
      client.OpenItem(client.Mailbox("alice@example.com").back().id);
      // Both make the key listings again.
      gui.QueueAnswer(gui::Answer::kOk);
      main.UserClick("Key_To_Ring");
      gui.QueueAnswer(gui::Answer::kOk);
      main.UserClick("LoadKeys");
    }
    main.UserClose();
    gui.Settle();
    if (round == 1) first = Measure(gui, pgp_dir);
  }
  const Holdings last = Measure(gui, pgp_dir);

  const auto row = [&](const char* what, double Holdings::*field, const char* unit) {
    const double growth = rounds > 1 ? (last.*field - first.*field) / (rounds - 1) : 0;
    return "| " + std::string(what) + " | " + bench::Fixed(first.*field, 0) + " | " +
           bench::Fixed(last.*field, 0) + " | " + bench::Fixed(growth, 3) + " " + unit + " |\n";
  };
  const std::string report = "| after round 1 and round " + std::to_string(rounds) +
                             " | first | last | growth per "
                             "round |\n|---|---|---|---|\n" +
                             row("resident memory (KB)", &Holdings::memory_kb, "KB") +
                             row("windows", &Holdings::windows, "") +
                             row("descriptors", &Holdings::descriptors, "") +
                             row("files in the PGP directory", &Holdings::files, "");
  const bool written =
      write(report_fd, report.data(), report.size()) == static_cast<ssize_t>(report.size());
  host.Close();
  std::system(("gpgconf --homedir '" + pgp_dir.string() + "' --kill gpg-agent").c_str());
  fs::remove_all(root);
  return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::atoi(argv[3]) < 1) {
    std::cerr << "usage: quillet_soak PGP-PROGRAM ALICE-KEYS ROUNDS\n";
    return 2;
  }
  try {
    return Run(argv[1], argv[2], std::atoi(argv[3]));
  } catch (const std::exception& e) {
    std::cerr << "quillet_soak: " << e.what() << "\n";
    return 1;
  }
}
