#include "pgp26/files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "pgp26/console.h"
#include "pgp26/failure.h"
#include "pgp26/system.h"

namespace pgp26 {

namespace {

[[noreturn]] void Fail(const std::string& path, int error_code, const std::error_code& reason) {
  throw Failure(error_code, "Cannot write '" + path + "': " + reason.message());
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
  std::remove(PartialName(path).c_str());  // left by a run that was killed while writing
  const std::error_code error = system::WriteAnonymous(path, bytes);
  if (error == std::errc::operation_not_supported)
    WriteThroughPartialFile(path, bytes, error_code);
  else if (error)
    Fail(path, error_code, error);
}

void WriteThroughPartialFile(const std::string& path, std::string_view bytes, int error_code) {
  const std::string partial = PartialName(path);
  std::remove(partial.c_str());
  if (const std::error_code error = system::WriteAndRename(partial, path, bytes)) {
    std::remove(partial.c_str());
    Fail(path, error_code, error);
  }
}

bool WipeFile(const std::string& path) {
  return system::OverwriteWithZeros(path) && std::remove(path.c_str()) == 0;
}

}  // namespace pgp26
