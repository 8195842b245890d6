// A temporary GnuPG home with the fixture keys, and runs of pgp and gpg in it.
//
// The fixtures were made once with gpg --batch --quick-gen-key and exported armoured:
//   alice.asc          Alice Example <alice@example.com> (and Alice Work <alice@work.example>),
//                      RSA 3072, public and secret key, pass phrase "alice pass"
//   bob.asc            Bob Builder <bob@example.org>, Ed25519/Cv25519, public and secret key,
//                      pass phrase "bob pass"
//   bob-public.asc     Bob's public key alone, as he would mail it
//   carol-revoked.asc  Carol Revoked <carol@example.net>, public key only, revoked
//   mallory.asc        "-u Mallory" and "+force Mallory", user IDs that look like options,
//                      Ed25519/Cv25519, public and secret key, no pass phrase
//   odd-user-ids.asc   public keys alone, Ed25519/Cv25519, of "Zo\u00eb \u00c4rger
//                      <zoe@example.com>", "Key C283EB15 <hex@example.com>" (Bob's key ID as
//                      text), "plain@example.net", "Colon: Name \back <colon@example.com>" and
//                      "Ctl\x01Char <ctl@example.com>" (a control character)
#ifndef QUILLET_PGP26_TESTS_TEST_HOME_H_
#define QUILLET_PGP26_TESTS_TEST_HOME_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pgp26/files.h"

namespace pgp26_test {

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// What a process wrote, as the tests compare it: on Windows with the line ends turned into '\n'
// and without the notes every GnuPG tool writes under Wine.
std::string Comparable(const std::string& output);

// Runs `argv` with standard input `input`, the environment of the tests without PGPPASS and
// PGPPATH plus `env` (NAME=VALUE entries), and waits for it.
RunResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                     const std::vector<std::string>& env = {});

// What a program run at a console of its own showed there, and how it ended.
struct ConsoleRun {
  int exit_code = -1;
  std::string screen;  // lines ending in '\n'
};

// Runs `argv` as RunProcess does, but at a console of its own (a pseudo-terminal on POSIX
// systems), where `typed` and Enter are typed once `prompt` shows.
ConsoleRun RunAtConsole(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                        const std::string& prompt, const std::string& typed);

// A request to end a process, and the notice pgp answers it with.
struct StopRequest {
  const char* what;
  int code;  // the signal, or the console event
  const char* notice;
};

// The requests a test can make here: SIGINT and SIGTERM; on Windows Ctrl-C, the one console event
// that Wine can send.
std::vector<StopRequest> StopRequests();

// A process that runs while the test goes on: its standard input stays open, so that it waits
// at a prompt, and what it writes to standard error can be awaited. Killed if still running at
// the end.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  long pid() const;
  // Asks the process to end, as a user or the system would.
  void Send(const StopRequest& request);
  // True once standard error holds `text`; false when the process ended without writing it.
  bool AwaitError(const std::string& text);
  bool Running();
  // The exit code, or -1 when a signal ended the process.
  int Wait();
  // Ends the process at once, giving it no chance to clean up.
  void Kill();

 private:
  struct Process;  // the platform's
  std::filesystem::path scratch_;
  std::unique_ptr<Process> process_;
};

// The system's narrow text for `utf8` (the ANSI code page on Windows), in which programs are
// given their arguments and name files.
std::string Native(const std::string& utf8);
// The path as the system's narrow text.
std::string Text(const std::filesystem::path& path);

// Makes the files that programs make in `folder` readable by others unless a program prevents it:
// on POSIX systems the umask 022 (for this process and the programs it starts), on Windows an
// entry for everyone that the folder's files inherit, as a PGP folder that all the machine's
// users share has.
void LetOthersRead(const std::filesystem::path& folder);
// True when the file is readable by the user running the tests alone: mode 0600, or on Windows
// an access list that lets in no one else.
bool IsPrivate(const std::string& path);

// A new, empty folder for temporary files.
std::filesystem::path MakeTemporaryFolder();

// The program under test, and a GnuPG tool ("gpg", "gpgconf") as pgp finds it.
std::filesystem::path PgpProgram();
std::filesystem::path GnupgTool(const std::string& name);

// What pgp needs in its folder to run from there: itself, and on Windows the GnuPG programs
// that its GPGME finds beside it.
std::vector<std::filesystem::path> PgpInstallation();

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& text);
std::filesystem::path Fixture(const std::string& name);

// The two ways pgp writes an output: the anonymous file where the file system offers one, and
// the fixed partial name elsewhere.
using Writer = void (*)(const std::string&, std::string_view, int);
inline const std::pair<const char*, Writer> kWriters[] = {
    {"anonymous file", pgp26::WriteWholeFile},
    {"partial file", pgp26::WriteThroughPartialFile},
};

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
  // A temporary home with a small s2k count, holding the keys of the given fixture files.
  explicit TestHome(const std::vector<std::string>& fixtures = {"alice.asc", "bob.asc",
                                                                "carol-revoked.asc"});
  // An empty home, not even with an agent configuration, at `sub_path` in a new folder.
  static TestHome Bare(const std::string& sub_path);
  ~TestHome();
  TestHome(TestHome&& other) noexcept;
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of the file `name` (in the system's narrow text) in this home.
  std::string File(const std::string& name) const { return Text(path_ / name); }

  // pgp with PGPPATH set to this home, and the entries of `env` (NAME=VALUE).
  RunResult Pgp(const std::vector<std::string>& args, const std::string& input = "",
                const std::vector<std::string>& env = {}) const;
  // pgp in this home at a console, with the entries of `env`, where `typed` is typed once
  // `prompt` shows.
  ConsoleRun PgpAtConsole(const std::vector<std::string>& args, const std::string& typed,
                          const std::string& prompt = "Enter pass phrase:",
                          const std::vector<std::string>& env = {}) const;
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

// The long key IDs of the (sub)keys that `file` is encrypted to, sorted, as gpg lists them
// without any secret key.
std::vector<std::string> Recipients(const std::string& file);

// Alice's letter to Bob, encrypted and signed by gpg, as FILE.asc in the home; FILE itself is
// not left. Returns FILE.
std::string LetterToBob(const TestHome& home, const std::string& name);

// A long report to Bob, encrypted by gpg, alone in a folder of the home apart from the files
// GnuPG keeps: `plain` + ".asc" is there, `plain` is not.
struct LongReport {
  explicit LongReport(const TestHome& home);
  // The names in the folder other than the message's.
  std::vector<std::string> Beside() const;

  std::filesystem::path folder;
  std::string plain;
  std::string text;
};

}  // namespace pgp26_test

#endif  // QUILLET_PGP26_TESTS_TEST_HOME_H_
