// Sets the test PGP program up for a test, and reads the log that it appends to when FAKEPGP_LOG
// names a file: the arguments of each run, one a line, each run closed by a line "<end>".
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace quillet::fakepgp {

// Runs log to `dir`/args and read their key ring from `dir`/keys; no fault, delay, exit code,
// pass phrase or signature record that an earlier test asked for stays.
inline void UseDirectory(const std::filesystem::path& dir) {
  setenv("FAKEPGP_LOG", (dir / "args").c_str(), 1);
  setenv("FAKEPGP_KEYS", (dir / "keys").c_str(), 1);
  for (const char* name :
       {"FAKEPGP_EXIT", "FAKEPGP_FAIL", "FAKEPGP_DELAY", "FAKEPGP_PASS", "FAKEPGP_RECORD"})
    unsetenv(name);
}

inline std::vector<std::vector<std::string>> RecordedRuns(const std::string& log) {
  std::vector<std::vector<std::string>> runs(1);
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line == "<end>")
      runs.emplace_back();
    else
      runs.back().push_back(line);
  }
  runs.pop_back();
  return runs;
}

}  // namespace quillet::fakepgp
