// How much Quillet adds to PGP's own work when it encrypts a mail: for bodies of prose (which
// compresses like mail) and of random text, each with a binary attachment of the same size, at
// 1 KB, 100 KB, 1 MB and 10 MB, each round encrypts the mail through the simulated mail client
// with the real PGP program, then makes the same PGP runs on their own on the same inputs. It
// prints, as Markdown table rows, the medians of both times and of the per-round ratio, so that
// a cost that grows faster than the text shows as a ratio that grows with the size; and the
// processor time the program spends while it waits for PGP.
// Usage: quillet_encrypt_bench PGP-PROGRAM ALICE-KEYS BOB-KEYS
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "bench/pgp_folder.h"
#include "bench/report.h"
#include "bench/texts.h"
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
using bench::Clock;
using bench::Fixed;
using bench::Since;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string SizeText(std::size_t size) {
  return size >= (1u << 20) ? std::to_string(size >> 20) + " MB"
                            : std::to_string(size >> 10) + " KB";
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

int Run(const std::string& pgp_program, const std::string& alice, const std::string& bob) {
  const std::optional<bench::PgpFolder> folder =
      bench::MakePgpFolder("quillet-bench", pgp_program, {alice, bob});
  if (!folder) return 1;
  const std::filesystem::path& root = folder->root;
  const std::filesystem::path& pgp_dir = folder->directory;

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

  // PGP writes to standard output too: the table keeps it for itself, and PGP gets standard error.
  const int table_fd = dup(STDOUT_FILENO);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  std::ostringstream table;
  double waited = 0;
  double waiting_cpu = 0;
  for (const bool prose : {true, false}) {
    for (const std::size_t size : {std::size_t{1} << 10, std::size_t{100} << 10,
                                   std::size_t{1} << 20, std::size_t{10} << 20}) {
      const int rounds = size >= (std::size_t{10} << 20) ? 3 : 7;
      std::vector<double> quillet, alone, ratios;
      for (int round = 0; round < rounds; ++round) {
        const auto seed = static_cast<unsigned>(round);
        client.NewMail();
        client.TypeBody(prose ? bench::Prose(size, seed) : bench::RandomText(size, seed));
        client.Attach("data.bin", bench::Bytes(size, seed));
        const mailsim::Item mail = client.NewItem();

        measuring.lines.clear();
        const double cpu_before = measuring.waiting_cpu;
        auto start = Clock::now();
        window.UserClick("Encrypt");
        const double through_quillet = Since(start);
        const mailsim::Item& encrypted = client.NewItem();
        if (measuring.lines.size() != 2 || encrypted.attachments.size() != 1 ||
            !encrypted.body.starts_with("-----BEGIN PGP MESSAGE-----")) {
          std::cerr << "the encryption did not complete\n";
          return 1;
        }
        waited += through_quillet;
        waiting_cpu += measuring.waiting_cpu - cpu_before;

        // The same runs on their own, on the same inputs as the mail client saved them.
        WriteFile(pgp_dir / "temppgp", mail.body);
        WriteFile(pgp_dir / "doc0", mail.attachments[0].bytes);
        start = Clock::now();
        for (const std::string& line : measuring.lines)
          if (pgp::RunAndWait(processes, gui, line, 5) != 0) return 1;
        const double pgp_alone = Since(start);

        quillet.push_back(through_quillet);
        alone.push_back(pgp_alone);
        ratios.push_back(through_quillet / pgp_alone);
      }
      table << "| " << (prose ? "prose" : "random text") << " | " << SizeText(size) << " | "
            << rounds << " | " << Fixed(Median(quillet) * 1000, 0) << " | "
            << Fixed(Median(alone) * 1000, 0) << " | " << Fixed(Median(ratios), 3) << " |\n";
    }
  }
  table << "\nProcessor time of Quillet while PGP ran: " << Fixed(100 * waiting_cpu / waited, 3)
        << "% of the time the encryptions through Quillet took.\n";
  const std::string text = table.str();
  if (write(table_fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return 1;
  std::system(("gpgconf --homedir '" + pgp_dir.string() + "' --kill gpg-agent").c_str());
  std::filesystem::remove_all(root);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: quillet_encrypt_bench PGP-PROGRAM ALICE-KEYS BOB-KEYS\n";
    return 2;
  }
  try {
    return Run(argv[1], argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::cerr << "quillet_encrypt_bench: " << e.what() << "\n";
    return 1;
  }
}
