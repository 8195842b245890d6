// How much Quillet adds to PGP's own work: encrypts a 1 MB body with three 1 MB attachments
// through the simulated mail client with the real PGP program, then makes the same four PGP runs
// on their own, and prints Quillet's share of the time (goal: under 5% on top of the PGP runs)
// and the processor time the program used while it waited for PGP.
// Usage: quillet_encrypt_bench PGP-PROGRAM ALICE-KEYS BOB-KEYS
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include "host/program.h"
#include "mailsim/mail_client.h"
#include "pgp/run2.h"
#include "platform/linux/file_registry.h"
#include "platform/linux/headless_gui.h"
#include "platform/linux/linux_processes.h"
#include "platform/linux/process_com.h"
#include "ui/pgp2.h"

namespace {

using namespace quillet;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Counts the processor time this program spends from each start of PGP to its end.
class MeasuringProcesses : public Processes {
 public:
  explicit MeasuringProcesses(Processes& inner) : inner_(inner) {}

  std::int32_t Start(const std::string& line, int show, const EnvironmentAddition& environment,
                     std::unique_ptr<Process>* process) override {
    lines.push_back(line);
    std::unique_ptr<Process> started;
    const std::int32_t error = inner_.Start(line, show, environment, &started);
    if (!error) *process = std::make_unique<Measured>(std::move(started), waiting_cpu);
    return error;
  }
  void WaitForExitOrInput(Process& process) override {
    inner_.WaitForExitOrInput(*static_cast<Measured&>(process).inner);
  }
  void ShellOpen(const std::string& file, const std::string& parameters,
                 const std::string& directory, int show) override {
    inner_.ShellOpen(file, parameters, directory, show);
  }

  std::vector<std::string> lines;
  double waiting_cpu = 0;

 private:
  struct Measured : Process {
    Measured(std::unique_ptr<Process> process, double& total)
        : inner(std::move(process)), total(total), started(CpuSeconds()) {}
    bool Exited(std::int32_t* exit_code) override {
      if (!inner->Exited(exit_code)) return false;
      if (!counted) total += CpuSeconds() - started;
      counted = true;
      return true;
    }
    std::unique_ptr<Process> inner;
    double& total;
    double started;
    bool counted = false;
  };

  Processes& inner_;
};

std::string Text(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; text.size() < size; ++i)
    text += "Line " + std::to_string(i) + " of a long message, written to fill a megabyte.\n";
  return text.substr(0, size);
}

std::string Bytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

int Run(const std::string& pgp_program, const std::string& alice, const std::string& bob) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("quillet-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(root / "PGP");
  std::filesystem::create_directories(root / "windows");
  setenv("QUILLET_ROOT", root.c_str(), 1);
  const std::string pgp = (root / "PGP" / "pgp").string();
  std::filesystem::copy_file(pgp_program, pgp);
  for (const std::string& keys : {alice, bob})
    if (std::system((pgp + " -ka " + keys + " >/dev/null 2>&1").c_str()) != 0) return 1;
  std::ofstream(root / "windows" / "quillet.ini") << "/opt/quillet\r\n"
                                                  << pgp << "\r\nnotice\r\nDo not delete.\r\n";
  std::ofstream(root / "PGP" / "pgpkey.bat") << pgp << " -kv > quillet.key\r\n"
                                             << pgp << " -kv secring.pgp > quillet.sec\r\n";

  linux_platform::FileRegistry registry((root / "registry.reg").string());
  linux_platform::ProcessCom com(registry);
  linux_platform::HeadlessGui gui;
  linux_platform::LinuxProcesses processes(gui.input_fd());
  MeasuringProcesses measuring(processes);
  gui.SetPatience([&processes] { processes.WaitForShellStarts(); });
  host::Program program({com, registry, System::Default(), gui, measuring});
  mailsim::MailClient client({"alice@example.com", "Alice"});
  client.Register(com, registry);

  gui.QueueAnswer(gui::Answer::kOk);  // the key listings are made
  ui::TForm1& form = program.Own(std::make_unique<ui::TForm1>(program));
  form.window().Show();
  auto& window = gui.Find("Form1");
  window.UserSelect("RecipList", {2});  // Bob
  window.UserSelect("SendList", {0});   // Alice
  window.UserType("Password", "alice pass");
  client.NewMail();
  client.TypeBody(Text(1 << 20));
  for (unsigned i = 0; i < 3; ++i) client.Attach("file" + std::to_string(i), Bytes(1 << 20, i));

  measuring.lines.clear();
  const double waiting_before = measuring.waiting_cpu;
  auto start = Clock::now();
  window.UserClick("Encrypt");
  const double through_quillet = Since(start);
  if (measuring.lines.size() != 4 || client.NewItem().attachments.size() != 3) {
    std::cerr << "the encryption did not complete\n";
    return 1;
  }

  // The same four runs on their own, on the same inputs.
  std::ofstream(root / "PGP" / "temppgp", std::ios::binary) << Text(1 << 20);
  for (unsigned i = 0; i < 3; ++i)
    std::ofstream(root / "PGP" / ("doc" + std::to_string(i)), std::ios::binary)
        << Bytes(1 << 20, i);
  start = Clock::now();
  for (const std::string& line : measuring.lines)
    if (pgp::RunAndWait(processes, gui, line, 5) != 0) return 1;
  const double pgp_alone = Since(start);

  std::cout << "through Quillet: " << through_quillet << " s\n"
            << "PGP alone:       " << pgp_alone << " s\n"
            << "Quillet's share: " << 100 * (through_quillet - pgp_alone) / pgp_alone
            << "% on top of the PGP runs (goal: under 5%)\n"
            << "CPU while waiting for PGP: " << measuring.waiting_cpu - waiting_before << " s\n";
  std::system(("gpgconf --homedir '" + (root / "PGP").string() + "' --kill gpg-agent").c_str());
  std::filesystem::remove_all(root);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: quillet_encrypt_bench PGP-PROGRAM ALICE-KEYS BOB-KEYS\n";
    return 2;
  }
  return Run(argv[1], argv[2], argv[3]);
}
