#include "base/file.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/error.h"

namespace quillet {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error("Cannot open " + path);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw Error("Cannot read " + path);
  return bytes;
}

void WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw Error("Cannot open " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  // Closed here, not by the destructor, whose failure nobody would see.
  out.close();
  if (!out) throw Error("Cannot write " + path);
}

FileRemovedAtExit::~FileRemovedAtExit() {
  std::error_code ignored;
  if (active_) std::filesystem::remove(path_, ignored);
}

}  // namespace quillet
