// GnuPG homes for the tests that run the real PGP program, and gpg run in them as a script would.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/test_platform.h"

namespace quillet::testing {

// Makes `home` a private GnuPG home whose pass-phrase checks are fast (small s2k counts) and
// whose agent caches nothing between runs.
inline void PrepareGnupgHome(const std::filesystem::path& home) {
  std::filesystem::create_directories(home);
  std::filesystem::permissions(home, std::filesystem::perms::owner_all);
  std::ofstream(home / "gpg.conf") << "s2k-count 65536\n";
  std::ofstream(home / "gpg-agent.conf")
      << "default-cache-ttl 0\nmax-cache-ttl 0\nallow-loopback-pinentry\n";
}

// gpg with `arguments` in `home`, without questions; its standard output and exit code.
inline Outcome Gpg(const std::filesystem::path& home, const std::string& arguments) {
  return RunShell("gpg --homedir '" + home.string() +
                  "' --batch --yes --pinentry-mode loopback --trust-model always " + arguments +
                  " 2>/dev/null");
}

}  // namespace quillet::testing
