#include "ui/config.h"

#include <fstream>

#include "base/error.h"

namespace quillet::ui {

std::string WindowsDir(System& system) {
  return system.WindowsDirectory() + system.PathSeparator();
}

SplitFile SplitPath(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  if (cut == std::string::npos) return {"", path};
  return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

SplitFile ReadPgpLocation(const std::string& config_path) {
  std::ifstream in(config_path, std::ios::binary);
  if (!in) throw Error("Cannot open " + config_path);
  std::string own_path, pgp_path;
  std::getline(in, own_path);
  std::getline(in, pgp_path);
  if (!pgp_path.empty() && pgp_path.back() == '\r') pgp_path.pop_back();
  return SplitPath(pgp_path);
}

namespace {

// Each path is one line of the file: a line break would end it early and make the rest lines of
// their own, so such a path is refused before the file is touched.
void RequireOneLine(const std::string& path, const std::string& whose,
                    const std::string& config_path) {
  if (path.find_first_of("\r\n") != std::string::npos)
    throw Error("The path of " + whose + " contains a line break and cannot be stored in " +
                config_path);
}

}  // namespace

void WriteConfiguration(const std::string& config_path, const std::string& program_path,
                        const std::string& pgp_path) {
  RequireOneLine(program_path, "this program", config_path);
  RequireOneLine(pgp_path, "the PGP program", config_path);
  std::ofstream out(config_path, std::ios::binary | std::ios::trunc);
  out << program_path << "\r\n"
      << pgp_path << "\r\n"
      << "Quillet keeps the location of the PGP program here.\r\n"
      << "Do not delete.  Required by QUILLET program\r\n";
  if (!out.flush()) throw Error("Cannot write " + config_path);
}

}  // namespace quillet::ui
