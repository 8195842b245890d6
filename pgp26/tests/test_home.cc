#include "pgp26/tests/test_home.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace pgp26_test {

namespace fs = std::filesystem;

bool Child::AwaitError(const std::string& text) {
  for (int waited = 0; waited < 30000; waited += 10) {
    const bool running = Running();
    if (Comparable(ReadFile(scratch_ / "err")).find(text) != std::string::npos) return true;
    if (!running) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TestHome::TestHome(fs::path path, fs::path root) : path_(std::move(path)), root_(std::move(root)) {
  fs::create_directories(path_);
  fs::permissions(path_, fs::perms::owner_all);
}

TestHome::TestHome(const std::vector<std::string>& fixtures) {
  path_ = root_ = MakeTemporaryFolder();
  // A small s2k count keeps pass-phrase checks fast; gpg uses it for conventional encryption,
  // the agent for the protection of secret keys.
  WriteFile(path_ / "gpg.conf", "s2k-count 65536\n");
  WriteFile(path_ / "gpg-agent.conf",
            "s2k-count 65536\ndefault-cache-ttl 0\nmax-cache-ttl 0\nallow-loopback-pinentry\n");
  if (fixtures.empty()) return;
  std::vector<std::string> args = {"--import"};
  for (const std::string& name : fixtures) args.push_back(Text(Fixture(name)));
  const RunResult imported = Gpg(args);
  if (imported.exit_code != 0) throw std::runtime_error("fixture import failed: " + imported.err);
  StopAgent();  // every test starts with no agent running
}

TestHome TestHome::Bare(const std::string& sub_path) {
  const fs::path root = MakeTemporaryFolder();
  return TestHome(root / sub_path, root);
}

TestHome::TestHome(TestHome&& other) noexcept
    : path_(std::move(other.path_)), root_(std::move(other.root_)) {
  other.path_.clear();
  other.root_.clear();
}

TestHome::~TestHome() {
  if (root_.empty()) return;
  StopAgent();
  std::error_code error;
  fs::remove_all(root_, error);
}

RunResult TestHome::Pgp(const std::vector<std::string>& args, const std::string& input,
                        const std::vector<std::string>& env) const {
  std::vector<std::string> argv = {Text(PgpProgram())};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> environment = {"PGPPATH=" + Text(path_)};
  environment.insert(environment.end(), env.begin(), env.end());
  return RunProcess(argv, input, environment);
}

ConsoleRun TestHome::PgpAtConsole(const std::vector<std::string>& args, const std::string& typed,
                                  const std::string& prompt,
                                  const std::vector<std::string>& env) const {
  std::vector<std::string> argv = {Text(PgpProgram())};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> environment = {"PGPPATH=" + Text(path_)};
  environment.insert(environment.end(), env.begin(), env.end());
  return RunAtConsole(argv, environment, prompt, typed);
}

std::unique_ptr<Child> TestHome::StartPgp(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {Text(PgpProgram())};
  argv.insert(argv.end(), args.begin(), args.end());
  return std::make_unique<Child>(argv, std::vector<std::string>{"PGPPATH=" + Text(path_)});
}

RunResult TestHome::Gpg(const std::vector<std::string>& args, const std::string& input) const {
  std::vector<std::string> argv = {Text(GnupgTool("gpg")), "--homedir", Text(path_),
                                   "--batch", "--pinentry-mode", "loopback", "--yes"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, input);
}

std::string LetterToBob(const TestHome& home, const std::string& name) {
  const std::string file = home.File(name);
  WriteFile(file, "The plans are in the safe.\n");
  const RunResult made = home.Gpg({"--passphrase", "alice pass", "--trust-model", "always",
                                   "--armor", "--encrypt", "--sign", "-r", "bob@example.org", "-u",
                                   "alice@example.com", "--output", file + ".asc", file});
  if (made.exit_code != 0) throw std::runtime_error("gpg could not write the letter: " + made.err);
  fs::remove(file);
  return file;
}

LongReport::LongReport(const TestHome& home) : folder(home.path() / "mail") {
  fs::create_directory(folder);
  plain = Text(folder / "report");
  for (int line = 0; text.size() < (20u << 20); ++line)
    text += "Line " + std::to_string(line) + " of a long report.\n";
  WriteFile(plain, text);
  const RunResult made = home.Gpg({"--trust-model", "always", "-r", "bob@example.org", "--output",
                                   plain + ".asc", "--encrypt", plain});
  if (made.exit_code != 0) throw std::runtime_error("gpg could not encrypt the report: " + made.err);
  fs::remove(plain);
}

std::vector<std::string> Recipients(const std::string& file) {
  const TestHome keyless(kNoKeys);
  const std::string listing = keyless.Gpg({"--list-packets", file}).out;
  std::vector<std::string> ids;
  const std::string packet = ":pubkey enc packet:", keyid = "keyid ";
  for (std::size_t at = listing.find(packet); at != std::string::npos;
       at = listing.find(packet, at + 1))
    ids.push_back(listing.substr(listing.find(keyid, at) + keyid.size(), 16));
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::vector<std::string> LongReport::Beside() const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    if (entry.path().filename() != "report.asc") names.push_back(entry.path().filename().string());
  return names;
}

}  // namespace pgp26_test
