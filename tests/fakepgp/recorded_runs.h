// Reads the log that the test PGP program appends to when FAKEPGP_LOG names a file: the
// arguments of each run, one a line, each run closed by a line "<end>".
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace quillet::fakepgp {

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
