#include "pgp26/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "pgp26/console.h"
#include "pgp26/failure.h"

namespace pgp26 {

namespace {

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

[[noreturn]] void Fail(const std::string& path, int error_code, int reason) {
  throw Failure(error_code, "Cannot write '" + path + "': " + std::strerror(reason));
}

// Writes into a file that has no name until it is complete, and so vanishes with the process
// if the process dies first. False when this file system offers no such file.
bool WriteAnonymous(const std::string& path, std::string_view bytes, int error_code) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const int fd =
      open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kPrivate);
  if (fd < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return false;
    Fail(path, error_code, errno);
  }
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  if (!WriteAll(fd, bytes.data(), bytes.size()) || fsync(fd) != 0) Fail(path, error_code, errno);
  // Whatever `path` names goes, not what a link there points to; a folder stays and fails.
  if (unlink(path.c_str()) != 0 && errno != ENOENT) Fail(path, error_code, errno);
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
         linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ConfirmOverwrite(const std::string& path, bool force) {
  std::error_code error;
  if (force || !std::filesystem::exists(path, error)) return;
  if (!AskYesNo("Output file '" + path + "' already exists.  Overwrite (y/N)? "))
    throw Failure(kInvalidFile, "Output file '" + path + "' not overwritten.");
}

std::string PartialName(const std::string& path) {
  return path + ".partial";
}

void WriteWholeFile(const std::string& path, std::string_view bytes, int error_code) {
  unlink(PartialName(path).c_str());  // left by a run that was killed while writing
  if (!WriteAnonymous(path, bytes, error_code)) WriteThroughPartialFile(path, bytes, error_code);
}

void WriteThroughPartialFile(const std::string& path, std::string_view bytes, int error_code) {
  const std::string partial = PartialName(path);
  unlink(partial.c_str());
  const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivate);
  if (fd < 0) Fail(path, error_code, errno);
  bool written = WriteAll(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written || std::rename(partial.c_str(), path.c_str()) != 0) {
    const int reason = errno;
    unlink(partial.c_str());
    Fail(path, error_code, reason);
  }
}

bool WipeFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  struct stat info {};
  bool wiped = fstat(fd, &info) == 0;
  const std::vector<char> zeros(64 * 1024, 0);
  for (off_t left = info.st_size; wiped && left > 0;) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<off_t>(left, 64 * 1024));
    wiped = WriteAll(fd, zeros.data(), chunk);
    left -= static_cast<off_t>(chunk);
  }
  wiped = wiped && fsync(fd) == 0;
  wiped = close(fd) == 0 && wiped;
  return wiped && std::remove(path.c_str()) == 0;
}

}  // namespace pgp26
