#include "pgp26/tests/test_home.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace pgp26_test {

namespace fs = std::filesystem;

namespace {

fs::path MakeTemporaryFolder() {
  std::string pattern = "/tmp/pgp26-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// Starts `argv` with the environment of the tests without PGPPASS and PGPPATH plus `env`, and
// `files` (or the pipe `input_pipe` in place of the first) as its standard input, output and
// error.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string (&files)[3], int input_pipe = -1) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry)
    if (std::strncmp(*entry, "PGPPASS=", 8) != 0 && std::strncmp(*entry, "PGPPATH=", 8) != 0)
      environment.emplace_back(*entry);
  environment.insert(environment.end(), env.begin(), env.end());
  std::vector<char*> args, envp;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fds[] = {input_pipe >= 0 ? input_pipe : open(files[0].c_str(), O_RDONLY),
                       open(files[1].c_str(), O_WRONLY | O_CREAT, 0600),
                       open(files[2].c_str(), O_WRONLY | O_CREAT, 0600)};
    for (int fd = 0; fd < 3; ++fd) dup2(fds[fd], fd);
    execve(args[0], args.data(), envp.data());
    _exit(126);
  }
  return pid;
}

}  // namespace

RunResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                     const std::vector<std::string>& env) {
  const fs::path scratch = MakeTemporaryFolder();
  const std::string files[] = {(scratch / "in").string(), (scratch / "out").string(),
                               (scratch / "err").string()};
  WriteFile(files[0], input);
  const pid_t pid = Spawn(argv, env, files);
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(files[1]);
  result.err = ReadFile(files[2]);
  fs::remove_all(scratch);
  return result;
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env)
    : scratch_(MakeTemporaryFolder()) {
  int input[2];
  if (pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string files[] = {"", (scratch_ / "out").string(), (scratch_ / "err").string()};
  pid_ = Spawn(argv, env, files, input[0]);
  close(input[0]);
  input_ = input[1];
}

Child::~Child() {
  if (!ended_) {
    kill(pid_, SIGKILL);
    Wait();
  }
  close(input_);
  std::error_code error;
  fs::remove_all(scratch_, error);
}

bool Child::AwaitError(const std::string& text) {
  for (int waited = 0; waited < 30000; waited += 10) {
    const bool running = Running();
    if (ReadFile(scratch_ / "err").find(text) != std::string::npos) return true;
    if (!running) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

bool Child::Running() {
  if (!ended_ && waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
  return !ended_;
}

int Child::Wait() {
  if (!ended_) waitpid(pid_, &status_, 0);
  ended_ = true;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
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

fs::path Fixture(const std::string& name) {
  return fs::path(PGP26_FIXTURES) / name;
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
  for (const std::string& name : fixtures) args.push_back(Fixture(name).string());
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

RunResult TestHome::Pgp(const std::vector<std::string>& args, const std::string& input) const {
  std::vector<std::string> argv = {PGP_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, input, {"PGPPATH=" + path_.string()});
}

std::unique_ptr<Child> TestHome::StartPgp(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {PGP_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  return std::make_unique<Child>(argv, std::vector<std::string>{"PGPPATH=" + path_.string()});
}

long TestHome::AgentPid() const {
  const RunResult run = RunProcess({"/usr/bin/gpg-connect-agent", "--homedir", path_.string(),
                                    "--no-autostart", "GETINFO pid", "/bye"},
                                   "");
  return run.out.starts_with("D ") ? std::atol(run.out.c_str() + 2) : 0;
}

long TestHome::StartAgent() const {
  RunProcess({"/usr/bin/gpg-connect-agent", "--homedir", path_.string(), "/bye"}, "");
  return AgentPid();
}

void TestHome::StopAgent() const {
  RunProcess({"/usr/bin/gpgconf", "--homedir", path_.string(), "--kill", "gpg-agent"}, "");
}

RunResult TestHome::Gpg(const std::vector<std::string>& args, const std::string& input) const {
  std::vector<std::string> argv = {"/usr/bin/gpg",    "--homedir", path_.string(), "--batch",
                                   "--pinentry-mode", "loopback",  "--yes"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, input);
}

}  // namespace pgp26_test
