#include "platform/linux/linux_processes.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/cmdline.h"
#include "base/text.h"
#include "platform/linux/headless_gui.h"
#include "platform/linux/unique_fd.h"

extern char** environ;

namespace quillet::linux_platform {

namespace {

// The Windows error codes for the ways a start can fail.
std::int32_t WindowsError(int error) {
  switch (error) {
    case ENOENT:
      return 2;  // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
      return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
      return 5;  // ERROR_ACCESS_DENIED
    case ENOEXEC:
      return 193;  // ERROR_BAD_EXE_FORMAT
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

class LinuxProcess : public Process {
 public:
  LinuxProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}

  bool Exited(std::int32_t* exit_code) override {
    if (!exited_) {
      siginfo_t info{};
      if (waitid(P_PID, pid_, &info, WEXITED | WNOHANG) != 0 || info.si_pid == 0) return false;
      exited_ = true;
      code_ = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
    }
    *exit_code = code_;
    return true;
  }

  int pidfd() const { return pidfd_.get(); }

 private:
  pid_t pid_;
  UniqueFd pidfd_;
  bool exited_ = false;
  std::int32_t code_ = 0;
};

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// This process's environment without the variables `addition` sets, then those variables.
std::vector<std::string> EnvironmentWith(const EnvironmentAddition& addition) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    const bool replaced = std::any_of(addition.begin(), addition.end(),
                                      [&](const auto& variable) { return variable.first == name; });
    if (!replaced) entries.emplace_back(text);
  }
  for (const auto& [name, value] : addition) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// How often a program watched without a pidfd is looked at: rarely enough to leave the processor
// idle, often enough that nobody notices the delay after it ends.
constexpr int kExitCheckMs = 20;

}  // namespace

int OpenPidfd(int pid) {
  // Through syscall(): this glibc declares pidfd_open without C linkage for C++.
  return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
}

std::int32_t LinuxProcesses::Start(const std::string& command_line, int,
                                   const EnvironmentAddition& environment,
                                   std::unique_ptr<Process>* process) {
  const std::vector<std::string> args = SplitCommandLine(command_line);
  if (args.empty() || args[0].empty()) return 2;
  const std::vector<char*> argv = Pointers(args);
  const std::vector<std::string> variables = EnvironmentWith(environment);
  const std::vector<char*> envp = Pointers(variables);
  pid_t pid = 0;
  if (const int error = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()))
    return WindowsError(error);
  // A program without a pidfd is still waited for, by looking at it on every tick.
  *process = std::make_unique<LinuxProcess>(pid, open_pidfd_(pid));
  return 0;
}

void LinuxProcesses::WaitForExitOrInput(Process& process) {
  const int pidfd = static_cast<LinuxProcess&>(process).pidfd();
  // poll() passes over a negative descriptor, so without a pidfd only the tick sees the end.
  pollfd fds[2] = {{pidfd, POLLIN, 0}, {input_fd_, POLLIN, 0}};
  const int timeout_ms = pidfd >= 0 ? -1 : kExitCheckMs;
  std::int32_t exit_code = 0;
  while (!process.Exited(&exit_code)) {
    const int ready = poll(fds, 2, timeout_ms);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return;
  }
}

void LinuxProcesses::ShellOpen(const std::string& file, const std::string& parameters,
                               const std::string& directory, int) {
  // Batch files run with the system shell, their CR LF line ends taken off.
  std::string run;
  if (file.size() >= 4 && EqualsIgnoreCase(file.substr(file.size() - 4), ".bat")) {
    run = "tr -d '\\r' < \"$1\" | /bin/sh -s -- $2";
  } else if (OnPath("xdg-open")) {
    run = "xdg-open \"$1\"";
  } else {
    return;
  }
  const std::string script = "cd \"$0\" 2>/dev/null || exit 0; " + run;
  const std::vector<std::string> args = {
      "/bin/sh", "-c", script, directory.empty() ? "." : directory, file, parameters};
  const std::vector<char*> argv = Pointers(args);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
    shell_starts_.push_back(pid);
  posix_spawn_file_actions_destroy(&actions);
}

void LinuxProcesses::WaitForShellStarts() {
  for (int pid : shell_starts_) waitpid(pid, nullptr, 0);
  shell_starts_.clear();
}

}  // namespace quillet::linux_platform

namespace quillet {

Processes& Processes::Default() {
  static linux_platform::LinuxProcesses processes = [] {
    linux_platform::HeadlessGui& gui = linux_platform::DefaultHeadlessGui();
    gui.SetPatience(
        [] { static_cast<linux_platform::LinuxProcesses&>(Default()).WaitForShellStarts(); });
    return linux_platform::LinuxProcesses(gui.input_fd());
  }();
  return processes;
}

}  // namespace quillet
