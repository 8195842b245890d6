// Sets the test PGP program up for a test of the Linux build, through its environment variables.
#pragma once

#include <stdlib.h>

#include <filesystem>

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

}  // namespace quillet::fakepgp
