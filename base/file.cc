#include "base/file.h"

#include <fstream>

#include "base/error.h"

namespace quillet {

namespace {

void Write(const std::string& path, std::string_view bytes, std::ios::openmode mode) {
  std::ofstream out(path, std::ios::binary | mode);
  if (!out) throw Error("Cannot open " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  // Closed here, not by the destructor, whose failure nobody would see.
  out.close();
  if (!out) throw Error("Cannot write " + path);
}

}  // namespace

void WriteWholeFile(const std::string& path, std::string_view bytes) {
  Write(path, bytes, std::ios::trunc);
}

void AppendToFile(const std::string& path, std::string_view bytes) {
  Write(path, bytes, std::ios::app);
}

}  // namespace quillet
