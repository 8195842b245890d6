#include "pgp26/tests/test_home.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace pgp26_test {

namespace fs = std::filesystem;

namespace {

fs::path MakeTemporaryFolder() {
  std::string pattern = "/tmp/pgp26-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

}  // namespace

RunResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                     const std::vector<std::string>& env) {
  const fs::path scratch = MakeTemporaryFolder();
  const std::string in = (scratch / "in").string(), out = (scratch / "out").string(),
                    err = (scratch / "err").string();
  WriteFile(in, input);
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
    const int fds[] = {open(in.c_str(), O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT, 0600),
                       open(err.c_str(), O_WRONLY | O_CREAT, 0600)};
    for (int fd = 0; fd < 3; ++fd) dup2(fds[fd], fd);
    execve(args[0], args.data(), envp.data());
    _exit(126);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  fs::remove_all(scratch);
  return result;
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
  RunProcess({"/usr/bin/gpgconf", "--homedir", path_.string(), "--kill", "gpg-agent"}, "");
  std::error_code error;
  fs::remove_all(root_, error);
}

RunResult TestHome::Pgp(const std::vector<std::string>& args, const std::string& input) const {
  std::vector<std::string> argv = {PGP_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, input, {"PGPPATH=" + path_.string()});
}

RunResult TestHome::Gpg(const std::vector<std::string>& args, const std::string& input) const {
  std::vector<std::string> argv = {"/usr/bin/gpg",    "--homedir", path_.string(), "--batch",
                                   "--pinentry-mode", "loopback",  "--yes"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, input);
}

}  // namespace pgp26_test
