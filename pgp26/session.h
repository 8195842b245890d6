// One run's connection to GnuPG: the home that holds the key rings, its agent, contexts that
// take pass phrases through the loopback (never a graphical prompt) and never from a cache, and
// user-ID lookup as PGP did it.
#ifndef QUILLET_PGP26_SESSION_H_
#define QUILLET_PGP26_SESSION_H_

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pgp26/agent.h"
#include "pgp26/gpgme_handles.h"
#include "pgp26/process.h"

namespace pgp26 {

// What a key found by user ID is wanted for.
enum class Usage { kAny, kEncrypt, kSign };

// True when `key` answers to `pattern` the way PGP looked keys up: "<addr>" is a whole address,
// "0x" and hex digits the end of a key ID, anything else a case-insensitive part of a user ID.
// An empty or blank pattern names no key, so it matches none.
bool MatchesUserId(gpgme_key_t key, std::string_view pattern);

class Session {
 public:
  // Prepares `home` for GnuPG. `pass_phrase` is the one given for this run, if any; without
  // it pass phrases are asked on the console.
  Session(const std::filesystem::path& home, std::optional<std::string> pass_phrase);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Context NewContext();

  bool HasPassPhrase() const { return pass_phrase_.has_value(); }
  const std::optional<std::string>& pass_phrase() const { return pass_phrase_; }
  void SetPassPhrase(std::string pass_phrase) { pass_phrase_ = std::move(pass_phrase); }

  // Runs `operation`, which must make its outputs afresh on each call, and runs it again after
  // a wrong pass phrase typed on the console, three tries in all. A given pass phrase gets one
  // try. Before each try the agent forgets its cached pass phrases, so that only the one given
  // to this run counts. Returns the last error; PassPhraseFailed tells whether the pass phrase
  // was refused (an error after it was accepted is not the pass phrase's fault).
  gpgme_error_t RunWithPassPhrase(const std::function<gpgme_error_t()>& operation);
  bool PassPhraseFailed() const { return pass_phrase_failed_; }

  // The keys of the public or the secret ring, in GnuPG's order.
  std::vector<Key> ListKeys(bool secret);

  // The first key of that ring that answers to `pattern` and can serve `usage`.
  Key FindKey(std::string_view pattern, bool secret, Usage usage);

  const std::filesystem::path& home() const { return home_; }

 private:
  // Stops the agent this run started and removes the alias; also run on an interrupt.
  void EndRun();
  static gpgme_error_t PassPhraseCallback(void* hook, const char* uid_hint,
                                          const char* passphrase_info, int prev_was_bad, int fd);
  gpgme_error_t AnswerPassPhrase(const char* uid_hint, bool prev_was_bad, int fd);

  std::filesystem::path home_;
  // The name GnuPG is given for home_ (system::GnupgHomeName): home_ itself as GnuPG takes it,
  // or a short alias when home_ is too long for the agent's socket names.
  std::string gnupg_home_;
  bool alias_ = false;
  std::optional<Agent> agent_;
  std::optional<OnInterrupt> cleanup_on_interrupt_;
  std::optional<std::string> pass_phrase_;
  int console_tries_ = 0;
  bool asked_ = false;
  bool refused_ = false;
  bool pass_phrase_failed_ = false;
};

}  // namespace pgp26

#endif  // QUILLET_PGP26_SESSION_H_
