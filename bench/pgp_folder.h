// The user's set-up for a benchmark that runs Quillet with the real PGP program: a root folder
// that stands for the machine (QUILLET_ROOT), with quillet.ini in its Windows folder naming the
// PGP program copied into the PGP directory, the keys added to its rings, and the batch file that
// lists them.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace quillet::bench {

struct PgpFolder {
  std::filesystem::path root;
  std::filesystem::path directory;  // the PGP directory
  std::string program;              // the PGP program in it
};

// Nothing when a key could not be added.
inline std::optional<PgpFolder> MakePgpFolder(const std::string& name,
                                              const std::string& pgp_program,
                                              const std::vector<std::string>& keys) {
  namespace fs = std::filesystem;
  PgpFolder folder;
  folder.root = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
  folder.directory = folder.root / "PGP";
  fs::create_directories(folder.directory);
  fs::create_directories(folder.root / "windows");
  setenv("QUILLET_ROOT", folder.root.c_str(), 1);
  folder.program = (folder.directory / "pgp").string();
  fs::copy_file(pgp_program, folder.program);
  for (const std::string& key : keys)
    if (std::system((folder.program + " -ka " + key + " >/dev/null 2>&1").c_str()) != 0)
      return std::nullopt;
  std::ofstream(folder.root / "windows" / "quillet.ini")
      << "/opt/quillet\r\n"
      << folder.program << "\r\nnotice\r\nDo not delete.\r\n";
  std::ofstream(folder.directory / "pgpkey.bat")
      << folder.program << " -kv > quillet.key\r\n"
      << folder.program << " -kv secring.pgp > quillet.sec\r\n";
  return folder;
}

}  // namespace quillet::bench
