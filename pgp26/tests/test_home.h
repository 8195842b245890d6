// A temporary GnuPG home with the fixture keys, and runs of pgp and gpg in it.
//
// The fixtures were made once with gpg --batch --quick-gen-key and exported armoured:
//   alice.asc          Alice Example <alice@example.com> (and Alice Work <alice@work.example>),
//                      RSA 3072, public and secret key, pass phrase "alice pass"
//   bob.asc            Bob Builder <bob@example.org>, Ed25519/Cv25519, public and secret key,
//                      pass phrase "bob pass"
//   carol-revoked.asc  Carol Revoked <carol@example.net>, public key only, revoked
//   mallory.asc        "-u Mallory" and "+force Mallory", user IDs that look like options,
//                      Ed25519/Cv25519, public and secret key, no pass phrase
#ifndef QUILLET_PGP26_TESTS_TEST_HOME_H_
#define QUILLET_PGP26_TESTS_TEST_HOME_H_

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace pgp26_test {

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs `argv` with standard input `input`, the environment of the tests without PGPPASS and
// PGPPATH plus `env` (NAME=VALUE entries), and waits for it.
RunResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                     const std::vector<std::string>& env = {});

// A process that runs while the test goes on: its standard input stays open, so that it waits
// at a prompt, and what it writes to standard error can be awaited. Killed if still running at
// the end.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // True once standard error holds `text`; false when the process ended without writing it.
  bool AwaitError(const std::string& text);
  bool Running();
  // The exit code, or -1 when a signal ended the process.
  int Wait();

 private:
  std::filesystem::path scratch_;
  pid_t pid_ = -1;
  int input_ = -1;
  int status_ = 0;
  bool ended_ = false;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& text);
std::filesystem::path Fixture(const std::string& name);

// For a home without keys.
inline const std::vector<std::string> kNoKeys;

// The fixtures' primary keys, which sign, and the subkeys that messages are encrypted to.
inline constexpr char kAliceKeyId[] = "0DCF3C53DB754C09";
inline constexpr char kBobKeyId[] = "83665BE8C283EB15";
inline constexpr char kBobEncryptionKey[] = "C66532EDDF15578B";
inline constexpr char kMalloryEncryptionKey[] = "88818781EF3C2321";

// How often `part` occurs in `text`.
int Count(const std::string& text, const std::string& part);

class TestHome {
 public:
  // A home under /tmp with a small s2k count, holding the keys of the given fixture files.
  explicit TestHome(const std::vector<std::string>& fixtures = {"alice.asc", "bob.asc",
                                                                "carol-revoked.asc"});
  // An empty home, not even with an agent configuration, at `sub_path` in a new folder.
  static TestHome Bare(const std::string& sub_path);
  ~TestHome();
  TestHome(TestHome&& other) noexcept;
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

  // pgp with PGPPATH set to this home.
  RunResult Pgp(const std::vector<std::string>& args, const std::string& input = "") const;
  // pgp in this home, not waited for.
  std::unique_ptr<Child> StartPgp(const std::vector<std::string>& args) const;
  // gpg in batch mode with loopback pass phrases in this home.
  RunResult Gpg(const std::vector<std::string>& args, const std::string& input = "") const;

  // The process ID of the agent that serves this home, or 0 when none runs; never starts one.
  long AgentPid() const;
  // Starts an agent as the user's own, as gpg-connect-agent does, and returns its process ID.
  long StartAgent() const;
  void StopAgent() const;

 private:
  TestHome(std::filesystem::path path, std::filesystem::path root);
  std::filesystem::path path_;
  std::filesystem::path root_;  // removed as a whole at the end
};

}  // namespace pgp26_test

#endif  // QUILLET_PGP26_TESTS_TEST_HOME_H_
