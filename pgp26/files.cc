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

void WriteWholeFile(const std::string& path, std::string_view bytes, int error_code) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) throw Failure(error_code, "Cannot create '" + path + "': " + std::strerror(errno));
  // mkstemp makes the file private; give it the mode a plain create would have.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  const bool written = WriteAll(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temporary.c_str());
    throw Failure(error_code, "Cannot write '" + path + "': " + reason);
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
