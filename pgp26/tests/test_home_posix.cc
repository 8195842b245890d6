// Processes, folders and programs of the tests on Linux.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "pgp26/tests/test_home.h"

extern char** environ;

namespace pgp26_test {

namespace fs = std::filesystem;

namespace {

// Starts `argv` with the environment of the tests without PGPPASS and PGPPATH plus `env`, and
// `files` (or the pipe `input_pipe` in place of the first) as its standard input, output and
// error; or, given a `terminal`, in a session of its own with that as its controlling terminal
// and all three.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string (&files)[3], int input_pipe = -1,
            const char* terminal = nullptr) {
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
    if (terminal) {
      setsid();
      const int fd = open(terminal, O_RDWR);
      for (const int standard : {0, 1, 2}) dup2(fd, standard);
    } else {
      const int fds[] = {input_pipe >= 0 ? input_pipe : open(files[0].c_str(), O_RDONLY),
                         open(files[1].c_str(), O_WRONLY | O_CREAT, 0600),
                         open(files[2].c_str(), O_WRONLY | O_CREAT, 0600)};
      for (int fd = 0; fd < 3; ++fd) dup2(fds[fd], fd);
    }
    execve(args[0], args.data(), envp.data());
    _exit(126);
  }
  return pid;
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string Comparable(const std::string& output) {
  return output;
}

std::vector<StopRequest> StopRequests() {
  return {{"SIGINT", SIGINT, "\nStopped at user request.\n"},
          {"SIGTERM", SIGTERM, "\nStopped by signal 15.\n"}};
}

std::string Native(const std::string& utf8) {
  return utf8;
}

std::string Text(const fs::path& path) {
  return path.string();
}

void LetOthersRead(const fs::path& /*folder*/) {
  umask(022);
}

bool IsPrivate(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && (info.st_mode & 07777) == 0600;
}

fs::path MakeTemporaryFolder() {
  std::string pattern = "/tmp/pgp26-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

fs::path PgpProgram() {
  return PGP_EXE;
}

fs::path GnupgTool(const std::string& name) {
  return "/usr/bin/" + name;
}

std::vector<fs::path> PgpInstallation() {
  return {PgpProgram()};
}

fs::path Fixture(const std::string& name) {
  return fs::path(PGP26_FIXTURES) / name;
}

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
  result.exit_code = ExitCode(status);
  result.out = ReadFile(files[1]);
  result.err = ReadFile(files[2]);
  fs::remove_all(scratch);
  return result;
}

// The terminal shows what the program writes and, while its echo is on, what is typed; the
// pseudo-terminal's master side reads it all, with "\r\n" line ends.
ConsoleRun RunAtConsole(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                        const std::string& prompt, const std::string& typed) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    throw std::runtime_error("no pseudo-terminal");
  const std::string files[3];
  const pid_t pid = Spawn(argv, env, files, -1, ptsname(master));
  ConsoleRun run;
  bool answered = false;
  char buffer[4096];
  // Reading fails once the program and its children have closed the terminal.
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) {
    run.screen.append(buffer, static_cast<std::size_t>(n));
    if (!answered && run.screen.find(prompt) != std::string::npos) {
      const std::string line = typed + "\n";
      answered = write(master, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    }
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit_code = ExitCode(status);
  std::erase(run.screen, '\r');
  return run;
}

struct Child::Process {
  pid_t pid = -1;
  int input = -1;
  int status = 0;
  bool ended = false;
};

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env)
    : scratch_(MakeTemporaryFolder()), process_(std::make_unique<Process>()) {
  int input[2];
  if (pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string files[] = {"", (scratch_ / "out").string(), (scratch_ / "err").string()};
  process_->pid = Spawn(argv, env, files, input[0]);
  close(input[0]);
  process_->input = input[1];
}

Child::~Child() {
  if (!process_->ended) Kill();
  close(process_->input);
  std::error_code error;
  fs::remove_all(scratch_, error);
}

long Child::pid() const {
  return process_->pid;
}

bool Child::Running() {
  if (!process_->ended && waitpid(process_->pid, &process_->status, WNOHANG) == process_->pid)
    process_->ended = true;
  return !process_->ended;
}

int Child::Wait() {
  if (!process_->ended) waitpid(process_->pid, &process_->status, 0);
  process_->ended = true;
  return ExitCode(process_->status);
}

void Child::Send(const StopRequest& request) {
  kill(process_->pid, request.code);
}

void Child::Kill() {
  kill(process_->pid, SIGKILL);
  Wait();
}

long TestHome::AgentPid() const {
  const RunResult run = RunProcess({GnupgTool("gpg-connect-agent").string(), "--homedir",
                                    path_.string(), "--no-autostart", "GETINFO pid", "/bye"},
                                   "");
  return run.out.starts_with("D ") ? std::atol(run.out.c_str() + 2) : 0;
}

long TestHome::StartAgent() const {
  RunProcess({GnupgTool("gpg-connect-agent").string(), "--homedir", path_.string(), "/bye"}, "");
  return AgentPid();
}

void TestHome::StopAgent() const {
  RunProcess({GnupgTool("gpgconf").string(), "--homedir", path_.string(), "--kill", "gpg-agent"},
             "");
}

}  // namespace pgp26_test
