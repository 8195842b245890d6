// The operating system beneath pgp on Linux and other POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <thread>
#include <utility>
#include <vector>

#include "base/unique_any.h"
#include "pgp26/failure.h"
#include "pgp26/system.h"

namespace pgp26::system {

namespace {

namespace fs = std::filesystem;

std::error_code LastError() {
  return {errno, std::generic_category()};
}

using Descriptor = quillet::UniqueAny<int, &::close, -1>;

// Closes the file now, so that an error of the close can be seen.
bool Close(Descriptor& file) {
  return close(file.release()) == 0;
}

bool WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

constexpr mode_t kPrivate = 0600;

// The signal handler may only write; the stop runs on the watcher thread that reads.
int interrupt_pipe[2] = {-1, -1};

void NoteInterrupt(int signal_number) {
  const char byte = static_cast<char>(signal_number);
  [[maybe_unused]] const ssize_t written = write(interrupt_pipe[1], &byte, 1);
}

void WatchForInterrupts(void (*stop)(const std::string& notice)) {
  char byte = 0;
  while (read(interrupt_pipe[0], &byte, 1) < 0 && errno == EINTR) {
  }
  stop(byte == SIGINT ? "Stopped at user request."
                      : "Stopped by signal " + std::to_string(byte) + ".");
}

// The agent binds sockets named like this one inside the home when no runtime folder exists.
constexpr std::string_view kLongestSocketName = "/S.gpg-agent.browser";
constexpr std::size_t kSocketPathLimit = sizeof(sockaddr_un{}.sun_path) - 1;

// GnuPG puts the agent's sockets under a per-user runtime folder when there is one.
bool HasRuntimeSocketFolder() {
  const std::string uid = std::to_string(getuid());
  std::error_code error;
  return fs::is_directory("/run/user/" + uid, error) ||
         fs::is_directory("/var/run/user/" + uid, error);
}

// A short name in /tmp for a home whose socket paths would be too long: a symbolic link of this
// user's own, named after a hash of the home so that every run in that home finds the same one.
std::string ShortAlias(const fs::path& home) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : home.string()) hash = (hash ^ c) * 1099511628211ull;
  char name[64];
  std::snprintf(name, sizeof name, "/tmp/pgp26-%u-%016llx", static_cast<unsigned>(getuid()),
                static_cast<unsigned long long>(hash));
  for (int attempt = 0; attempt < 2; ++attempt) {
    struct stat info {};
    if (lstat(name, &info) == 0) {
      std::error_code error;
      const bool ours = S_ISLNK(info.st_mode) && info.st_uid == getuid();
      if (ours && fs::read_symlink(name, error) == home) return name;
      if (!ours) break;
      fs::remove(name, error);
    }
    std::error_code error;
    fs::create_directory_symlink(home, name, error);
    if (!error) return name;
  }
  throw Failure(kOtherError, std::string("Cannot make the short home name '") + name + "'.");
}

}  // namespace

void KeepProcessPrivate() {
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  std::signal(SIGXFSZ, SIG_IGN);
}

void OnStopRequest(void (*stop)(const std::string& notice)) {
  if (pipe2(interrupt_pipe, O_CLOEXEC) != 0) return;
  std::thread(WatchForInterrupts, stop).detach();
  struct sigaction action {};
  action.sa_handler = NoteInterrupt;
  action.sa_flags = SA_RESTART;  // a console read in progress simply goes on
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal_number, &action, nullptr);
}

fs::path ProgramFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self.parent_path();
}

std::optional<std::string> InstalledGnupgFolder() {
  return std::nullopt;
}

// A process descriptor tells when a process that is no child of ours has ended; where there is
// none, the process ID is asked until it is gone.
struct ProcessWatch::Handle {
  pid_t pid;
  Descriptor ended;
};

ProcessWatch::ProcessWatch(long pid)
    : handle_(new Handle{static_cast<pid_t>(pid),
                         Descriptor(static_cast<int>(
                             syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)))}) {}

ProcessWatch::~ProcessWatch() = default;

void ProcessWatch::WaitForEnd(int milliseconds) {
  if (handle_->ended) {
    pollfd ended{handle_->ended.get(), POLLIN, 0};
    while (poll(&ended, 1, milliseconds) < 0 && errno == EINTR) {
    }
    return;
  }
  for (int waited = 0; waited < milliseconds && kill(handle_->pid, 0) == 0; waited += 10)
    usleep(10 * 1000);
}

std::function<void()> TurnEchoOff() {
  termios saved{};
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) return {};
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return {};
  return [saved] { tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved); };
}

bool InputIsConsole() {
  return isatty(STDIN_FILENO) != 0;
}

std::optional<std::string> ReadLine() {
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return line;
}

std::string ToUtf8(std::string_view text) {
  return std::string(text);
}

std::string FromUtf8(std::string_view utf8) {
  return std::string(utf8);
}

std::string PathText(const fs::path& path) {
  return path.string();
}

std::error_code WriteAnonymous(const std::string& path, std::string_view bytes) {
  const std::string folder = fs::path(path).parent_path().string();
  Descriptor file(
      open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kPrivate));
  if (!file) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
      return std::make_error_code(std::errc::operation_not_supported);
    return LastError();
  }
  if (!WriteAll(file.get(), bytes.data(), bytes.size()) || fsync(file.get()) != 0)
    return LastError();
  // Whatever `path` names goes, not what a link there points to; a folder stays and fails.
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return LastError();
  const std::string self = "/proc/self/fd/" + std::to_string(file.get());
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
      linkat(file.get(), "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0)
    return {};
  return LastError();
}

std::error_code WriteAndRename(const std::string& partial, const std::string& path,
                               std::string_view bytes) {
  Descriptor file(open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivate));
  if (!file) return LastError();
  const bool written = WriteAll(file.get(), bytes.data(), bytes.size()) && fsync(file.get()) == 0;
  if (!Close(file) || !written || std::rename(partial.c_str(), path.c_str()) != 0)
    return LastError();
  return {};
}

bool OverwriteWithZeros(const std::string& path) {
  Descriptor file(open(path.c_str(), O_WRONLY | O_CLOEXEC));
  struct stat info {};
  if (!file || fstat(file.get(), &info) != 0) return false;
  const std::vector<char> zeros(std::size_t{64} * 1024, 0);
  for (off_t left = info.st_size; left > 0;) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<off_t>(left, static_cast<off_t>(zeros.size())));
    if (!WriteAll(file.get(), zeros.data(), chunk)) return false;
    left -= static_cast<off_t>(chunk);
  }
  return fsync(file.get()) == 0 && Close(file);
}

GnupgHome GnupgHomeName(const fs::path& home) {
  const std::string name = home.string();
  if (HasRuntimeSocketFolder() || name.size() + kLongestSocketName.size() <= kSocketPathLimit)
    return {name, false};
  return {ShortAlias(home), true};
}

}  // namespace pgp26::system
