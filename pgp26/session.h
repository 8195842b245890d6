// One run's connection to GnuPG: the home that holds the key rings, its agent, the one context
// that takes pass phrases through the loopback (never a graphical prompt) and never from a cache,
// and user-ID lookup as PGP did it.
#ifndef QUILLET_PGP26_SESSION_H_
#define QUILLET_PGP26_SESSION_H_

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

#include "pgp26/agent.h"
#include "pgp26/gpgme_handles.h"
#include "pgp26/process.h"

namespace pgp26 {

// What a key found by user ID is wanted for; signing takes its secret key too.
enum class Usage { kAny, kEncrypt, kSign };

// A user ID to find a key by, and what the key is wanted for.
struct Lookup {
  std::string pattern;
  Usage usage;
};

// True when `key` answers to `pattern` the way PGP looked keys up: "<addr>" is a whole address,
// "0x" and hex digits the end of a key ID, anything else a case-insensitive part of a user ID.
// An empty or blank pattern names no key, so it matches none.
bool MatchesUserId(gpgme_key_t key, std::string_view pattern);

// The keys of `ring`, in its order, that answer to the lookup's pattern and can serve its usage,
// each once however often `ring` lists it. Where the usage is signing, `ring` must come from a
// listing that marks the keys whose secret key is at hand (gpgme_key_t::secret).
std::vector<gpgme_key_t> UsableKeys(std::span<const gpgme_key_t> ring, const Lookup& lookup);

// The one key that a lookup by `pattern` found, or none when it found none. Between several keys
// pgp never chooses: two keys may carry the same address, and a short key ID is cheap to forge.
// It throws Failure with `code`, naming the keys with their fingerprints, by which the caller can
// name the one it means.
Key SoleKey(std::vector<Key> keys, const std::string& pattern, int code);

// True when GnuPG holds `key`, from Session::CertifiedKeys, valid under PGP's web of trust: a
// user ID of it is fully valid (certified by the user's own key or by enough trusted introducers,
// or the user's own key itself).
bool IsCertified(gpgme_key_t key);

class Session {
 public:
  // Prepares `home` for GnuPG and makes it the home of every GnuPG run of this process.
  // `pass_phrase` is the one given for this run, if any; without it pass phrases are asked on the
  // console.
  Session(const std::filesystem::path& home, std::optional<std::string> pass_phrase);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The run's context, which every operation uses in turn; a new operation discards the results
  // of the one before.
  gpgme_ctx_t context() const { return context_.get(); }

  bool HasPassPhrase() const { return pass_phrase_.has_value(); }
  const std::optional<std::string>& pass_phrase() const { return pass_phrase_; }
  void SetPassPhrase(std::string pass_phrase) { pass_phrase_ = std::move(pass_phrase); }

  // Notes which agent serves the home, so that one this run starts is stopped at its end. Called
  // before anything that may start an agent; the calls below that may do so call it themselves.
  void WatchAgent();

  // Runs `operation`, which must make its outputs afresh on each call, and runs it again after
  // a wrong pass phrase typed on the console, three tries in all. A given pass phrase gets one
  // try; when it is empty or refused, a person at a console is asked as above, as PGP 2.6 did,
  // and without a console the run fails. Before each try the agent forgets its cached pass phrases, so that only the one given
  // to this run counts, and after it again, so that no later user of the agent finds it. Returns the last error; PassPhraseFailed tells whether the pass phrase
  // was refused (an error after it was accepted is not the pass phrase's fault).
  gpgme_error_t RunWithPassPhrase(const std::function<gpgme_error_t()>& operation);
  bool PassPhraseFailed() const { return pass_phrase_failed_; }
  // Why the pass phrase failed, naming the key that needed it when GnuPG said which.
  std::string PassPhraseFailure() const;

  // The keys of the public or the secret ring, in GnuPG's order.
  std::vector<Key> ListKeys(bool secret);

  // The keys of that ring that answer to `pattern`, in GnuPG's order.
  std::vector<Key> MatchingKeys(std::string_view pattern, bool secret);

  // The public keys that answer to `pattern`, or the whole ring for an empty one, with their
  // certifications (each checked) and their validity under PGP's web of trust.
  std::vector<Key> CertifiedKeys(std::string_view pattern);

  // For each lookup, the keys of the public ring that UsableKeys gives for it; one search of the
  // ring finds them all.
  std::vector<std::vector<Key>> FindKeys(const std::vector<Lookup>& lookups);

  // The public key that the fingerprint or key ID `fpr` names, or none when no key or more than
  // one key has it.
  Key KeyNamed(const std::string& fpr);

  const std::filesystem::path& home() const { return home_; }

 private:
  // Stops the agent this run started and removes the alias; also run on an interrupt.
  void EndRun();
  Agent& agent();
  // How a ring is read: the public keys, the public keys with those that have their secret key
  // at hand marked (gpgme_key_t::secret), the secret keys alone, or the public keys with their
  // certifications and validity.
  enum class Listing { kPublic, kMarkingSecret, kSecret, kCertified };
  // The keys GnuPG finds for `searches`, or the whole ring when there are none; Keys throws where
  // Search returns the error.
  gpgme_error_t Search(const std::vector<std::string>& searches, Listing listing,
                       std::vector<Key>& keys);
  std::vector<Key> Keys(const std::vector<std::string>& searches, Listing listing);
  // The keys that may answer to `patterns`: those GnuPG finds for them, or the whole ring when
  // GnuPG's search could miss one.
  std::vector<Key> Candidates(const std::vector<std::string>& patterns, Listing listing);
  // The keys of the listing that answer to `pattern`.
  std::vector<Key> Matching(std::string_view pattern, Listing listing);
  static gpgme_error_t PassPhraseCallback(void* hook, const char* uid_hint,
                                          const char* passphrase_info, int prev_was_bad, int fd);
  gpgme_error_t AnswerPassPhrase(const char* uid_hint, bool prev_was_bad, int fd);

  std::filesystem::path home_;
  // The name GnuPG is given for home_ (system::GnupgHomeName): home_ itself as GnuPG takes it,
  // or a short alias when home_ is too long for the agent's socket names.
  std::string gnupg_home_;
  bool alias_ = false;
  Context context_;
  // Made by the first operation that may start an agent; guarded against the interrupt thread.
  std::mutex agent_mutex_;
  std::optional<Agent> agent_;
  std::optional<OnInterrupt> cleanup_on_interrupt_;
  std::optional<std::string> pass_phrase_;
  int console_tries_ = 0;
  // What was typed in this operation, and for which key: gpg may ask again for the same key
  // within one operation, for data that turns out to be damaged, without the answer being wrong.
  std::optional<std::pair<std::string, std::string>> typed_;
  bool asked_ = false;
  bool refused_ = false;
  bool pass_phrase_failed_ = false;
  // The given pass phrase was refused; the console is asked from then on.
  bool given_refused_ = false;
  // A pass phrase was needed with none given and no console to ask on.
  bool no_console_ = false;
  // The user ID of the key whose pass phrase was asked for last, as shown.
  std::string needed_for_;
};

}  // namespace pgp26

#endif  // QUILLET_PGP26_SESSION_H_
