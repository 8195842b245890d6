#include "pgp26/session.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "base/text.h"
#include "pgp26/console.h"
#include "pgp26/failure.h"
#include "pgp26/key_text.h"
#include "pgp26/system.h"

namespace pgp26 {

namespace {

using quillet::AsciiLower;

namespace fs = std::filesystem;

constexpr int kConsoleTries = 3;

// PGP's web of trust: the user's own keys (those made with -kg) are trusted ultimately, and a key
// is valid when one of them, or enough trusted introducers, certified it. Verification tells
// certified keys by it; encryption to a key the user names does not ask for it (commands.h).
constexpr char kTrustModel[] = "pgp";

bool IsHex(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

void PrepareHome(const fs::path& home) {
  std::error_code error;
  if (!fs::exists(home, error)) {
    fs::create_directories(home, error);
    fs::permissions(home, fs::perms::owner_all, error);
  }
  if (!fs::is_directory(home, error))
    throw Failure(kOtherError,
                  "The PGP directory '" + system::PathText(home) + "' does not exist.");
  // Caching stays off so that a pass phrase is never remembered from one run to the next.
  const fs::path conf = home / "gpg-agent.conf";
  if (fs::exists(conf, error)) return;
  std::ofstream out(conf, std::ios::binary);
  out << "default-cache-ttl 0\nmax-cache-ttl 0\nallow-loopback-pinentry\n";
  if (!out.flush()) throw Failure(kOtherError, "Cannot write '" + system::PathText(conf) + "'.");
}

// What GnuPG is asked for to find every key that answers to the non-blank `pattern`: a search
// that finds them all, with perhaps more that MatchesUserId then turns away; nothing when only the
// whole ring will do. A "*" search is GnuPG's substring search of the user IDs, with the same
// case folding (ASCII letters alone) on the same bytes; an address is such a part of its user
// ID. GnuPG looks keys up by the last 8 or 16 hex digits of a key's or subkey's fingerprint, or
// by all 40, but by no other number of digits.
// A backslash or a double quote may not reach gpg unchanged: on Windows GPGME hands the pattern
// over on a command line, whose quoting rules those two take part in.
std::optional<std::string> GnupgSearch(std::string_view pattern) {
  if (pattern.find_first_of("\\\"") != std::string_view::npos) return std::nullopt;
  const std::string utf8 = system::ToUtf8(pattern);
  const std::string wanted = AsciiLower(utf8);
  if (wanted.size() > 2 && wanted.starts_with("0x") && IsHex(wanted.substr(2))) {
    const std::size_t digits = wanted.size() - 2;
    if (digits == 8 || digits == 16 || digits == 40) return wanted;
    return std::nullopt;
  }
  const bool address = wanted.size() > 2 && wanted.front() == '<' && wanted.back() == '>';
  std::string search = "*";
  search += address ? std::string_view(utf8).substr(1, utf8.size() - 2) : std::string_view(utf8);
  return search;
}

bool IsBlank(std::string_view pattern) {
  return pattern.find_first_not_of(" \t") == std::string_view::npos;
}

// True when `key`, from a listing that marks secret keys where `usage` needs one, may be used
// for `usage`.
bool Serves(gpgme_key_t key, Usage usage) {
  if (usage == Usage::kAny) return true;
  if (key->revoked || key->expired || key->disabled || key->invalid) return false;
  return usage == Usage::kEncrypt ? key->can_encrypt : key->can_sign && key->secret;
}

}  // namespace

bool MatchesUserId(gpgme_key_t key, std::string_view pattern) {
  if (IsBlank(pattern)) return false;
  const std::string wanted = AsciiLower(system::ToUtf8(pattern));
  if (wanted.size() > 2 && wanted.starts_with("0x") && IsHex(wanted.substr(2))) {
    for (gpgme_subkey_t sub = key->subkeys; sub; sub = sub->next)
      if (sub->fpr && AsciiLower(sub->fpr).ends_with(wanted.substr(2))) return true;
    return false;
  }
  const bool address = wanted.size() > 2 && wanted.front() == '<' && wanted.back() == '>';
  const std::string_view inside = std::string_view(wanted).substr(1, wanted.size() - 2);
  for (gpgme_user_id_t uid = key->uids; uid; uid = uid->next) {
    if (address ? (uid->email && AsciiLower(uid->email) == inside)
                : (uid->uid && AsciiLower(uid->uid).find(wanted) != std::string::npos))
      return true;
  }
  return false;
}

std::vector<gpgme_key_t> UsableKeys(std::span<const gpgme_key_t> ring, const Lookup& lookup) {
  std::vector<gpgme_key_t> keys;
  for (const gpgme_key_t key : ring) {
    if (!MatchesUserId(key, lookup.pattern) || !Serves(key, lookup.usage)) continue;
    const bool listed = std::any_of(keys.begin(), keys.end(), [&](gpgme_key_t other) {
      return other == key || (other->fpr && key->fpr && std::string_view(other->fpr) == key->fpr);
    });
    if (!listed) keys.push_back(key);
  }
  return keys;
}

Key SoleKey(std::vector<Key> keys, const std::string& pattern, int code) {
  if (keys.size() < 2) return keys.empty() ? nullptr : std::move(keys.front());
  std::string message = "More than one key matches user ID \"" + pattern +
                        "\"; name the key by its fingerprint (0x and 40 hex digits).\n";
  for (const Key& key : keys) message += ListingLines(key.get(), false, true);
  message.pop_back();  // main ends the last line
  throw Failure(code, message);
}

bool IsCertified(gpgme_key_t key) {
  for (gpgme_user_id_t uid = key->uids; uid; uid = uid->next)
    if (!uid->revoked && !uid->invalid &&
        (uid->validity == GPGME_VALIDITY_FULL || uid->validity == GPGME_VALIDITY_ULTIMATE))
      return true;
  return false;
}

Session::Session(const fs::path& home, std::optional<std::string> pass_phrase)
    : home_(home), pass_phrase_(std::move(pass_phrase)) {
  PrepareHome(home_);
  const system::GnupgHome name = system::GnupgHomeName(home_);
  gnupg_home_ = name.name;
  alias_ = name.alias;
  cleanup_on_interrupt_.emplace([this] { EndRun(); });
  // Set for the process, the home is set once: GPGME asks gpg for its version again whenever
  // the home is set, and a context takes it from the process's settings without asking.
  if (const gpgme_error_t error =
          gpgme_set_engine_info(GPGME_PROTOCOL_OpenPGP, nullptr, gnupg_home_.c_str()))
    throw Failure(kOtherError, "Cannot set up GnuPG: " + ErrorText(error));
  context_ = NewContext(GPGME_PROTOCOL_OpenPGP);
  gpgme_ctx_t raw = context_.get();
  gpgme_error_t error = gpgme_set_pinentry_mode(raw, GPGME_PINENTRY_MODE_LOOPBACK);
  // gpg keeps conventional pass phrases in the agent's cache too, by the message's salt.
  if (!error) error = gpgme_set_ctx_flag(raw, "no-symkey-cache", "1");
  if (!error) error = gpgme_set_ctx_flag(raw, "trust-model", kTrustModel);
  if (error) throw Failure(kOtherError, "Cannot set up GnuPG: " + ErrorText(error));
  gpgme_set_keylist_mode(raw, GPGME_KEYLIST_MODE_LOCAL);
  gpgme_set_passphrase_cb(raw, &Session::PassPhraseCallback, this);
}

Session::~Session() {
  cleanup_on_interrupt_.reset();
  EndRun();
}

void Session::EndRun() {
  {
    const std::lock_guard lock(agent_mutex_);
    if (agent_) agent_->StopIfStarted();
  }
  std::error_code error;
  if (alias_) fs::remove(gnupg_home_, error);
}

Agent& Session::agent() {
  const std::lock_guard lock(agent_mutex_);
  // Nobody could reach an agent started under the alias by the home's own name, so whatever
  // agent serves the alias at the end goes.
  if (!agent_) agent_.emplace(gnupg_home_, alias_);
  return *agent_;
}

void Session::WatchAgent() {
  agent();
}

gpgme_error_t Session::PassPhraseCallback(void* hook, const char* uid_hint,
                                          const char* /*passphrase_info*/, int prev_was_bad,
                                          int fd) {
  return static_cast<Session*>(hook)->AnswerPassPhrase(uid_hint, prev_was_bad != 0, fd);
}

gpgme_error_t Session::AnswerPassPhrase(const char* uid_hint, bool prev_was_bad, int fd) {
  asked_ = true;
  if (prev_was_bad) {
    refused_ = true;
    Notice("Error:  Bad pass phrase.");
  }
  // The hint is the key ID followed by the user ID.
  const std::string hint = uid_hint ? uid_hint : "";
  const std::size_t blank = hint.find(' ');
  const std::string user =
      blank == std::string::npos ? std::string() : ShownUserId(hint.c_str() + blank + 1);
  needed_for_ = user;
  std::string phrase;
  const bool given = pass_phrase_ && !pass_phrase_->empty() && !given_refused_;
  if (given && !refused_) {
    phrase = *pass_phrase_;
  } else if (!prev_was_bad && typed_ && typed_->first == hint) {
    phrase = typed_->second;
  } else {
    // Without a pass phrase of its own the program reads the answers from standard input, as
    // scripts give them; a run given one asks only a person at a console.
    given_refused_ = given_refused_ || given;
    if (pass_phrase_ && !system::InputIsConsole()) {
      no_console_ = pass_phrase_->empty();
      return gpg_error(GPG_ERR_CANCELED);
    }
    if (console_tries_ >= kConsoleTries) return gpg_error(GPG_ERR_CANCELED);
    ++console_tries_;
    const std::string prompt =
        user.empty() ? std::string()
                     : "You need a pass phrase to unlock your secret key.\nKey for user ID \"" +
                           user + "\"\n\n";
    const std::optional<std::string> answer = AskSecret(prompt + "Enter pass phrase: ");
    if (!answer) return gpg_error(GPG_ERR_CANCELED);
    phrase = *answer;
    typed_.emplace(hint, phrase);
  }
  // GnuPG's own pass-phrase prompts give UTF-8 too, so a key serves both.
  phrase = system::ToUtf8(phrase) + '\n';
  if (gpgme_io_writen(fd, phrase.data(), phrase.size()) != 0) return gpg_error(GPG_ERR_CANCELED);
  return 0;
}

gpgme_error_t Session::RunWithPassPhrase(const std::function<gpgme_error_t()>& operation) {
  for (;;) {
    asked_ = refused_ = false;
    typed_.reset();
    agent().ForgetPassPhrases();
    const gpgme_error_t error = operation();
    typed_.reset();
    // Nor does an agent that caches (one the user runs) keep the pass phrase this run gave it.
    agent().ForgetPassPhrases();
    const gpgme_err_code_t code = gpgme_err_code(error);
    pass_phrase_failed_ =
        error && asked_ && (refused_ || code == GPG_ERR_BAD_PASSPHRASE || code == GPG_ERR_CANCELED);
    // gpg may refuse a given pass phrase without asking again.
    given_refused_ = given_refused_ || (pass_phrase_failed_ && pass_phrase_);
    const bool may_ask = !pass_phrase_ || (given_refused_ && system::InputIsConsole());
    if (!pass_phrase_failed_ || !may_ask || console_tries_ >= kConsoleTries) return error;
    if (!refused_) Notice("Error:  Bad pass phrase.");
  }
}

std::string Session::PassPhraseFailure() const {
  if (no_console_) return "No pass phrase given and no console to ask on.";
  return needed_for_.empty() ? "Error:  Bad pass phrase."
                             : "Error:  Bad pass phrase for the key of \"" + needed_for_ + "\".";
}

gpgme_error_t Session::Search(const std::vector<std::string>& searches, Listing listing,
                              std::vector<Key>& keys) {
  // gpg asks the agent which keys are secret, and starts one for that.
  if (listing != Listing::kPublic) WatchAgent();
  std::vector<const char*> patterns;
  for (const std::string& search : searches) patterns.push_back(search.c_str());
  patterns.push_back(nullptr);
  gpgme_ctx_t ctx = context();
  const gpgme_keylist_mode_t mode = GPGME_KEYLIST_MODE_LOCAL;
  gpgme_set_keylist_mode(ctx, listing == Listing::kMarkingSecret
                                  ? mode | GPGME_KEYLIST_MODE_WITH_SECRET
                              : listing == Listing::kCertified ? mode | GPGME_KEYLIST_MODE_SIGS
                                                               : mode);
  // Other listings leave the keys' validity unused, and without a trust model gpg reads the trust
  // database for it far less: a fifth of the listing's time with 10,000 keys. Revoked, expired
  // and disabled keys are still told.
  gpgme_error_t error = gpgme_set_ctx_flag(ctx, "trust-model",
                                           listing == Listing::kCertified ? kTrustModel : "always");
  if (!error)
    error =
        gpgme_op_keylist_ext_start(ctx, patterns.data(), listing == Listing::kSecret ? 1 : 0, 0);
  while (!error) {
    gpgme_key_t key = nullptr;
    error = gpgme_op_keylist_next(ctx, &key);
    if (!error) keys.emplace_back(key);
  }
  gpgme_op_keylist_end(ctx);
  gpgme_set_keylist_mode(ctx, mode);
  gpgme_set_ctx_flag(ctx, "trust-model", kTrustModel);
  return gpgme_err_code(error) == GPG_ERR_EOF ? 0 : error;
}

std::vector<Key> Session::Keys(const std::vector<std::string>& searches, Listing listing) {
  std::vector<Key> keys;
  if (const gpgme_error_t error = Search(searches, listing, keys))
    throw Failure(kKeyViewError, "Cannot read the key ring: " + ErrorText(error));
  return keys;
}

std::vector<Key> Session::ListKeys(bool secret) {
  return Keys({}, secret ? Listing::kSecret : Listing::kPublic);
}

std::vector<Key> Session::Candidates(const std::vector<std::string>& patterns, Listing listing) {
  std::vector<std::string> searches;
  bool whole_ring = false;
  for (const std::string& pattern : patterns) {
    if (IsBlank(pattern)) continue;
    std::optional<std::string> search = GnupgSearch(pattern);
    whole_ring = whole_ring || !search;
    if (search) searches.push_back(std::move(*search));
  }
  if (whole_ring) return Keys({}, listing);
  if (searches.empty()) return {};  // blank patterns name no key
  return Keys(searches, listing);
}

std::vector<Key> Session::Matching(std::string_view pattern, Listing listing) {
  std::vector<Key> keys;
  for (Key& key : Candidates({std::string(pattern)}, listing))
    if (MatchesUserId(key.get(), pattern)) keys.push_back(std::move(key));
  return keys;
}

std::vector<Key> Session::MatchingKeys(std::string_view pattern, bool secret) {
  return Matching(pattern, secret ? Listing::kSecret : Listing::kPublic);
}

std::vector<Key> Session::CertifiedKeys(std::string_view pattern) {
  return pattern.empty() ? Keys({}, Listing::kCertified) : Matching(pattern, Listing::kCertified);
}

std::vector<std::vector<Key>> Session::FindKeys(const std::vector<Lookup>& lookups) {
  std::vector<std::string> patterns;
  bool signing = false;
  for (const Lookup& lookup : lookups) {
    patterns.push_back(lookup.pattern);
    signing = signing || lookup.usage == Usage::kSign;
  }
  // A secret key is found in the public ring as one that has it at hand: the same keys as the
  // secret ring holds, without a second search.
  const std::vector<Key> candidates =
      Candidates(patterns, signing ? Listing::kMarkingSecret : Listing::kPublic);
  std::vector<gpgme_key_t> ring;
  for (const Key& candidate : candidates) ring.push_back(candidate.get());
  std::vector<std::vector<Key>> found;
  for (const Lookup& lookup : lookups) {
    std::vector<Key>& keys = found.emplace_back();
    for (const gpgme_key_t key : UsableKeys(ring, lookup)) keys.push_back(ShareKey(key));
  }
  return found;
}

Key Session::KeyNamed(const std::string& fpr) {
  // Decided as gpgme_get_key decides; that one would ask gpg for its version once more.
  std::vector<Key> keys;
  if (fpr.size() < 8 || Search({fpr}, Listing::kPublic, keys) || keys.empty()) return nullptr;
  for (const Key& other : keys)
    if (!other->fpr || !keys.front()->fpr || std::string_view(other->fpr) != keys.front()->fpr)
      return nullptr;
  return std::move(keys.front());
}

}  // namespace pgp26
